// Folder enumeration: long and short names, code pages, attributes, times,
// damaged long-name sequences and folders.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/image/volume_set.h"
#include "tests/image/fat_builder.h"

namespace vt {
namespace test {
namespace {

std::vector<WIN32_FIND_DATAA> List(CImageVolumeSet& set, const std::string& pattern,
                                   DWORD* error = nullptr) {
  std::vector<WIN32_FIND_DATAA> out;
  WIN32_FIND_DATAA data;
  HANDLE h = set.FindFirstFileA(pattern.c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) {
    if (error) *error = set.GetLastError();
    return out;
  }
  do out.push_back(data);
  while (set.FindNextFileA(h, &data));
  if (error) *error = set.GetLastError();
  EXPECT_TRUE(set.FindClose(h));
  return out;
}

std::vector<std::string> Names(const std::vector<WIN32_FIND_DATAA>& list) {
  std::vector<std::string> names;
  for (const auto& d : list) names.push_back(d.cFileName);
  return names;
}

// Extent count of a file, or minus the error that refused its retrieval pointers.
int Extents(CImageVolumeSet& set, const char* path) {
  HANDLE h = set.CreateFileA(path, FILE_READ_ATTRIBUTES, 7, OPEN_EXISTING, 0x02000000);
  if (h == INVALID_HANDLE_VALUE) return -static_cast<int>(set.GetLastError());
  int64_t vcn = 0;
  std::vector<uint8_t> reply(256);
  DWORD returned = 0;
  BOOL ok = set.DeviceIoControl(h, FSCTL_GET_RETRIEVAL_POINTERS, &vcn, sizeof(vcn), reply.data(),
                                static_cast<DWORD>(reply.size()), &returned);
  const int error = -static_cast<int>(set.GetLastError());
  set.CloseHandle(h);
  return ok ? static_cast<int>(reply[0]) : error;
}

uint64_t Ticks(const FILETIME& ft) {
  return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

TEST(ImageFolders, NamesAttributesSizesAndTimes) {
  CFatImageBuilder b(EBuildType::kFat16);
  b.AddLabel("LABEL      ");
  b.AddFile(0, u"A long name.txt", "ALONGN~1TXT", {10}, "hello");
  b.AddFile(0, u"", "README  TXT", {11}, "x", 0x21);  // read-only, archive
  b.AddShortEntry(0, "lower   txt", 0x20, 0, 0, 0x18);
  b.AddShortEntry(0, "MIXED   TXT", 0x20, 0, 0, 0x08);  // base lower, extension as stored
  b.AddShortEntry(0, "HIDDEN  SYS", 0x06, 0, 0);        // hidden, system
  b.AddShortEntry(0, "PLAIN      ", 0x00, 0, 0);        // no attribute at all
  uint8_t deleted[32] = {0xE5, 'E', 'L', 'E', 'T', 'E', 'D', ' ', ' ', ' ', ' ', 0x20};
  b.AddRawEntry(0, deleted);
  b.AddFile(0, u"SAME.TXT", "SAME    TXT", {}, "");  // long name equal to the short one
  uint32_t dir = b.AddFolder(0, u"Sub Folder", "SUBFOL~1   ", {20});
  b.AddFile(dir, u"", "INNER   DAT", {}, "");
  CImageVolumeSet set;
  ASSERT_EQ(ERROR_SUCCESS, set.MountDevice('V', b.Device(), "names", false));

  DWORD err = 0;
  auto root = List(set, "V:\\*", &err);
  EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_FILES), err);
  ASSERT_EQ((std::vector<std::string>{"A long name.txt", "README.TXT", "lower.txt", "mixed.TXT",
                                      "HIDDEN.SYS", "PLAIN", "SAME.TXT", "Sub Folder"}),
            Names(root));
  EXPECT_STREQ("ALONGN~1.TXT", root[0].cAlternateFileName);
  EXPECT_EQ(5u, root[0].nFileSizeLow);
  EXPECT_EQ(0u, root[0].nFileSizeHigh);
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE), root[0].dwFileAttributes);
  EXPECT_STREQ("", root[1].cAlternateFileName);
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE),
            root[1].dwFileAttributes);
  EXPECT_STREQ("", root[2].cAlternateFileName);
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
            root[4].dwFileAttributes);
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL), root[5].dwFileAttributes);
  EXPECT_STREQ("", root[6].cAlternateFileName);
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY), root[7].dwFileAttributes);
  EXPECT_EQ(0u, root[7].nFileSizeLow);

  // 2020-05-17 13:45:30 taken as UTC; creation 2019-03-04 08:30:10 + 1.5 s.
  EXPECT_EQ(132341967300000000ULL, Ticks(root[0].ftLastWriteTime));
  EXPECT_EQ(131961618115000000ULL, Ticks(root[0].ftCreationTime));
  EXPECT_EQ(132540192000000000ULL, Ticks(root[0].ftLastAccessTime));  // 2021-01-02

  auto sub = List(set, "V:\\sub folder\\*", &err);
  EXPECT_EQ((std::vector<std::string>{".", "..", "INNER.DAT"}), Names(sub));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY), sub[0].dwFileAttributes);
  // Short names reach folders too.
  EXPECT_EQ(3u, List(set, "V:\\SUBFOL~1\\*").size());
  EXPECT_EQ(3u, List(set, "V:/Sub Folder/*.*").size());
}

TEST(ImageFolders, PatternsAndErrors) {
  CFatImageBuilder b(EBuildType::kFat12);
  b.AddFile(0, u"Report 2020.doc", "REPORT~1DOC", {}, "");
  b.AddFile(0, u"", "NOTES   TXT", {}, "");
  b.AddFolder(0, u"", "EMPTY      ", {30});
  CImageVolumeSet set;
  ASSERT_EQ(ERROR_SUCCESS, set.MountDevice('V', b.Device(), "patterns", false));
  DWORD err = 0;
  EXPECT_EQ((std::vector<std::string>{"Report 2020.doc"}), Names(List(set, "V:\\report 2020.DOC")));
  EXPECT_EQ((std::vector<std::string>{"Report 2020.doc"}), Names(List(set, "V:\\REPORT~1.DOC")));
  EXPECT_EQ((std::vector<std::string>{"NOTES.TXT"}), Names(List(set, "V:\\*.txt")));
  EXPECT_EQ((std::vector<std::string>{"Report 2020.doc"}), Names(List(set, "V:\\R?port*")));
  EXPECT_TRUE(List(set, "V:\\nothing.here", &err).empty());
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), err);
  EXPECT_TRUE(List(set, "V:\\missing\\*", &err).empty());
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), err);
  EXPECT_TRUE(List(set, "V:\\notes.txt\\*", &err).empty());
  EXPECT_EQ(static_cast<DWORD>(ERROR_DIRECTORY), err);
  EXPECT_TRUE(List(set, "Q:\\*", &err).empty());
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), err);
  // An empty folder still lists its dots.
  EXPECT_EQ((std::vector<std::string>{".", ".."}), Names(List(set, "V:\\EMPTY\\*")));

  WIN32_FIND_DATAA data;
  HANDLE h = set.FindFirstFileA("V:\\*", &data);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  EXPECT_FALSE(set.CloseHandle(h));  // find handles end with FindClose only
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), set.GetLastError());
  EXPECT_TRUE(set.FindClose(h));
  EXPECT_FALSE(set.FindNextFileA(h, &data));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), set.GetLastError());
  EXPECT_FALSE(set.FindClose(h));
}

TEST(ImageFolders, EmptyFat32RootHasNothingToFind) {
  CFatImageBuilder b(EBuildType::kFat32);
  CImageVolumeSet set;
  ASSERT_EQ(ERROR_SUCCESS, set.MountDevice('V', b.Device(), "empty", false));
  DWORD err = 0;
  EXPECT_TRUE(List(set, "V:\\*", &err).empty());
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), err);
}

TEST(ImageFolders, CodePagesOfLongAndShortNames) {
  CFatImageBuilder b(EBuildType::kFat32);
  b.AddFile(0, u"Caf\u00e9 12.txt",
            "CAF\x90"
            "12~1TXT",
            {}, "");
  b.AddFile(0, u"\u20ac price\u2122.txt", "PRICE~1 TXT", {}, "");
  b.AddFile(0, u"\u4e2d\u6587.txt", "7FB2~1  TXT", {}, "");
  b.AddFile(0, u"emoji\U0001F600.txt", "EMOJI~1 TXT", {}, "");
  b.AddShortEntry(0, "R\x82SUM\x90  TXT", 0x20, 0, 0);  // OEM 437 bytes
  b.AddShortEntry(0,
                  "\x05"
                  "BC     TXT",
                  0x20, 0, 0);  // 0x05 stands for 0xE5
  CImageVolumeSet set;
  ASSERT_EQ(ERROR_SUCCESS, set.MountDevice('V', b.Device(), "cp", false));
  auto list = List(set, "V:\\*");
  ASSERT_EQ(6u, list.size());
  // Long names and OEM short names alike come out as UTF-8.
  EXPECT_STREQ(u8"Café 12.txt", list[0].cFileName);
  EXPECT_STREQ(u8"CAFÉ12~1.TXT", list[0].cAlternateFileName);
  EXPECT_STREQ(u8"€ price™.txt", list[1].cFileName);
  EXPECT_STREQ(u8"中文.txt", list[2].cFileName);
  EXPECT_STREQ(u8"emoji😀.txt", list[3].cFileName);
  EXPECT_STREQ(u8"RéSUMÉ.TXT", list[4].cFileName);
  EXPECT_STREQ(u8"σBC.TXT", list[5].cFileName);  // OEM 0xE5 is sigma
  // Names are found by their UTF-8 form, in any case; '?' is one character.
  EXPECT_EQ((std::vector<std::string>{u8"Café 12.txt"}), Names(List(set, u8"V:\\CAFÉ 12.TXT")));
  EXPECT_EQ((std::vector<std::string>{u8"RéSUMÉ.TXT"}), Names(List(set, u8"V:\\RÉSUMÉ.txt")));
  EXPECT_EQ((std::vector<std::string>{u8"中文.txt"}), Names(List(set, "V:\\??.txt")));
  EXPECT_EQ((std::vector<std::string>{u8"emoji😀.txt"}), Names(List(set, "V:\\emoji?.*")));
  HANDLE h = set.CreateFileA(u8"V:\\€ PRICE™.TXT", GENERIC_READ, 7, OPEN_EXISTING, 0);
  EXPECT_NE(INVALID_HANDLE_VALUE, h);
  set.CloseHandle(h);
}

TEST(ImageFolders, BrokenLongNamesFallBackToTheShortName) {
  CFatImageBuilder b(EBuildType::kFat16);
  b.AddLongEntries(0, u"Wrong checksum.txt", "WRONGC~1TXT", 0x55);
  b.AddShortEntry(0, "WRONGC~1TXT", 0x20, 0, 0);
  // An orphan: the long name is followed by a deleted entry, then a file.
  b.AddLongEntries(0, u"Orphan name.txt", "ORPHAN~1TXT");
  uint8_t deleted[32] = {0xE5, 'X', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', 0x20};
  b.AddRawEntry(0, deleted);
  b.AddShortEntry(0, "ORPHAN~1TXT", 0x20, 0, 0);
  // A sequence missing its middle entry.
  {
    CFatImageBuilder scratch(EBuildType::kFat16);
    scratch.AddLongEntries(0, u"A name that needs three entries.txt", "ANAMET~1TXT");
    const uint8_t* root = scratch.Bytes().data() + (1 + 2 * 64) * 512;
    b.AddRawEntry(0, root);       // 0x43
    b.AddRawEntry(0, root + 64);  // 0x01, skipping 0x02
    b.AddShortEntry(0, "ANAMET~1TXT", 0x20, 0, 0);
  }
  // A long name with a character that would split paths.
  b.AddFile(0, u"a/b.txt", "AB~1    TXT", {}, "");
  // A good one after all that still works.
  b.AddFile(0, u"Fine long name.txt", "FINELO~1TXT", {}, "");
  CImageVolumeSet set;
  ASSERT_EQ(ERROR_SUCCESS, set.MountDevice('V', b.Device(), "lfn", false));
  EXPECT_EQ((std::vector<std::string>{"WRONGC~1.TXT", "ORPHAN~1.TXT", "ANAMET~1.TXT", "AB~1.TXT",
                                      "Fine long name.txt"}),
            Names(List(set, "V:\\*")));
}

TEST(ImageFolders, FolderSpanningScatteredClusters) {
  CFatImageBuilder b(EBuildType::kFat12);
  uint32_t dir = b.AddFolder(0, u"Big", "BIG        ", {40, 90, 41, 200});
  std::vector<std::string> expected = {".", ".."};
  // Three entries per file: 20 files fill the four 16-entry clusters.
  for (int i = 0; i < 20; ++i) {
    std::string name = "File number " + std::to_string(i) + ".dat";
    std::string name11 = "FILE~" + std::to_string(10 + i) + " DAT";
    std::u16string wide(name.begin(), name.end());
    b.AddFile(dir, wide, name11, {}, "");
    expected.push_back(name);
  }
  CImageVolumeSet set;
  ASSERT_EQ(ERROR_SUCCESS, set.MountDevice('V', b.Device(), "big", false));
  EXPECT_EQ(expected, Names(List(set, "V:\\Big\\*")));
}

TEST(ImageFolders, DamagedFoldersGiveErrorsNotHangs) {
  CFatImageBuilder b(EBuildType::kFat16);
  b.AddFolder(0, u"", "LOOPDIR    ", {50, 51});
  b.SetFat(51, 50);                                   // the folder's chain loops
  b.AddShortEntry(0, "FARDIR     ", 0x10, 60000, 0);  // past the end
  b.AddShortEntry(0, "ZERODIR    ", 0x10, 0, 0);      // a folder without clusters
  b.AddFile(0, u"", "OK      TXT", {}, "");
  CImageVolumeSet set;
  ASSERT_EQ(ERROR_SUCCESS, set.MountDevice('V', b.Device(), "damaged", false));
  DWORD err = 0;
  for (const char* path : {"V:\\LOOPDIR\\*", "V:\\FARDIR\\*", "V:\\ZERODIR\\*"}) {
    EXPECT_TRUE(List(set, path, &err).empty()) << path;
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_CORRUPT), err) << path;
  }
  HANDLE h = set.CreateFileA("V:\\LOOPDIR\\x", GENERIC_READ, 7, OPEN_EXISTING, 0);
  EXPECT_EQ(INVALID_HANDLE_VALUE, h);
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_CORRUPT), set.GetLastError());
  EXPECT_EQ(4u, List(set, "V:\\*").size());
}

// A folder reached again under another entry is refused, so a walk that
// enters every subfolder ends, and no cluster is read as two files.
TEST(ImageFolders, AFolderReachedTwiceIsNotListedAgain) {
  CFatImageBuilder b(EBuildType::kFat12);
  uint32_t dir = b.AddFolder(0, u"", "LOOP       ", {30});
  b.AddShortEntry(dir, "AGAIN      ", 0x10, dir, 0);  // points back at its own folder
  b.AddShortEntry(dir, "UP         ", 0x10, dir, 0);
  b.AddFile(dir, u"", "DATA    BIN", {31, 33}, std::string(700, 'd'));
  b.AddShortEntry(0, "TWIN    BIN", 0x20, 31, 700);  // shares DATA.BIN's chain
  CImageVolumeSet set;
  ASSERT_EQ(ERROR_SUCCESS, set.MountDevice('V', b.Device(), "cycle", false));
  EXPECT_EQ(5u, List(set, "V:\\LOOP\\*").size());  // ".", "..", AGAIN, UP, DATA.BIN
  WIN32_FIND_DATAA data;
  for (const char* path : {"V:\\LOOP\\AGAIN\\*", "V:\\LOOP\\UP\\*"}) {
    EXPECT_EQ(INVALID_HANDLE_VALUE, set.FindFirstFileA(path, &data)) << path;
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_CORRUPT), set.GetLastError()) << path;
  }
  EXPECT_EQ(INVALID_HANDLE_VALUE, set.CreateFileA("V:\\LOOP\\AGAIN\\AGAIN", GENERIC_READ, 7,
                                                  OPEN_EXISTING, 0x02000000));
  // The first entry read owns the chain; the second is corrupt.
  EXPECT_EQ(2, Extents(set, "V:\\LOOP\\DATA.BIN"));
  EXPECT_EQ(-static_cast<int>(ERROR_FILE_CORRUPT), Extents(set, "V:\\TWIN.BIN"));
}

}  // namespace
}  // namespace test
}  // namespace vt
