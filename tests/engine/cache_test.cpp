#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <zlib.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "tests/support/engine_fixture.h"

namespace vt {
namespace test {
namespace {

class Cache : public EngineTest {
 protected:
  Cache() {
    folder = std::filesystem::temp_directory_path() /
             ("vantrel-cache-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
              "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(folder);
    engine->SetCacheFolder(folder.string());
    drive.m_strDrive = "C:\\";
  }
  ~Cache() override {
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
  }
  std::vector<uint8_t> FileBytes() {
    std::ifstream in(engine->GetCachePath(drive), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }
  void WriteBytes(const std::vector<uint8_t>& bytes) {
    std::ofstream out(engine->GetCachePath(drive), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  void Fill() {
    CFileItem a;
    a.m_strName = std::string(254, 'a');
    a.m_wFlags = FI_DIRECTORY | FI_UNMOVABLE;
    a.m_ftLastWrite = {0x11223344, 0x55667788};
    a.m_nSize = 0x123456789ull;
    a.m_nFirstLcn = 77;
    a.m_nRecord = 900;
    a.m_nFolder = 700;
    a.m_nMoveFailures = 3;
    a.m_fragments.Add({77, 5});
    a.m_fragments.Add({0x1FFFFFFFFull, 0xFFFFFFFFu});
    CFileItem b;
    b.m_strName = std::string(255, 'b');
    b.m_wFlags = FI_NEEDS_EXTENTS | FI_VIRTUAL;
    b.m_nFolder = -1;
    CFileItem c;
    c.m_strName = std::string(70000, 'c');
    engine->m_files.Add(a);
    engine->m_files.Add(b);
    engine->m_files.Add(c);
    engine->m_freeRuns.Add({10, 20, RUN_FREE});
    engine->m_freeRuns.Add({30, 0, RUN_MERGED});
    engine->m_folders = {"C:", "C:\\Data", ""};
    drive.m_nFiles = 123;
    drive.m_nFolders = 45;
  }
  std::filesystem::path folder;
};

TEST_F(Cache, PathIsTheLetterInTheFolder) {
  const std::string path = engine->GetCachePath(drive);
  EXPECT_NE(path.find("Vantrel.C.dat"), std::string::npos);
  EXPECT_EQ(path.size(), folder.string().size() + 1 + 13);
  EXPECT_FALSE(engine->CacheExists(drive));
}

TEST_F(Cache, RoundTripsEveryStoredField) {
  Fill();
  drive.m_bDirty = true;
  ASSERT_TRUE(engine->SaveDriveData(drive));
  EXPECT_FALSE(drive.m_bDirty);
  EXPECT_TRUE(engine->CacheExists(drive));
  EXPECT_EQ(sink.ProgressTexts(PROGRESS_TEXT).back(), "Saving analysis cache...");

  engine->m_files.RemoveAll();
  engine->m_freeRuns.RemoveAll();
  engine->m_folders.clear();
  drive.m_nFiles = drive.m_nFolders = 0;
  for (int round = 0; round < 2; ++round) {  // loading twice gives the same lists
    ASSERT_TRUE(engine->LoadDriveData(drive));
    ASSERT_EQ(engine->m_files.GetSize(), 3u);
    const CFileItem& a = engine->m_files[0];
    EXPECT_EQ(a.m_strName, std::string(254, 'a'));
    EXPECT_EQ(a.m_wFlags, FI_DIRECTORY | FI_UNMOVABLE);
    EXPECT_EQ(a.m_ftLastWrite.dwLowDateTime, 0x11223344u);
    EXPECT_EQ(a.m_ftLastWrite.dwHighDateTime, 0x55667788u);
    EXPECT_EQ(a.m_nSize, 0x123456789ull);
    EXPECT_EQ(a.m_nFirstLcn, 77u);
    EXPECT_EQ(a.m_nRecord, 900u);
    EXPECT_EQ(a.m_nFolder, 700);
    EXPECT_EQ(a.m_nMoveFailures, 0);
    ASSERT_EQ(a.m_fragments.GetSize(), 2u);
    EXPECT_EQ(a.m_fragments[1].m_nLcn, 0x1FFFFFFFFull);
    EXPECT_EQ(a.m_fragments[1].m_nClusters, 0xFFFFFFFFu);
    EXPECT_EQ(engine->m_files[1].m_strName, std::string(255, 'b'));
    EXPECT_EQ(engine->m_files[1].m_nFolder, -1);
    EXPECT_EQ(engine->m_files[2].m_strName.size(), 70000u);
    ASSERT_EQ(engine->m_freeRuns.GetSize(), 2u);
    EXPECT_EQ(engine->m_freeRuns[1].m_nState, RUN_MERGED);
    EXPECT_EQ(engine->m_folders, (std::vector<std::string>{"C:", "C:\\Data", ""}));
    EXPECT_EQ(drive.m_nFiles, 123u);
    EXPECT_EQ(drive.m_nFolders, 45u);
    // The directory map comes back from the stored folders' record numbers.
    ASSERT_EQ(engine->m_dirMap.size(), 1u);
    EXPECT_EQ(engine->m_dirMap.begin()->first, 900u);
  }
  EXPECT_EQ(sink.ProgressTexts(PROGRESS_TEXT).back(), "Loading analysis cache...");
}

TEST_F(Cache, LengthPrefixes) {
  engine->m_folders = {std::string(254, 'x'), std::string(255, 'y'), std::string(0xFFFE, 'z')};
  ASSERT_TRUE(engine->SaveDriveData(drive));
  std::vector<uint8_t> bytes = FileBytes();
  // Signature, no items, no runs: "VTC8", u32 0, u32 0, u32 3, then the strings.
  ASSERT_GT(bytes.size(), 16u + 255);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "VTC8");
  EXPECT_EQ(bytes[16], 254);
  const size_t second = 16 + 1 + 254;
  EXPECT_EQ(bytes[second], 0xFF);
  EXPECT_EQ(bytes[second + 1] | (bytes[second + 2] << 8), 255);
  const size_t third = second + 3 + 255;
  EXPECT_EQ(bytes[third], 0xFF);
  EXPECT_EQ(bytes[third + 1] | (bytes[third + 2] << 8), 0xFFFF);
  EXPECT_EQ(bytes[third + 3] | (bytes[third + 4] << 8), 0xFFFE);
  EXPECT_EQ(bytes.size(), third + 7 + 0xFFFE + 16 + 8);
}

TEST_F(Cache, EmptyDrive) {
  ASSERT_TRUE(engine->SaveDriveData(drive));
  EXPECT_EQ(FileBytes().size(), 4u + 4 + 4 + 4 + 8 + 8 + 8);
  engine->m_files.Add(CFileItem());
  ASSERT_TRUE(engine->LoadDriveData(drive));
  EXPECT_TRUE(engine->m_files.IsEmpty());
}

TEST_F(Cache, DamagedFilesAreTreatedAsAbsentAndChangeNothing) {
  Fill();
  ASSERT_TRUE(engine->SaveDriveData(drive));
  const std::vector<uint8_t> good = FileBytes();
  engine->m_files.RemoveAll();
  CFileItem marker;
  marker.m_strName = "kept";
  engine->m_files.Add(marker);
  // Every truncation, and a file with trailing junk counts, leaves the lists as they were.
  for (size_t cut = 0; cut < good.size(); cut += (cut < 600 ? 1 : 997)) {
    WriteBytes(std::vector<uint8_t>(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut)));
    ASSERT_FALSE(engine->LoadDriveData(drive)) << cut;
    ASSERT_EQ(engine->m_files.GetSize(), 1u);
    EXPECT_EQ(engine->m_files[0].m_strName, "kept");
  }
  std::vector<uint8_t> huge = good;
  huge[4] = huge[5] = huge[6] = huge[7] = 0xFF;  // four billion items
  WriteBytes(huge);
  EXPECT_FALSE(engine->LoadDriveData(drive));
  // The layout of earlier builds (no signature, Windows-1252 names) is not read.
  WriteBytes(std::vector<uint8_t>(good.begin() + 4, good.end()));
  EXPECT_FALSE(engine->LoadDriveData(drive));
  WriteBytes({});
  EXPECT_FALSE(engine->LoadDriveData(drive));
  engine->DeleteCache(drive);
  EXPECT_FALSE(engine->LoadDriveData(drive));
  EXPECT_EQ(engine->m_files.GetSize(), 1u);
}

TEST_F(Cache, EndsWithACrcAndAnyFlippedBitIsNoCache) {
  Fill();
  engine->m_files[2].m_strName = "Strings.c";  // small enough to flip every bit
  ASSERT_TRUE(engine->SaveDriveData(drive));
  const std::vector<uint8_t> good = FileBytes();
  ASSERT_GT(good.size(), 8u);
  const size_t body = good.size() - 4;
  EXPECT_EQ(std::string(good.begin() + static_cast<std::ptrdiff_t>(body) - 4,
                        good.begin() + static_cast<std::ptrdiff_t>(body)),
            "CRC ");
  const uint32_t crc = static_cast<uint32_t>(crc32(0L, good.data(), static_cast<uInt>(body)));
  EXPECT_EQ(good[body] | (good[body + 1] << 8) | (good[body + 2] << 16) |
                (static_cast<uint32_t>(good[body + 3]) << 24),
            crc);
  engine->m_files.RemoveAll();
  for (size_t at = 0; at < good.size(); ++at) {
    for (int bit = 0; bit < 8; ++bit) {
      std::vector<uint8_t> bad = good;
      bad[at] ^= static_cast<uint8_t>(1 << bit);
      WriteBytes(bad);
      ASSERT_FALSE(engine->LoadDriveData(drive)) << at << " bit " << bit;
    }
  }
  EXPECT_TRUE(engine->m_files.IsEmpty());
  // Bytes after the checksum are no cache either.
  std::vector<uint8_t> longer = good;
  longer.push_back(0);
  WriteBytes(longer);
  EXPECT_FALSE(engine->LoadDriveData(drive));
  WriteBytes(good);
  ASSERT_TRUE(engine->LoadDriveData(drive));
  EXPECT_EQ(engine->m_files[2].m_strName, "Strings.c");
}

#ifndef _WIN32
TEST_F(Cache, AFifoInItsPlaceIsNotWaitedOnAndIsReplaced) {
  const std::string path = engine->GetCachePath(drive);
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  EXPECT_FALSE(engine->LoadDriveData(drive));  // a blocking open would hang here
  Fill();
  ASSERT_TRUE(engine->SaveDriveData(drive));
  struct stat st;
  ASSERT_EQ(::lstat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_TRUE(engine->LoadDriveData(drive));
}
#endif

TEST_F(Cache, DeleteAllRemovesEveryLetter) {
  for (char letter : {'A', 'C', 'Z'}) {
    CDriveData d;
    d.m_strDrive = std::string(1, letter) + ":\\";
    ASSERT_TRUE(engine->SaveDriveData(d));
    EXPECT_TRUE(engine->CacheExists(d));
  }
  engine->DeleteAllCaches();
  for (char letter : {'A', 'C', 'Z'}) {
    CDriveData d;
    d.m_strDrive = std::string(1, letter) + ":\\";
    EXPECT_FALSE(engine->CacheExists(d));
  }
}

}  // namespace
}  // namespace test
}  // namespace vt
