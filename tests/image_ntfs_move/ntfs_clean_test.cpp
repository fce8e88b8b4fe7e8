// A volume is written only when it is clean: $Volume's dirty flag clear and
// $LogFile empty or its restart area saying the volume was shut down
// cleanly, and every folder's index readable. Otherwise it reads as usual,
// the check before the first move names the reason and every move fails
// with ERROR_DISK_CORRUPT, writing nothing. The flag and the restart page are
// set here with this test's own knowledge of the layout.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "base/le.h"
#include "platform/image/fs_volume.h"
#include "tests/image_ntfs_move/ntfs_move_support.h"
#include "tests/support/ntfs_builder.h"

namespace vt {
namespace test {
namespace {

struct CRawGeometry {
  uint64_t m_nCluster = 0;
  uint64_t m_nRecord = 0;
  uint64_t m_nMftOffset = 0;
};

CRawGeometry Geometry(const std::vector<uint8_t>& img) {
  CRawGeometry g;
  g.m_nCluster = static_cast<uint64_t>(Le16(&img[0x0B])) * img[0x0D];
  const auto perRecord = static_cast<int8_t>(img[0x40]);
  g.m_nRecord = perRecord < 0 ? 1ull << -perRecord : perRecord * g.m_nCluster;
  uint64_t mftLcn = 0;
  for (int i = 7; i >= 0; --i) mftLcn = (mftLcn << 8) | img[0x30 + i];
  g.m_nMftOffset = mftLcn * g.m_nCluster;
  return g;
}

// Undoes (or redoes, with the same check value) a record's update sequence.
void Fixups(uint8_t* record, size_t size, bool undo) {
  const size_t usa = Le16(record + 4);
  const size_t count = Le16(record + 6);
  ASSERT_EQ(size / 512 + 1, count);
  for (size_t i = 1; i < count; ++i) {
    uint8_t* end = record + i * 512 - 2;
    if (undo) {
      std::memcpy(end, record + usa + 2 * i, 2);
    } else {
      std::memcpy(record + usa + 2 * i, end, 2);
      std::memcpy(end, record + usa, 2);
    }
  }
}

// The offset in a record (fix-ups undone) of its first attribute of `type`.
size_t FindAttribute(const uint8_t* record, size_t size, uint32_t type) {
  for (size_t at = Le16(record + 0x14); at + 8 <= size;) {
    const uint32_t t = Le32(record + at);
    if (t == type) return at;
    const uint32_t length = Le32(record + at + 4);
    if (t == 0xFFFFFFFF || length == 0) break;
    at += length;
  }
  return 0;
}

void SetDirty(std::vector<uint8_t>* img) {
  const CRawGeometry g = Geometry(*img);
  uint8_t* record = img->data() + g.m_nMftOffset + 3 * g.m_nRecord;  // $Volume
  Fixups(record, g.m_nRecord, true);
  const size_t attr = FindAttribute(record, g.m_nRecord, 0x70);
  ASSERT_NE(0u, attr);
  uint8_t* flags = record + attr + Le16(record + attr + 0x14) + 0x0A;
  PutLe16(flags, static_cast<uint16_t>(Le16(flags) | 0x0001));
  Fixups(record, g.m_nRecord, false);
}

// Writes a restart page at the start of $LogFile with the given client
// in-use list and flags; `pageSize` as the page states it. `at` receives
// the page's offset in the image.
void SetRestartPage(std::vector<uint8_t>* img, uint16_t inUse, uint16_t flags,
                    uint32_t pageSize = 4096, uint64_t* at = nullptr) {
  const CRawGeometry g = Geometry(*img);
  uint8_t* record = img->data() + g.m_nMftOffset + 2 * g.m_nRecord;  // $LogFile
  std::vector<uint8_t> copy(record, record + g.m_nRecord);
  Fixups(copy.data(), copy.size(), true);
  const size_t attr = FindAttribute(copy.data(), copy.size(), 0x80);
  ASSERT_NE(0u, attr);
  const uint8_t* runs = copy.data() + attr + Le16(copy.data() + attr + 0x20);
  const int lengthBytes = runs[0] & 0x0F;
  const int offsetBytes = runs[0] >> 4;
  uint64_t lcn = 0;
  for (int i = offsetBytes - 1; i >= 0; --i) lcn = (lcn << 8) | runs[1 + lengthBytes + i];
  std::vector<uint8_t> page(4096, 0);
  std::memcpy(page.data(), "RSTR", 4);
  PutLe16(&page[0x04], 0x1E);
  PutLe16(&page[0x06], 4096 / 512 + 1);
  PutLe32(&page[0x10], pageSize);
  PutLe32(&page[0x14], 4096);
  PutLe16(&page[0x18], 0x30);
  PutLe16(&page[0x1A], 1);
  PutLe16(&page[0x1C], 1);
  PutLe16(&page[0x30 + 0x08], 1);       // one client
  PutLe16(&page[0x30 + 0x0A], 0xFFFF);  // no free clients
  PutLe16(&page[0x30 + 0x0C], inUse);
  PutLe16(&page[0x30 + 0x0E], flags);
  PutLe16(&page[0x1E], 7);  // check value
  Fixups(page.data(), page.size(), false);
  ASSERT_LE((lcn + 1) * g.m_nCluster + page.size(), img->size());
  std::memcpy(img->data() + lcn * g.m_nCluster, page.data(), page.size());
  if (at) *at = lcn * g.m_nCluster;
}

class NtfsClean : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    const std::string dir = NtfsImageDir(&why);
    if (dir.empty()) GTEST_SKIP() << why;
    m_bytes = ReadWholeFile(dir + "/ntfs-main.img");
    ASSERT_FALSE(m_bytes.empty());
    ASSERT_TRUE(LoadNtfsManifest(dir + "/ntfs-main.manifest", &m_manifest));
  }

  // Mounts the image, reads a file whole, and tries to move its first
  // cluster: the move's result, with the check that nothing was written.
  DWORD TryMove(const std::vector<uint8_t>& img) {
    CNtfsMovable v(img);
    EXPECT_EQ(ERROR_SUCCESS, v.m_dwMount);
    HANDLE volume = v.OpenVolume();
    HANDLE file = v.OpenFile("plain 100k.bin");
    EXPECT_NE(INVALID_HANDLE_VALUE, file);
    std::vector<char> data(100 * 1024 + 1);
    DWORD read = 0;
    HANDLE reader =
        v.m_set.CreateFileA("V:\\plain 100k.bin", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0);
    EXPECT_TRUE(v.m_set.ReadFile(reader, data.data(), static_cast<DWORD>(data.size()), &read));
    EXPECT_EQ(100000u, read);  // reads are as usual
    v.m_set.CloseHandle(reader);
    const int64_t target = FindFreeRun(v.m_set, volume, 1);
    const DWORD result = MoveClusters(v.m_set, volume, file, 0, static_cast<uint64_t>(target), 1);
    if (result != ERROR_SUCCESS) {
      EXPECT_EQ(0u, v.m_pPlan->m_nWrites);
    }
    v.m_set.CloseHandle(file);
    v.m_set.CloseHandle(volume);
    return result;
  }

  std::vector<uint8_t> m_bytes;
  CNtfsManifest m_manifest;
};

// What the check before the first move finds.
std::string Problem(const std::vector<uint8_t>& img) {
  CNtfsMovable v(img);
  CAllocationCheck check;
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), v.m_set.CheckAllocation('V', &check));
  return check.m_strProblem;
}

TEST_F(NtfsClean, ADirtyVolumeIsReadButRefusedBeforeAnyMove) {
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), TryMove(m_bytes));
  EXPECT_EQ("", Problem(m_bytes));
  std::vector<uint8_t> dirty = m_bytes;
  SetDirty(&dirty);
  // Refused by the volume's check, with the reason, as other damage is.
  EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_CORRUPT), TryMove(dirty));
  EXPECT_EQ("the volume is marked dirty", Problem(dirty));
}

// The offset in the image of the root folder's first index block (0 when
// its record has no index allocation).
uint64_t RootIndexBlock(const std::vector<uint8_t>& img) {
  const CRawGeometry g = Geometry(img);
  std::vector<uint8_t> copy(
      img.begin() + static_cast<std::ptrdiff_t>(g.m_nMftOffset + 5 * g.m_nRecord),
      img.begin() + static_cast<std::ptrdiff_t>(g.m_nMftOffset + 6 * g.m_nRecord));
  Fixups(copy.data(), copy.size(), true);
  const size_t attr = FindAttribute(copy.data(), copy.size(), 0xA0);
  if (attr == 0) return 0;
  const uint8_t* runs = copy.data() + attr + Le16(copy.data() + attr + 0x20);
  const int lengthBytes = runs[0] & 0x0F;
  uint64_t lcn = 0;
  for (int i = (runs[0] >> 4) - 1; i >= 0; --i) lcn = (lcn << 8) | runs[1 + lengthBytes + i];
  return lcn * g.m_nCluster;
}

// The first index block of the root folder: its stride ends in the check
// value, which a torn write leaves different. ntfsfix reports such a block
// as corrupt.
TEST_F(NtfsClean, ACorruptRootIndexBlockIsRefusedBeforeAnyMove) {
  const uint64_t block = RootIndexBlock(m_bytes);
  ASSERT_NE(0u, block);
  std::vector<uint8_t> torn = m_bytes;
  ASSERT_EQ(0, std::memcmp(&torn[block], "INDX", 4));
  torn[block + 1022] ^= 0xFF;
  EXPECT_EQ("a corrupt index block in the root folder", Problem(torn));

  std::string why;
  if (!NtfsToolsUsable(&why)) return;
  const std::string path = ::testing::TempDir() + "vt-torn-root.img";
  ASSERT_TRUE(WriteWholeFile(path, torn));
  std::string output;
  EXPECT_NE(0, NtfsfixCheck(path, &output)) << output;
  std::remove(path.c_str());
}

TEST_F(NtfsClean, TheLogFileRestartAreaDecides) {
  struct Case {
    const char* what;
    uint16_t inUse, flags;
    uint32_t pageSize;
    DWORD expected;
  } cases[] = {
      {"a client in use, not clean", 0, 0, 4096, ERROR_DISK_CORRUPT},
      {"a client in use, marked clean", 0, 0x0002, 4096, ERROR_SUCCESS},
      {"no client in use", 0xFFFF, 0, 4096, ERROR_SUCCESS},
      {"a page size that is no power of two", 0xFFFF, 0x0002, 3000, ERROR_DISK_CORRUPT},
      {"a page size past 64 KB", 0xFFFF, 0x0002, 1 << 17, ERROR_DISK_CORRUPT},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> img = m_bytes;
    SetRestartPage(&img, c.inUse, c.flags, c.pageSize);
    EXPECT_EQ(c.expected, TryMove(img)) << c.what;
    EXPECT_EQ(c.expected == ERROR_SUCCESS, Problem(img).empty()) << c.what;
  }
  // A torn restart page (its update sequence broken) is not trusted.
  std::vector<uint8_t> torn = m_bytes;
  uint64_t at = 0;
  SetRestartPage(&torn, 0xFFFF, 0x0002, 4096, &at);
  torn[at + 1022] ^= 0xFF;  // the second stride's check value
  EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_CORRUPT), TryMove(torn));
  EXPECT_EQ("the $LogFile restart page is damaged", Problem(torn));
}

// The analysis asks for every record in use through the file-record
// control, and the check that follows takes its records from what was
// served. Asks for records [from, to) as the analysis does, and with
// `strays` also for the root folder's record between them, as a name lookup
// would.
void Serve(CNtfsMovable& v, uint64_t from, uint64_t to, bool strays = false) {
  v.m_set.CheckAlongReads('V');
  HANDLE volume = v.OpenVolume();
  std::vector<uint8_t> reply(8208);
  for (uint64_t i = from; i < to; ++i) {
    for (uint64_t number : {i, uint64_t(5)}) {
      if (number == 5 && (!strays || i % 7 != 0)) continue;
      DWORD returned = 0;
      v.m_set.DeviceIoControl(volume, FSCTL_GET_NTFS_FILE_RECORD, &number, 8, reply.data(),
                              static_cast<DWORD>(reply.size()), &returned);
    }
  }
  v.m_set.CloseHandle(volume);
}

uint64_t Records(CNtfsMovable& v) {
  HANDLE volume = v.OpenVolume();
  NTFS_VOLUME_DATA_BUFFER data = {};
  DWORD returned = 0;
  EXPECT_TRUE(v.m_set.DeviceIoControl(volume, FSCTL_GET_NTFS_VOLUME_DATA, nullptr, 0, &data,
                                      sizeof(data), &returned));
  v.m_set.CloseHandle(volume);
  return static_cast<uint64_t>(data.MftValidDataLength.QuadPart) / data.BytesPerFileRecordSegment;
}

std::string ProblemAfterServing(const std::vector<uint8_t>& img, double share, bool strays) {
  CNtfsMovable v(img);
  const uint64_t records = Records(v);
  Serve(v, 0, static_cast<uint64_t>(static_cast<double>(records) * share), strays);
  CAllocationCheck check;
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), v.m_set.CheckAllocation('V', &check));
  return check.m_strProblem;
}

// The record of a file in the MFT's first extent, by its name.
uint64_t RecordOf(const std::vector<uint8_t>& img, const std::u16string& name) {
  const CRawGeometry g = Geometry(img);
  std::vector<uint8_t> utf16;
  for (char16_t c : name) {
    utf16.push_back(static_cast<uint8_t>(c));
    utf16.push_back(static_cast<uint8_t>(c >> 8));
  }
  const auto from = img.begin() + static_cast<std::ptrdiff_t>(g.m_nMftOffset);
  const auto at = std::search(from, from + static_cast<std::ptrdiff_t>(1024 * g.m_nRecord),
                              utf16.begin(), utf16.end());
  return static_cast<uint64_t>(at - from) / g.m_nRecord;
}

TEST_F(NtfsClean, TheCheckAfterAnAnalysisFindsWhatAFreshCheckFinds) {
  const CRawGeometry g = Geometry(m_bytes);
  const uint64_t file = RecordOf(m_bytes, u"plain 100k.bin");
  ASSERT_GT(file, 15u);
  std::vector<std::pair<std::string, std::vector<uint8_t>>> images;
  images.push_back({"clean", m_bytes});
  images.push_back({"dirty", m_bytes});
  SetDirty(&images.back().second);
  // A torn record: its first stride's check value differs.
  images.push_back({"torn record", m_bytes});
  images.back().second[g.m_nMftOffset + file * g.m_nRecord + 510] ^= 0xFF;
  // An attribute whose length is not a multiple of eight.
  images.push_back({"bad attribute", m_bytes});
  {
    uint8_t* record = images.back().second.data() + g.m_nMftOffset + file * g.m_nRecord;
    Fixups(record, g.m_nRecord, true);
    const size_t data = FindAttribute(record, g.m_nRecord, 0x80);
    ASSERT_NE(0u, data);
    PutLe32(record + data + 4, Le32(record + data + 4) + 1);
    Fixups(record, g.m_nRecord, false);
  }
  // The root folder's first index block torn.
  images.push_back({"torn index block", m_bytes});
  ASSERT_NE(0u, RootIndexBlock(m_bytes));
  images.back().second[RootIndexBlock(m_bytes) + 1022] ^= 0xFF;
  // Both: the damaged record is what is reported, though the pass reaches
  // the folder's index first.
  images.push_back({"torn index block, torn record", images.back().second});
  images.back().second[g.m_nMftOffset + file * g.m_nRecord + 510] ^= 0xFF;
  for (const auto& [what, img] : images) {
    const std::string fresh = Problem(img);
    EXPECT_EQ(what == "clean", fresh.empty()) << what << ": " << fresh;
    for (double share : {1.0, 0.5, 0.0})
      for (bool strays : {false, true})
        EXPECT_EQ(fresh, ProblemAfterServing(img, share, strays))
            << what << ", " << share << " of the records served, strays " << strays;
  }
  EXPECT_EQ("MFT record " + std::to_string(file) + " is damaged", Problem(images[2].second));
  EXPECT_EQ("MFT record " + std::to_string(file) + " is damaged", Problem(images[3].second));
  EXPECT_EQ("MFT record " + std::to_string(file) + " is damaged", Problem(images[5].second));
}

// Every reply to the file-record control, one after the other, for the
// records [0, count) asked for in turn.
std::vector<uint8_t> Replies(const std::vector<uint8_t>& img, bool along) {
  CNtfsMovable v(img);
  if (along) v.m_set.CheckAlongReads('V');
  const uint64_t records = Records(v);
  HANDLE volume = v.OpenVolume();
  std::vector<uint8_t> all, reply(8208);
  for (uint64_t i = 0; i < records; ++i) {
    DWORD returned = 0;
    const BOOL ok = v.m_set.DeviceIoControl(volume, FSCTL_GET_NTFS_FILE_RECORD, &i, 8, reply.data(),
                                            static_cast<DWORD>(reply.size()), &returned);
    all.push_back(ok ? 1 : 0);
    all.insert(all.end(), reply.begin(), reply.begin() + returned);
  }
  v.m_set.CloseHandle(volume);
  return all;
}

// The check going ahead of the analysis works on the records where they
// lie in the stretch it hands over: the analysis is served the same bytes
// as without it, damaged records included.
TEST_F(NtfsClean, TheCheckAlongLeavesTheRecordsServedAsTheyAre) {
  const CRawGeometry g = Geometry(m_bytes);
  const uint64_t file = RecordOf(m_bytes, u"plain 100k.bin");
  std::vector<uint8_t> torn = m_bytes;
  torn[g.m_nMftOffset + file * g.m_nRecord + 1022] ^= 0xFF;
  for (const std::vector<uint8_t>* img : {&m_bytes, &torn}) {
    const std::vector<uint8_t> plain = Replies(*img, false);
    EXPECT_GT(plain.size(), 16u * 1024);
    EXPECT_TRUE(plain == Replies(*img, true)) << (img == &torn ? "torn" : "clean");
  }
}

// A device whose reads fail where they touch [from, to).
class CUnreadableDevice : public CBlockDevice {
 public:
  CUnreadableDevice(std::vector<uint8_t> bytes, uint64_t from, uint64_t to)
      : m_inner(std::move(bytes), true), m_nFrom(from), m_nTo(to) {}
  uint64_t Size() const override { return m_inner.Size(); }
  bool IsReadOnly() const override { return true; }
  DWORD Read(uint64_t offset, void* buffer, size_t size) override {
    if (offset < m_nTo && m_nFrom < offset + size) return ERROR_READ_FAULT;
    return m_inner.Read(offset, buffer, size);
  }
  DWORD Write(uint64_t, const void*, size_t) override { return ERROR_WRITE_PROTECT; }
  DWORD Flush() override { return ERROR_SUCCESS; }

 private:
  CMemoryBlockDevice m_inner;
  uint64_t m_nFrom, m_nTo;
};

// A record that cannot be read is damage, found alike by a check on its
// own and by one that goes along an analysis (whose stretch of records
// then does not read whole, and each record is read alone).
TEST_F(NtfsClean, ARecordThatCannotBeReadIsFoundAlikeAlongAnAnalysis) {
  const CRawGeometry g = Geometry(m_bytes);
  const uint64_t file = RecordOf(m_bytes, u"plain 100k.bin");
  ASSERT_GT(file, 15u);
  const uint64_t at = g.m_nMftOffset + file * g.m_nRecord;
  for (double share : {-1.0, 0.0, 0.5, 1.0}) {
    CImageVolumeSet set;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              set.MountDevice('V', std::make_unique<CUnreadableDevice>(m_bytes, at, at + 8),
                              "unreadable", true));
    if (share >= 0) {
      set.CheckAlongReads('V');
      HANDLE volume = set.CreateFileA("\\\\.\\V:", GENERIC_READ, 3, OPEN_EXISTING, 0);
      NTFS_VOLUME_DATA_BUFFER data = {};
      DWORD returned = 0;
      ASSERT_TRUE(set.DeviceIoControl(volume, FSCTL_GET_NTFS_VOLUME_DATA, nullptr, 0, &data,
                                      sizeof(data), &returned));
      const uint64_t records =
          static_cast<uint64_t>(data.MftValidDataLength.QuadPart) / data.BytesPerFileRecordSegment;
      std::vector<uint8_t> reply(8208);
      for (uint64_t i = 0; i < static_cast<uint64_t>(static_cast<double>(records) * share); ++i) {
        const BOOL served =
            set.DeviceIoControl(volume, FSCTL_GET_NTFS_FILE_RECORD, &i, 8, reply.data(),
                                static_cast<DWORD>(reply.size()), &returned);
        // The analysis is told, and goes on with the next record.
        if (i == file) {
          EXPECT_FALSE(served);
        }
      }
      set.CloseHandle(volume);
    }
    CAllocationCheck check;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), set.CheckAllocation('V', &check));
    EXPECT_EQ("MFT record " + std::to_string(file) + " is damaged", check.m_strProblem) << share;
  }
}

// A device that counts the bytes read inside one range (by any thread).
class CCountingDevice : public CBlockDevice {
 public:
  CCountingDevice(std::unique_ptr<CBlockDevice> inner, uint64_t from, uint64_t to,
                  std::atomic<uint64_t>* count)
      : m_pInner(std::move(inner)), m_nFrom(from), m_nTo(to), m_pCount(count) {}
  uint64_t Size() const override { return m_pInner->Size(); }
  bool IsReadOnly() const override { return m_pInner->IsReadOnly(); }
  DWORD Read(uint64_t offset, void* buffer, size_t size) override {
    const uint64_t from = std::max(offset, m_nFrom), to = std::min(offset + size, m_nTo);
    if (from < to) *m_pCount += to - from;
    return m_pInner->Read(offset, buffer, size);
  }
  DWORD Write(uint64_t offset, const void* buffer, size_t size) override {
    return m_pInner->Write(offset, buffer, size);
  }
  DWORD Flush() override { return m_pInner->Flush(); }

 private:
  std::unique_ptr<CBlockDevice> m_pInner;
  uint64_t m_nFrom, m_nTo;
  std::atomic<uint64_t>* m_pCount;
};

// `files` files of size(i) bytes in folders of 20, the folders in groups of
// ten, so that each index stays within the builder's one level of blocks.
void AddFoldersOfTwenty(CNtfsImageBuilder& b, int files, const std::function<size_t(int)>& size) {
  const auto number = [](int i) {
    std::u16string text;
    for (char c : std::to_string(i)) text += static_cast<char16_t>(c);
    return text;
  };
  uint64_t group = 0, folder = 0;
  for (int i = 0; i < files; ++i) {
    if (i % 200 == 0) group = b.AddFolder(CNtfsImageBuilder::kRoot, u"group " + number(i));
    if (i % 20 == 0) folder = b.AddFolder(group, u"folder " + number(i));
    b.AddFile(folder, u"file " + number(i), std::string(size(i), 'x'));
  }
}

// Records served to the analysis are not read again by the check: from the
// mount to the check's end the MFT is read once (and the stretch the mount
// reads once more at most), however much of it the analysis asked for
// (the check goes ahead of it on a thread of its own, or takes what was
// served); a check not told to take them reads it all again. The MFT here
// is several read-ahead stretches long.
TEST(NtfsCheckPass, TheCheckAfterAnAnalysisReadsOnlyTheRecordsNotServed) {
  const uint32_t records = 4400;
  CNtfsImageBuilder b(8192, records);
  AddFoldersOfTwenty(b, 3900, [](int i) { return i % 7 ? 100 : 5000; });
  b.MarkClean();
  b.Finish();
  const uint64_t mftBytes = uint64_t(records) * 1024;
  std::vector<uint64_t> reads;
  // The share of the records served, and whether the check was told to
  // take them.
  const std::pair<double, bool> cases[] = {{0.0, true}, {0.5, true}, {1.0, true}, {1.0, false}};
  for (const auto& [share, along] : cases) {
    std::atomic<uint64_t> read{0};
    CImageVolumeSet set;
    ASSERT_EQ(
        static_cast<DWORD>(ERROR_SUCCESS),
        set.MountDevice('V',
                        std::make_unique<CCountingDevice>(b.Device(), b.RecordOffset(0),
                                                          b.RecordOffset(0) + mftBytes, &read),
                        "counted", true));
    if (along) set.CheckAlongReads('V');
    HANDLE volume = set.CreateFileA("\\\\.\\V:", GENERIC_READ, 3, OPEN_EXISTING, 0);
    std::vector<uint8_t> reply(8208);
    for (uint64_t i = 0; i < static_cast<uint64_t>(records * share); ++i) {
      DWORD returned = 0;
      set.DeviceIoControl(volume, FSCTL_GET_NTFS_FILE_RECORD, &i, 8, reply.data(),
                          static_cast<DWORD>(reply.size()), &returned);
    }
    set.CloseHandle(volume);
    CAllocationCheck check;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), set.CheckAllocation('V', &check));
    EXPECT_EQ("", check.m_strProblem) << share;
    reads.push_back(read);
  }
  // The mount reads the MFT's first record alone, then its first stretch.
  const uint64_t mount = 1024 + 1024 * 1024;
  for (size_t k = 0; k < 3; ++k) {
    EXPECT_GE(reads[k], mftBytes) << k;
    EXPECT_LE(reads[k], mftBytes + mount) << k;
  }
  EXPECT_GT(reads[3], mftBytes * 19 / 10);
}

// On an MFT of several stretches, each read ahead in pieces: a damaged
// record ends the pass part-way through a stretch, and the analysis is
// still served every record as stored, the check's verdict unchanged.
TEST(NtfsCheckPass, ARecordThatEndsThePassPartWayLeavesTheRestServedAsStored) {
  const uint32_t records = 2600;
  CNtfsImageBuilder b(8192, records);
  AddFoldersOfTwenty(b, 2200, [](int) { return 100; });
  b.MarkClean();
  b.Finish();
  // In the first piece of the second stretch, and in the first stretch.
  for (uint64_t torn : {uint64_t(1030), uint64_t(40)}) {
    std::vector<uint8_t> img = b.Bytes();
    img[b.RecordOffset(torn) + 510] ^= 0xFF;
    const std::vector<uint8_t> plain = Replies(img, false);
    EXPECT_GT(plain.size(), 2400u * 1024);
    EXPECT_TRUE(plain == Replies(img, true)) << torn;
    EXPECT_EQ("MFT record " + std::to_string(torn) + " is damaged", Problem(img));
    EXPECT_EQ(Problem(img), ProblemAfterServing(img, 1.0, false)) << torn;
  }
}

// The folders' indexes are walked by two threads once the records are
// through; of two damaged ones the first in record order is reported,
// as by a check on its own, however much of the MFT was served.
TEST(NtfsCheckPass, OfTwoDamagedFoldersTheFirstIsReportedAlongAnAnalysis) {
  CNtfsImageBuilder b(8192, 1400);
  std::vector<uint64_t> folders;
  uint64_t group = 0;
  for (int f = 0; f < 60; ++f) {
    std::u16string name = u"folder ";
    for (char c : std::to_string(f)) name += static_cast<char16_t>(c);
    if (f % 10 == 0) group = b.AddFolder(CNtfsImageBuilder::kRoot, u"group " + name);
    folders.push_back(b.AddFolder(group, name));
    for (int i = 0; i < 20; ++i) b.AddFile(folders.back(), u"f" + std::u16string(1, u'a' + i), "x");
  }
  b.MarkClean();
  b.Finish();
  // Torn strides in the second block of a late folder and of an early one.
  for (uint64_t folder : {folders[50], folders[7]})
    b.Bytes()[b.ClusterOffset(b.IndexBlockLcn(folder, 1)) + 0x5FE] ^= 1;
  const std::string expected =
      "a corrupt index block in folder record " + std::to_string(folders[7]);
  EXPECT_EQ(expected, Problem(b.Bytes()));
  for (double share : {1.0, 0.5, 0.0})
    EXPECT_EQ(expected, ProblemAfterServing(b.Bytes(), share, false)) << share;
}

}  // namespace
}  // namespace test
}  // namespace vt
