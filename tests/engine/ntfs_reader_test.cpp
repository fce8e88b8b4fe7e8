#include "engine/ntfs_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <unordered_map>

#include "ondisk/ntfs_boot.h"
#include "ondisk/ntfs_record.h"
#include "ondisk/ntfs_runlist.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/ntfs_builder.h"

namespace vt {
namespace test {
namespace {

constexpr uint32_t kRoot = 5;

TEST(NtfsRecord, RecordSizeFromTheBootSector) {
  EXPECT_EQ(ntfs::NtfsUnitBytes(static_cast<int8_t>(0xF6), 4096), 1024u);
  EXPECT_EQ(ntfs::NtfsUnitBytes(static_cast<int8_t>(0xF4), 4096), 4096u);
  EXPECT_EQ(ntfs::NtfsUnitBytes(2, 4096), 8192u);
  EXPECT_EQ(ntfs::NtfsUnitBytes(1, 512), 512u);
  EXPECT_EQ(ntfs::NtfsUnitBytes(static_cast<int8_t>(0x80), 4096), 0u);  // 2^128 does not exist
}

TEST(NtfsRecord, RunLookupAcrossSparseRuns) {
  const uint8_t sparse[] = {0x11, 0x04, 0x20, 0x01, 0x08, 0x11, 0x02, 0x10, 0x00};
  std::vector<ntfs::CRun> runs;
  ASSERT_EQ(ERROR_SUCCESS, ntfs::DecodeRunList(sparse, sizeof(sparse), 0, &runs));
  ASSERT_EQ(runs.size(), 3u);
  ASSERT_NE(ntfs::FindRun(runs, 5), nullptr);
  EXPECT_TRUE(ntfs::FindRun(runs, 5)->IsSparse());
  EXPECT_EQ(ntfs::FindRun(runs, 13)->m_nLcn, 0x30u);  // relative to the last real run
  EXPECT_EQ(ntfs::FindRun(runs, 14), nullptr);        // past the runs
}

TEST(NtfsRecord, LenientFixupsPutSectorEndsBackWithoutTheCheck) {
  std::vector<uint8_t> record = CNtfsRecordBuilder().StandardInformation(0).Build(true);
  record[510] = 0x09;  // a torn sector: the checked rule refuses it, the lenient one reads it
  std::vector<uint8_t> plain = CNtfsRecordBuilder().StandardInformation(0).Build(false);
  std::vector<uint8_t> checked = record;
  EXPECT_EQ(ERROR_FILE_CORRUPT, ntfs::ApplyFixups(checked.data(), checked.size()));
  ASSERT_EQ(ERROR_SUCCESS,
            ntfs::ApplyFixups(record.data(), record.size(), ntfs::FixupRule::kLenient));
  EXPECT_EQ(record[510], plain[510]);
  EXPECT_EQ(record[1022], plain[1022]);
  // An array outside the record is refused.
  record[4] = 0xFE;  // the array would start at 1022 and need 6 bytes
  record[5] = 0x03;
  EXPECT_EQ(ERROR_FILE_CORRUPT,
            ntfs::ApplyFixups(record.data(), record.size(), ntfs::FixupRule::kLenient));
}

TEST(NtfsRecord, AttributeWalkStopsAtDamage) {
  std::vector<uint8_t> record =
      CNtfsRecordBuilder().StandardInformation(0).FileName(u"a", kRoot, 1, false).Build();
  ASSERT_EQ(ntfs::WalkAttributes(record.data(), record.size()).size(), 2u);
  // A length running past the record ends the walk at that attribute.
  const size_t second = ntfs::WalkAttributes(record.data(), record.size())[1].m_nOffset;
  record[second + 4] = 0xFF;
  record[second + 5] = 0xFF;
  EXPECT_EQ(ntfs::WalkAttributes(record.data(), record.size()).size(), 1u);
  record[second + 4] = 0;
  record[second + 5] = 0;
  EXPECT_EQ(ntfs::WalkAttributes(record.data(), record.size()).size(), 1u);
}

class NtfsProcess : public EngineTest {
 protected:
  NtfsProcess() {
    drive.m_strDrive = "C:\\";
    drive.m_bNtfs = true;
    SetCurrentDrive(&drive);
    engine->m_strDrive = "C:\\";
    engine->m_bNtfs = true;
  }
  void Process(uint32_t r, const std::vector<uint8_t>& record) {
    CNtfsReader reader(*engine, engine->m_files, engine->m_dirMap);
    reader.SetGeometry(512, 8);
    CFileItem item;
    reader.ProcessRecord(r, record.data(), record.size(), item);
  }
  const CFileItem* Last() const {
    return engine->m_files.IsEmpty() ? nullptr : &engine->m_files.back();
  }
};

TEST_F(NtfsProcess, Win32NameWinsOverTheDosName) {
  Process(40, CNtfsRecordBuilder()
                  .FileName(u"LONGFI~1.TXT", kRoot, 2, false)
                  .FileName(u"Long file name.txt", kRoot, 1, false)
                  .NonResident(0x80, {{100, 2}}, 5000)
                  .Build());
  ASSERT_NE(Last(), nullptr);
  EXPECT_EQ(Last()->m_strName, "Long file name.txt");
  Process(41, CNtfsRecordBuilder()
                  .FileName(u"Long file name 2.txt", kRoot, 1, false)
                  .FileName(u"LONGFI~2.TXT", kRoot, 2, false)
                  .NonResident(0x80, {{200, 2}}, 5000)
                  .Build());
  EXPECT_EQ(Last()->m_strName, "Long file name 2.txt");
  // POSIX and DOS only: the last one stays.
  Process(42, CNtfsRecordBuilder()
                  .FileName(u"posix", kRoot, 0, false)
                  .FileName(u"POSIX~1", kRoot, 2, false)
                  .NonResident(0x80, {{300, 1}}, 10)
                  .Build());
  EXPECT_EQ(Last()->m_strName, "POSIX~1");
  EXPECT_EQ(Last()->m_nRecord, 42u);
  EXPECT_EQ(Last()->m_nFolder, static_cast<int32_t>(kRoot));
}

TEST_F(NtfsProcess, ExtentsSizesAndFlags) {
  Process(50, CNtfsRecordBuilder()
                  .StandardInformation(0x20)
                  .FileName(u"frag.bin", kRoot, 3, false)
                  .NonResident(0x80, {{100, 4}, {104, 2}, {-1, 3}, {500, 1}}, 40000)
                  .Build());
  const CFileItem* f = Last();
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(f->m_fragments.GetSize(), 2u);  // 100..105 merged, the hole skipped
  EXPECT_EQ(f->m_fragments[0].m_nClusters, 6u);
  EXPECT_EQ(f->m_fragments[1].m_nLcn, 500u);
  EXPECT_EQ(f->m_nFirstLcn, 100u);
  EXPECT_EQ(f->m_nSize, 40000u);
  EXPECT_EQ(f->m_wFlags & (FI_VIRTUAL | FI_UNMOVABLE | FI_DIRECTORY), 0);
  EXPECT_EQ(f->m_ftLastWrite.dwHighDateTime, 0x01D00000u);

  Process(51, CNtfsRecordBuilder()
                  .FileName(u"packed.bin", kRoot, 1, false)
                  .NonResident(0x80, {{700, 4}, {-1, 12}}, 65536, true)
                  .Build());
  EXPECT_NE(Last()->m_wFlags & FI_VIRTUAL, 0);
  EXPECT_EQ(drive.m_nFiles, 2u);
}

TEST_F(NtfsProcess, ResidentFilesAreCountedNotStored) {
  Process(60, CNtfsRecordBuilder().FileName(u"tiny.txt", kRoot, 1, false).ResidentData(20).Build());
  EXPECT_EQ(Last(), nullptr);
  EXPECT_EQ(drive.m_nFiles, 1u);
}

TEST_F(NtfsProcess, ResidentFoldersAreStoredAndMapped) {
  Process(70, CNtfsRecordBuilder().FileName(u"Small", kRoot, 1, true).Build());
  ASSERT_NE(Last(), nullptr);
  EXPECT_EQ(Last()->m_fragments.GetSize(), 0u);
  EXPECT_NE(Last()->m_wFlags & FI_DIRECTORY, 0);
  ASSERT_EQ(engine->m_dirMap.count(70), 1u);
  EXPECT_EQ(drive.m_nFolders, 1u);
  Process(71, CNtfsRecordBuilder()
                  .FileName(u"Big", kRoot, 1, true)
                  .NonResident(0xA0, {{900, 2}}, 8192, false, 0, -1, u"$I30")
                  .Build());
  EXPECT_EQ(Last()->m_fragments.GetSize(), 1u);
  EXPECT_EQ(Last()->m_nSize, 8192u);
}

TEST_F(NtfsProcess, AttributeListsLeaveExtentsForLater) {
  Process(80, CNtfsRecordBuilder()
                  .StandardInformation(0)
                  .AttributeList()
                  .FileName(u"huge.bin", kRoot, 1, false)
                  .NonResident(0x80, {{100, 4}}, 16384)
                  .Build());
  ASSERT_NE(Last(), nullptr);
  EXPECT_NE(Last()->m_wFlags & FI_NEEDS_EXTENTS, 0);
  EXPECT_EQ(Last()->m_fragments.GetSize(), 0u);
}

TEST_F(NtfsProcess, SystemFilesAreUnmovable) {
  Process(2, CNtfsRecordBuilder()
                 .StandardInformation(0x06)
                 .FileName(u"$LogFile", kRoot, 3, false)
                 .NonResident(0x80, {{1000, 16}}, 65536)
                 .Build());
  ASSERT_NE(Last(), nullptr);
  EXPECT_NE(Last()->m_wFlags & FI_UNMOVABLE, 0);
  EXPECT_EQ(Last()->m_nSize, 16u * 8 * 512);  // sectors per cluster and sector size of the reader
  Process(900, CNtfsRecordBuilder()
                   .StandardInformation(0x20)
                   .FileName(u"$notes.txt", kRoot, 1, false)
                   .NonResident(0x80, {{1100, 1}}, 100)
                   .Build());
  ASSERT_NE(Last(), nullptr);
  EXPECT_EQ(Last()->m_strName, "$notes.txt");
  EXPECT_EQ(Last()->m_wFlags & FI_UNMOVABLE, 0);
}

TEST_F(NtfsProcess, VcnOutsideTheRunsAbandonsTheRecord) {
  // The attribute claims 10 clusters, its runs hold 4.
  Process(90, CNtfsRecordBuilder()
                  .FileName(u"broken.bin", kRoot, 1, false)
                  .NonResident(0x80, {{100, 4}}, 40960, false, 0, 9)
                  .Build());
  EXPECT_EQ(Last(), nullptr);
  EXPECT_EQ(drive.m_nFiles, 0u);
}

TEST_F(NtfsProcess, FolderPathsThroughTheDirectoryMap) {
  Process(kRoot, CNtfsRecordBuilder().FileName(u".", kRoot, 3, true).Build());
  Process(700, CNtfsRecordBuilder().FileName(u"Users", kRoot, 1, true).Build());
  Process(900, CNtfsRecordBuilder().FileName(u"x", 700, 1, true).Build());
  Process(950, CNtfsRecordBuilder()
                   .FileName(u"a.txt", 900, 1, false)
                   .NonResident(0x80, {{5, 1}}, 9)
                   .Build());
  EXPECT_EQ(engine->GetItemPath(*Last()), "C:\\Users\\x\\a.txt");
  EXPECT_EQ(engine->GetNtfsFolderPath(kRoot), "C:\\");
  EXPECT_EQ(engine->GetNtfsFolderPath(12345), "");  // unknown parent: no path
  // A loop has no path, and does not hang.
  engine->m_dirMap[800].m_strName = "loopA";
  engine->m_dirMap[800].m_nFolder = 801;
  engine->m_dirMap[801].m_strName = "loopB";
  engine->m_dirMap[801].m_nFolder = 800;
  EXPECT_EQ(engine->GetNtfsFolderPath(800), "");
  // A chain deeper than 1,024 folders has no path either.
  for (uint32_t r = 2000; r < 3100; ++r) {
    engine->m_dirMap[r].m_strName = "d";
    engine->m_dirMap[r].m_nFolder = static_cast<int32_t>(r == 2000 ? kRoot : r - 1);
  }
  EXPECT_EQ(engine->GetNtfsFolderPath(2500).size(), 3u + 501 * 2);
  EXPECT_EQ(engine->GetNtfsFolderPath(3099), "");
}

// A whole volume: boot sector and MFT in the raw bytes, records by number.
class NtfsScan : public EngineTest {
 protected:
  static constexpr uint64_t kMftLcn = 4;
  NtfsScan() {
    volume.fsName = "NTFS";
    volume.totalClusters = 4000;
    volume.used.assign(4000, 0);
    volume.raw.assign((kMftLcn * 4096) + 64 * 1024, 0);
    uint8_t* boot = volume.raw.data();
    std::memcpy(boot + 3, "NTFS    ", 8);
    boot[0x0B] = 0x00;
    boot[0x0C] = 0x02;  // 512 bytes per sector
    boot[0x0D] = 8;
    boot[0x28] = 0x80;  // 4000 clusters and more
    boot[0x29] = 0x7D;
    boot[0x30] = static_cast<uint8_t>(kMftLcn);
    boot[0x40] = 0xF6;  // 1024-byte records
    boot[0x44] = 0xF4;  // 4096-byte index blocks
  }
  // Record 0 with the MFT bitmap marking the given records in use.
  void SetMft(const std::vector<uint32_t>& inUse, uint32_t recordCount) {
    std::vector<uint8_t> bits((recordCount + 7) / 8, 0);
    for (uint32_t r : inUse) bits[r / 8] |= static_cast<uint8_t>(1u << (r % 8));
    std::vector<uint8_t> bitmap(bits);
    CNtfsRecordBuilder b;
    b.FileName(u"$MFT", kRoot, 3, false).NonResident(0x80, {{kMftLcn, 16}}, recordCount * 1024ull);
    std::vector<uint8_t> record = b.Build();
    // Append a resident $BITMAP by rebuilding with it.
    CNtfsRecordBuilder withBitmap;
    withBitmap.FileName(u"$MFT", kRoot, 3, false)
        .NonResident(0x80, {{kMftLcn, 16}}, recordCount * 1024ull)
        .ResidentData(static_cast<uint32_t>(bits.size()), 0xB0);
    record = withBitmap.Build();
    // ResidentData fills with 'A'; put the real bits in.
    const std::vector<ntfs::CAttribute> found = ntfs::WalkAttributes(record.data(), record.size());
    const ntfs::CAttribute* attr = ntfs::FindUnnamed(found, 0xB0);
    ASSERT_NE(attr, nullptr);
    std::memcpy(record.data() + attr->m_nOffset + attr->m_nValueOffset, bits.data(), bits.size());
    std::vector<uint8_t> raw0 = record;
    std::memcpy(volume.raw.data() + kMftLcn * 4096, raw0.data(), raw0.size());
    volume.records[0] = record;
  }
  bool Scan() {
    if (!Open()) return false;
    CNtfsReader reader(*engine, engine->m_files, engine->m_dirMap);
    return reader.ScanVolume(engine->m_hVolume.Get());
  }
};

TEST_F(NtfsScan, ReadsEveryRecordInUse) {
  SetMft({0, 5, 40, 41, 43}, 64);
  volume.records[5] = CNtfsRecordBuilder().FileName(u".", kRoot, 3, true).Build();
  volume.records[40] = CNtfsRecordBuilder()
                           .FileName(u"a.bin", kRoot, 1, false)
                           .NonResident(0x80, {{100, 2}}, 5000)
                           .Build();
  volume.records[41] = CNtfsRecordBuilder()
                           .FileName(u"ext", kRoot, 1, false)
                           .NonResident(0x80, {{200, 2}}, 5000)
                           .BaseReference(40)
                           .Build();
  // Record 43 is asked for but 42 comes back (the nearest in use below): skipped.
  volume.records[42] = CNtfsRecordBuilder()
                           .FileName(u"stale.bin", kRoot, 1, false)
                           .NonResident(0x80, {{300, 1}}, 9)
                           .Build();
  ASSERT_TRUE(Scan());
  std::vector<std::string> names;
  for (const auto& item : engine->m_files) names.push_back(item.m_strName);
  EXPECT_EQ(names, (std::vector<std::string>{"$MFT", ".", "a.bin"}));
  EXPECT_EQ(volume.recordRequests, (std::vector<uint64_t>{0, 5, 40, 41, 43}));
  EXPECT_EQ(sink.ProgressTexts(PROGRESS_TEXT), (std::vector<std::string>{"Analyzing drive: C:\\"}));
  EXPECT_EQ(sink.ProgressValues(PROGRESS_RANGE).back(), 64u);
}

// A reply whose record length claims more than the bytes returned holds the
// rest of the buffer from the record before: the record is skipped.
TEST_F(NtfsScan, ARecordReplyShorterThanItsLengthIsSkipped) {
  SetMft({0, 40, 41}, 64);
  volume.records[40] = CNtfsRecordBuilder()
                           .FileName(u"a.bin", kRoot, 1, false)
                           .NonResident(0x80, {{100, 2}}, 5000)
                           .Build();
  volume.records[41] = CNtfsRecordBuilder()
                           .FileName(u"b.bin", kRoot, 1, false)
                           .NonResident(0x80, {{200, 2}}, 5000)
                           .Build();
  volume.claimedRecordLength[41] = 2048;
  ASSERT_TRUE(Scan());
  std::vector<std::string> names;
  for (const auto& item : engine->m_files) names.push_back(item.m_strName);
  EXPECT_EQ(names, (std::vector<std::string>{"$MFT", "a.bin"}));
}

// The scan fills one item record after record: nothing of a record may
// stay for the next (fragments, flags, sizes, a name longer than the next),
// also after a record abandoned part-way. Each item must be what the record
// alone gives through a fresh item.
TEST_F(NtfsScan, OneItemServesEveryRecordAsAFreshOneWould) {
  std::map<uint32_t, std::vector<uint8_t>> records;
  records[5] = CNtfsRecordBuilder().FileName(u".", kRoot, 3, true).Build();
  records[40] =
      CNtfsRecordBuilder()
          .StandardInformation(0x20)
          .FileName(u"FRAGME~1.BIN", kRoot, 2, false)
          .FileName(u"fragmented file with a long name.bin", kRoot, 1, false)
          .NonResident(0x80, {{100, 4}, {104, 2}, {-1, 3}, {500, 1}, {900, 7}}, 60000, true)
          .Build();
  records[41] = CNtfsRecordBuilder().FileName(u"Grüße", kRoot, 1, true).Build();
  // A run list that does not decode after the name: abandoned, not counted.
  std::vector<uint8_t> broken = CNtfsRecordBuilder()
                                    .FileName(u"broken with runs.bin", kRoot, 1, false)
                                    .NonResident(0x80, {{300, 2}, {400, 1}}, 9000, false, 0, 9)
                                    .Build();
  records[42] = broken;
  records[43] = CNtfsRecordBuilder()
                    .FileName(u"\U0001F600 \xD800x.bin", 41, 1, false)
                    .NonResident(0x80, {{700, 1}}, 100)
                    .Build();
  // U+0141 looks like ASCII in its low byte.
  records[44] = CNtfsRecordBuilder()
                    .FileName(u"Big \u0141", kRoot, 1, true)
                    .NonResident(0xA0, {{800, 2}}, 8192, false, 0, -1, u"$I30")
                    .Build();
  records[45] = CNtfsRecordBuilder().FileName(u"tiny", 44, 1, false).ResidentData(20).Build();
  records[46] = CNtfsRecordBuilder()
                    .StandardInformation(0x06)
                    .FileName(std::u16string(255, u'\u00e9'), 44, 1, false)
                    .AttributeList()
                    .NonResident(0x80, {{1000, 3}}, 12000)
                    .Build();
  records[47] =
      CNtfsRecordBuilder().FileName(u"z", 44, 0, false).NonResident(0x80, {{1200, 1}}, 1).Build();
  std::vector<uint32_t> used = {0};
  for (const auto& [r, record] : records) {
    used.push_back(r);
    volume.records[r] = record;
  }
  SetMft(used, 64);
  ASSERT_TRUE(Scan());

  CDriveData alone;
  alone.m_strDrive = "C:\\";
  SetCurrentDrive(&alone);
  CGrowableArray<CFileItem> expected;
  std::unordered_map<uint32_t, CFileItem> dirs;
  for (const auto& [r, record] : records) {
    CNtfsReader fresh(*engine, expected, dirs);
    fresh.SetGeometry(512, 8);
    CFileItem item;
    fresh.ProcessRecord(r, record.data(), record.size(), item);
  }
  SetCurrentDrive(&drive);
  ASSERT_EQ(engine->m_files.GetSize(), expected.GetSize() + 1);  // and $MFT
  for (size_t i = 0; i < expected.GetSize(); ++i) {
    const CFileItem& a = engine->m_files[i + 1];
    const CFileItem& b = expected[i];
    SCOPED_TRACE(b.m_strName);
    EXPECT_EQ(a.m_strName, b.m_strName);
    EXPECT_EQ(a.m_nRecord, b.m_nRecord);
    EXPECT_EQ(a.m_wFlags, b.m_wFlags);
    EXPECT_EQ(a.m_nSize, b.m_nSize);
    EXPECT_EQ(a.m_nFirstLcn, b.m_nFirstLcn);
    EXPECT_EQ(a.m_nFolder, b.m_nFolder);
    EXPECT_EQ(a.m_ftLastWrite.dwLowDateTime, b.m_ftLastWrite.dwLowDateTime);
    ASSERT_EQ(a.m_fragments.GetSize(), b.m_fragments.GetSize());
    for (size_t k = 0; k < a.m_fragments.GetSize(); ++k) {
      EXPECT_EQ(a.m_fragments[k].m_nLcn, b.m_fragments[k].m_nLcn);
      EXPECT_EQ(a.m_fragments[k].m_nClusters, b.m_fragments[k].m_nClusters);
    }
  }
  EXPECT_EQ(engine->m_dirMap.size(), dirs.size());
  EXPECT_EQ(drive.m_nFiles, alone.m_nFiles + 1);
  EXPECT_EQ(drive.m_nFolders, alone.m_nFolders);
  // And what they are: names converted as the system shows them, the
  // fragmented file's extents merged, the folder after it without any.
  std::string longest;
  for (int k = 0; k < 255; ++k) longest += "\xC3\xA9";
  std::vector<std::string> names;
  for (const CFileItem& f : expected) names.push_back(f.m_strName);
  EXPECT_EQ(names, (std::vector<std::string>{".", "fragmented file with a long name.bin", "Grüße",
                                             "\xF0\x9F\x98\x80 \xEF\xBF\xBDx.bin", "Big \xC5\x81",
                                             longest, "z"}));
}

TEST_F(NtfsScan, CheckpointsTenTimesAScan) {
  std::vector<uint32_t> used;
  for (uint32_t r = 0; r < 100; ++r) used.push_back(r);
  SetMft(used, 100);
  ASSERT_TRUE(Scan());
  // Every tenth record: ten map rebuilds, the byte count on every second.
  EXPECT_EQ(map.rebuildsAtFileCount.size(), 10u);
  EXPECT_EQ(sink.ProgressValues(PROGRESS_PERCENT), (std::vector<uint64_t>{0, 20, 40, 60, 80}));
}

TEST_F(NtfsScan, BadBootSectorAndMissingBitmap) {
  SetMft({0}, 8);
  for (int i = 3; i < 7; ++i) {
    uint8_t saved = volume.raw[i];
    volume.raw[i] ^= 0x20;
    EXPECT_FALSE(Scan());
    EXPECT_EQ(prompt.Texts().back(), "Invalid signature found when reading boot block.");
    volume.raw[i] = saved;
  }
  // Record 0 without a bitmap, and none in records 1 to 31.
  std::vector<uint8_t> record = CNtfsRecordBuilder()
                                    .FileName(u"$MFT", kRoot, 3, false)
                                    .NonResident(0x80, {{kMftLcn, 16}}, 8 * 1024)
                                    .Build();
  std::memcpy(volume.raw.data() + kMftLcn * 4096, record.data(), record.size());
  EXPECT_FALSE(Scan());
  EXPECT_EQ(prompt.Texts().back(), "Error loading NTFS $Bitmap.");
  // A bitmap as the first attribute of record 3 serves instead; N = 8 x its size.
  std::vector<uint8_t> holder = CNtfsRecordBuilder().ResidentData(2, 0xB0).Build();
  std::memcpy(volume.raw.data() + kMftLcn * 4096 + 3 * 1024, holder.data(), holder.size());
  volume.records[0] = record;
  EXPECT_TRUE(Scan());
  EXPECT_EQ(sink.ProgressValues(PROGRESS_RANGE).back(), 16u);
}

TEST_F(NtfsScan, AnalysisAddsReservedAreasAndCompletesAttributeLists) {
  SetMft({0,  5,  30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40,
          41, 42, 43, 44, 45, 46, 47, 48, 49, 50, 51, 52},
         64);
  volume.records[5] = CNtfsRecordBuilder().FileName(u".", kRoot, 3, true).Build();
  for (uint32_t r = 30; r < 52; ++r)
    volume.records[r] = CNtfsRecordBuilder()
                            .FileName(std::u16string(u"f") + static_cast<char16_t>(u'A' + (r - 30)),
                                      kRoot, 1, false)
                            .NonResident(0x80, {{100 + r * 2, 1}}, 100)
                            .Build();
  volume.records[52] =
      CNtfsRecordBuilder().AttributeList().FileName(u"listed.bin", kRoot, 1, false).Build();
  volume.root.AddFile("listed.bin", 3 * 4096, {{1, 3000}, {3, 3100}});
  volume.hasNtfsData = true;
  volume.ntfsData.BytesPerCluster = 4096;
  volume.ntfsData.MftValidDataLength.QuadPart = 64 * 1024;
  volume.ntfsData.MftStartLcn.QuadPart = kMftLcn;
  volume.ntfsData.Mft2StartLcn.QuadPart = 2000;
  volume.ntfsData.MftZoneStart.QuadPart = 20;
  volume.ntfsData.MftZoneEnd.QuadPart = 500;
  ASSERT_TRUE(Analyze());
  const CFileItem* listed = nullptr;
  for (const auto& item : engine->m_files)
    if (item.m_strName == "listed.bin") listed = &item;
  ASSERT_NE(listed, nullptr);
  ASSERT_EQ(listed->m_fragments.GetSize(), 2u);  // read by path after the scan
  EXPECT_EQ(listed->m_fragments[1].m_nLcn, 3100u);

  const size_t n = engine->m_files.GetSize();
  ASSERT_GE(n, 3u);
  EXPECT_EQ(engine->m_files[n - 3].m_strName, "$MFT");
  EXPECT_EQ(engine->m_files[n - 2].m_strName, "$MFT2");
  EXPECT_EQ(engine->m_files[n - 1].m_strName, "$MFT:MIRROR");
  EXPECT_EQ(engine->m_files[n - 1].m_nFirstLcn, 2000u);
  EXPECT_EQ(engine->m_files[n - 1].m_fragments[0].m_nClusters, 16u);
  EXPECT_EQ(engine->m_files[n - 2].m_fragments[0].m_nClusters, 480u);
  EXPECT_NE(engine->m_files[n - 2].m_wFlags & FI_UNMOVABLE, 0);
  EXPECT_EQ(engine->m_folders.back(), "C:\\");
  EXPECT_EQ(engine->m_files[n - 2].m_nFolder, static_cast<int32_t>(engine->m_folders.size() - 1));
}

TEST_F(NtfsScan, NamesKeptInExtensionRecordsAreFound) {
  // Some writers move the names out of a full base record; the file must
  // still be listed (and so be defragmented).
  SetMft({0, 5, 40, 41, 42}, 64);
  volume.records[5] = CNtfsRecordBuilder().FileName(u".", kRoot, 3, true).Build();
  volume.records[40] = CNtfsRecordBuilder()
                           .StandardInformation(0)
                           .AttributeList({{0x10, 40}, {0x30, 41}, {0x80, 42}})
                           .Build();
  volume.records[41] =
      CNtfsRecordBuilder().FileName(u"moved name.bin", kRoot, 3, false).BaseReference(40).Build();
  volume.records[42] =
      CNtfsRecordBuilder().NonResident(0x80, {{100, 2}, {200, 2}}, 16384).BaseReference(40).Build();
  volume.root.AddFile("moved name.bin", 16384, {{2, 100}, {4, 200}});
  ASSERT_TRUE(Analyze());
  const CFileItem* moved = nullptr;
  for (const auto& item : engine->m_files)
    if (item.m_strName == "moved name.bin") moved = &item;
  ASSERT_NE(moved, nullptr);
  EXPECT_EQ(moved->m_nRecord, 40u);
  EXPECT_NE(moved->m_wFlags & FI_NEEDS_EXTENTS, 0);
  // Among the first 23 items, but not a metadata record: its extents are read.
  ASSERT_EQ(moved->m_fragments.GetSize(), 2u);
  EXPECT_EQ(drive.m_nFiles, 2u);  // $MFT and this one; extension records are not counted

  // A record that is not this file's extension lends it nothing.
  volume.records[41] =
      CNtfsRecordBuilder().FileName(u"stranger.bin", kRoot, 3, false).BaseReference(39).Build();
  ASSERT_TRUE(Analyze());
  for (const auto& item : engine->m_files) EXPECT_NE(item.m_strName, "stranger.bin");
}

}  // namespace
}  // namespace test
}  // namespace vt
