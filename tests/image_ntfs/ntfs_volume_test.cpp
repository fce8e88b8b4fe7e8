// The volume operations over hand-built NTFS volumes: mounting, volume
// information and data, the bitmap and file-record controls, listings,
// opening by long and short name, retrieval pointers, reads, and damage.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/le.h"
#include "ondisk/ntfs_record.h"
#include "platform/image/volume_set.h"
#include "tests/support/ntfs_builder.h"

namespace vt {
namespace test {
namespace {

struct Extent {
  int64_t vcn;
  int64_t lcn;
  int64_t count;
  bool operator==(const Extent& o) const {
    return vcn == o.vcn && lcn == o.lcn && count == o.count;
  }
};

std::string Pattern(size_t size, char seed) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>(seed + i * 13 % 97);
  return s;
}

class NtfsVolume : public ::testing::Test {
 protected:
  DWORD Mount(CNtfsImageBuilder& b, bool readOnly = true) {
    std::string message;
    DWORD err = m_set.MountDevice('V', b.Device(), "ntfs", readOnly, &message);
    if (err != ERROR_SUCCESS) {
      m_strMessage = message;
      return err;
    }
    m_hVolume = m_set.CreateFileA("\\\\.\\V:", GENERIC_READ, 3, OPEN_EXISTING, 0);
    EXPECT_NE(INVALID_HANDLE_VALUE, m_hVolume);
    return ERROR_SUCCESS;
  }
  void TearDown() override {
    if (m_hVolume != INVALID_HANDLE_VALUE) m_set.CloseHandle(m_hVolume);
  }
  HANDLE Open(const std::string& path) {
    return m_set.CreateFileA(path.c_str(), GENERIC_READ, 7, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS);
  }
  // Names found by FindFirstFileA/FindNextFileA, or the error.
  DWORD List(const std::string& pattern, std::vector<WIN32_FIND_DATAA>* found) {
    found->clear();
    WIN32_FIND_DATAA data;
    HANDLE h = m_set.FindFirstFileA(pattern.c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return m_set.GetLastError();
    do {
      found->push_back(data);
    } while (m_set.FindNextFileA(h, &data));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_FILES), m_set.GetLastError());
    m_set.FindClose(h);
    return ERROR_SUCCESS;
  }
  std::vector<std::string> Names(const std::string& pattern) {
    std::vector<WIN32_FIND_DATAA> found;
    EXPECT_EQ(ERROR_SUCCESS, List(pattern, &found));
    std::vector<std::string> names;
    for (const auto& f : found) names.push_back(f.cFileName);
    return names;
  }
  DWORD Extents(HANDLE h, DWORD outSize, std::vector<Extent>* out, int64_t start = 0) {
    out->clear();
    int64_t vcn = start;
    std::vector<uint8_t> reply(outSize);
    while (true) {
      DWORD returned = 0;
      BOOL ok = m_set.DeviceIoControl(h, FSCTL_GET_RETRIEVAL_POINTERS, &vcn, sizeof(vcn),
                                      reply.data(), outSize, &returned);
      DWORD err = ok ? ERROR_SUCCESS : m_set.GetLastError();
      if (err != ERROR_SUCCESS && err != ERROR_MORE_DATA) return err;
      DWORD count = 0;
      int64_t prev = 0;
      std::memcpy(&count, reply.data(), 4);
      std::memcpy(&prev, reply.data() + 8, 8);
      for (DWORD i = 0; i < count; ++i) {
        int64_t next, lcn;
        std::memcpy(&next, reply.data() + 16 + 16 * i, 8);
        std::memcpy(&lcn, reply.data() + 24 + 16 * i, 8);
        out->push_back({prev, lcn, next - prev});
        prev = next;
      }
      if (err == ERROR_SUCCESS) return ERROR_SUCCESS;
      vcn = prev;
    }
  }
  DWORD FileRecord(uint64_t reference, std::vector<uint8_t>* reply, DWORD size = 8208,
                   DWORD inSize = 8) {
    reply->assign(size, 0);
    DWORD returned = 0;
    BOOL ok = m_set.DeviceIoControl(m_hVolume, FSCTL_GET_NTFS_FILE_RECORD, &reference, inSize,
                                    reply->data(), size, &returned);
    if (!ok) return m_set.GetLastError();
    EXPECT_EQ(12u + kBRecordBytes, returned);
    return ERROR_SUCCESS;
  }
  std::string ReadAll(const std::string& path, DWORD chunk = 1000) {
    HANDLE h = Open(path);
    EXPECT_NE(INVALID_HANDLE_VALUE, h) << path;
    std::string data;
    std::vector<char> buffer(chunk);
    DWORD read = 0;
    while (m_set.ReadFile(h, buffer.data(), chunk, &read) && read > 0) {
      data.append(buffer.data(), read);
    }
    m_set.CloseHandle(h);
    return data;
  }

  CImageVolumeSet m_set;
  HANDLE m_hVolume = INVALID_HANDLE_VALUE;
  std::string m_strMessage;
};

TEST_F(NtfsVolume, ReportsNtfsInformationGeometryAndVolumeData) {
  CNtfsImageBuilder b;
  b.SetLabel(u"Tëst");
  b.AddFile(CNtfsImageBuilder::kRoot, u"data.bin", Pattern(10000, 'a'));
  b.Finish();
  ASSERT_EQ(ERROR_SUCCESS, Mount(b, false));
  char label[64], fs[64];
  DWORD serial = 0, maxComponent = 0, flags = 0;
  ASSERT_TRUE(
      m_set.GetVolumeInformationA("V:\\", label, 64, &serial, &maxComponent, &flags, fs, 64));
  EXPECT_STREQ("NTFS", fs);
  EXPECT_STREQ(u8"Tëst", label);
  EXPECT_EQ(0x55667788u, serial);
  EXPECT_EQ(255u, maxComponent);
  EXPECT_EQ(0x03E700FFu, flags);

  // Clusters in use: 0..31 (the MFT, its mirror and $Bitmap inside), 2 index
  // blocks of the root (14 entries), 3 for the file.
  DWORD spc = 0, bps = 0, freeClusters = 0, total = 0;
  ASSERT_TRUE(m_set.GetDiskFreeSpaceA("V:\\", &spc, &bps, &freeClusters, &total));
  EXPECT_EQ(8u, spc);
  EXPECT_EQ(512u, bps);
  EXPECT_EQ(2048u, total);
  EXPECT_EQ(2048u - 32 - 2 - 3, freeClusters);

  NTFS_VOLUME_DATA_BUFFER data;
  DWORD returned = 0;
  ASSERT_TRUE(m_set.DeviceIoControl(m_hVolume, FSCTL_GET_NTFS_VOLUME_DATA, nullptr, 0, &data,
                                    sizeof(data), &returned));
  EXPECT_EQ(96u, returned);
  EXPECT_EQ(0x1122334455667788LL, data.VolumeSerialNumber.QuadPart);
  EXPECT_EQ(2048 * 8, data.NumberSectors.QuadPart);
  EXPECT_EQ(2048, data.TotalClusters.QuadPart);
  EXPECT_EQ(static_cast<LONGLONG>(freeClusters), data.FreeClusters.QuadPart);
  EXPECT_EQ(0, data.TotalReserved.QuadPart);
  EXPECT_EQ(512u, data.BytesPerSector);
  EXPECT_EQ(4096u, data.BytesPerCluster);
  EXPECT_EQ(1024u, data.BytesPerFileRecordSegment);
  EXPECT_EQ(0u, data.ClustersPerFileRecordSegment);
  EXPECT_EQ(64 * 1024, data.MftValidDataLength.QuadPart);
  EXPECT_EQ(4, data.MftStartLcn.QuadPart);
  EXPECT_EQ(20, data.Mft2StartLcn.QuadPart);
  EXPECT_EQ(20, data.MftZoneStart.QuadPart);  // right after the MFT's 16 clusters
  EXPECT_EQ(20 + 2048 / 8, data.MftZoneEnd.QuadPart);
  EXPECT_FALSE(m_set.DeviceIoControl(m_hVolume, FSCTL_GET_NTFS_VOLUME_DATA, nullptr, 0, &data, 95,
                                     &returned));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), m_set.GetLastError());

  // The bitmap reply shows the same clusters in use.
  std::vector<uint8_t> reply(16 + 256);
  int64_t start = 0;
  ASSERT_TRUE(m_set.DeviceIoControl(m_hVolume, FSCTL_GET_VOLUME_BITMAP, &start, 8, reply.data(),
                                    static_cast<DWORD>(reply.size()), &returned));
  int used = 0;
  for (size_t i = 16; i < reply.size(); ++i) {
    for (int bit = 0; bit < 8; ++bit) used += (reply[i] >> bit) & 1;
  }
  EXPECT_EQ(37, used);
  EXPECT_EQ(0xFF, reply[16]);  // LCN 0 is the first cluster on NTFS
  start = 2048;
  EXPECT_FALSE(m_set.DeviceIoControl(m_hVolume, FSCTL_GET_VOLUME_BITMAP, &start, 8, reply.data(),
                                     static_cast<DWORD>(reply.size()), &returned));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), m_set.GetLastError());
}

TEST_F(NtfsVolume, FileRecordControlAnswersLikeWindows) {
  CNtfsImageBuilder b;
  const uint64_t first = b.AddFile(CNtfsImageBuilder::kRoot, u"a.txt", "a");
  const uint64_t second = b.AddFile(CNtfsImageBuilder::kRoot, u"b.txt", "b");
  b.Finish();
  ASSERT_EQ(ERROR_SUCCESS, Mount(b));
  std::vector<uint8_t> reply;
  // An in-use record comes back with its fix-ups undone, as read raw.
  ASSERT_EQ(ERROR_SUCCESS, FileRecord(second, &reply));
  std::vector<uint8_t> raw(b.Bytes().begin() + b.RecordOffset(second),
                           b.Bytes().begin() + b.RecordOffset(second) + kBRecordBytes);
  ASSERT_EQ(ERROR_SUCCESS, ntfs::ApplyFixups(raw.data(), raw.size()));
  EXPECT_EQ(second, Le32(reply.data()));
  EXPECT_EQ(0u, Le32(reply.data() + 4));
  EXPECT_EQ(kBRecordBytes, Le32(reply.data() + 8));
  EXPECT_EQ(0, std::memcmp(raw.data(), reply.data() + 12, kBRecordBytes));
  // The sequence number in the reference is ignored.
  ASSERT_EQ(ERROR_SUCCESS, FileRecord(first | (0x7777ull << 48), &reply));
  EXPECT_EQ(first, Le32(reply.data()));
  // A record not in use: the nearest lower one in use.
  ASSERT_EQ(ERROR_SUCCESS, FileRecord(second + 10, &reply));
  EXPECT_EQ(second, Le32(reply.data()));
  EXPECT_EQ(0x454C4946u, Le32(reply.data() + 12));
  // Past the MFT, short buffers, and a file handle.
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), FileRecord(64, &reply));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), FileRecord(1ull << 40, &reply));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), FileRecord(second, &reply, 1035));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), FileRecord(second, &reply, 8208, 7));
  HANDLE file = Open("V:\\a.txt");
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  uint64_t ref = first;
  DWORD returned = 0;
  EXPECT_FALSE(m_set.DeviceIoControl(file, FSCTL_GET_NTFS_FILE_RECORD, &ref, 8, reply.data(), 8208,
                                     &returned));
  m_set.CloseHandle(file);
}

TEST_F(NtfsVolume, TornRecordIsReportedByTheControlAndWhenOpened) {
  CNtfsImageBuilder b;
  const uint64_t n = b.AddFile(CNtfsImageBuilder::kRoot, u"torn.txt", "x");
  b.Finish();
  b.Bytes()[b.RecordOffset(n) + 0x3FE] ^= 0xFF;
  ASSERT_EQ(ERROR_SUCCESS, Mount(b));
  std::vector<uint8_t> reply;
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_CORRUPT), FileRecord(n, &reply));
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open("V:\\torn.txt"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_CORRUPT), m_set.GetLastError());
  // The listing comes from the folder's index and still shows it.
  EXPECT_EQ(std::vector<std::string>{"torn.txt"}, Names("V:\\*"));
}

TEST_F(NtfsVolume, ListingsHideMetafilesShowDotsAndShortNames) {
  CNtfsImageBuilder b;
  const uint64_t dir = b.AddFolder(CNtfsImageBuilder::kRoot, u"Folder", 0x20);
  const uint64_t longName = b.AddFile(dir, u"Long File Name.txt", "long");
  b.AddName(longName, dir, u"LONGFI~1.TXT", 2);
  const uint64_t both = b.AddFile(dir, u"SHORT.TXT", "short");
  b.SetNamespace(both, 3);
  b.AddFile(dir, u"b\u00e9ta\u4e2d.txt", "unicode");
  b.AddFile(CNtfsImageBuilder::kRoot, u"hidden.sys", std::string(700, 'h'), 0x06);
  b.Finish();
  ASSERT_EQ(ERROR_SUCCESS, Mount(b));
  EXPECT_EQ((std::vector<std::string>{"Folder", "hidden.sys"}), Names("V:\\*"));
  std::vector<WIN32_FIND_DATAA> found;
  ASSERT_EQ(ERROR_SUCCESS, List("V:\\Folder\\*", &found));
  ASSERT_EQ(5u, found.size());  // the DOS-only entry is not a file of its own
  EXPECT_STREQ(".", found[0].cFileName);
  EXPECT_STREQ("..", found[1].cFileName);
  EXPECT_TRUE(found[0].dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_TRUE(found[1].dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_STREQ(u8"béta中.txt", found[2].cFileName);
  std::vector<WIN32_FIND_DATAA> byName;
  EXPECT_EQ(ERROR_SUCCESS, List(u8"V:\\FOLDER\\BÉTA中.TXT", &byName));
  EXPECT_STREQ("Long File Name.txt", found[3].cFileName);
  EXPECT_STREQ("LONGFI~1.TXT", found[3].cAlternateFileName);
  EXPECT_EQ(4u, found[3].nFileSizeLow);
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE), found[3].dwFileAttributes);
  EXPECT_EQ(0x01D50000u, found[3].ftLastWriteTime.dwHighDateTime);
  EXPECT_EQ(2u, found[3].ftLastWriteTime.dwLowDateTime);
  EXPECT_EQ(1u, found[3].ftCreationTime.dwLowDateTime);
  EXPECT_EQ(4u, found[3].ftLastAccessTime.dwLowDateTime);
  EXPECT_STREQ("SHORT.TXT", found[4].cFileName);
  EXPECT_STREQ("", found[4].cAlternateFileName);  // one name serves both
  ASSERT_EQ(ERROR_SUCCESS, List("V:\\*", &found));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_ARCHIVE),
            found[0].dwFileAttributes);
  EXPECT_EQ(0u, found[0].nFileSizeLow);
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
            found[1].dwFileAttributes);
  EXPECT_EQ((std::vector<std::string>{"Long File Name.txt"}), Names("V:\\Folder\\LONGFI~1.*"));

  // Opening: any case, the DOS name, and the metafiles by name.
  EXPECT_EQ("long", ReadAll("V:\\FOLDER\\long file name.TXT"));
  EXPECT_EQ("long", ReadAll("V:\\Folder\\LONGFI~1.TXT"));
  HANDLE mft = Open("V:\\$MFT");
  ASSERT_NE(INVALID_HANDLE_VALUE, mft);
  std::vector<Extent> extents;
  ASSERT_EQ(ERROR_SUCCESS, Extents(mft, 1024, &extents));
  EXPECT_EQ((std::vector<Extent>{{0, 4, 16}}), extents);
  LARGE_INTEGER size;
  ASSERT_TRUE(m_set.GetFileSizeEx(mft, &size));
  EXPECT_EQ(64 * 1024, size.QuadPart);
  m_set.CloseHandle(mft);
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
            m_set.GetFileAttributesA("V:\\$Bitmap"));
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open("V:\\Folder\\nothing.txt"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), m_set.GetLastError());
}

TEST_F(NtfsVolume, FoldersWithIndexBlocksListInOrderAndReportTheirAllocation) {
  CNtfsImageBuilder b;
  const uint64_t dir = b.AddFolder(CNtfsImageBuilder::kRoot, u"many");
  b.AddFile(b.AddFolder(CNtfsImageBuilder::kRoot, u"few"), u"one.txt", "1");
  std::vector<std::string> expected = {".", ".."};
  for (int i = 0; i < 40; ++i) {
    char name[16];
    std::snprintf(name, sizeof(name), "file%02d.txt", i);
    std::u16string wide(name, name + std::strlen(name));
    b.AddFile(dir, wide, std::string(1, static_cast<char>('A' + i % 26)));
    expected.push_back(name);
  }
  b.Finish();
  ASSERT_EQ(ERROR_SUCCESS, Mount(b));
  EXPECT_EQ(expected, Names("V:\\many\\*"));
  EXPECT_EQ("Z", ReadAll("V:\\many\\file25.txt"));
  HANDLE h = Open("V:\\many");
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  std::vector<Extent> extents;
  ASSERT_EQ(ERROR_SUCCESS, Extents(h, 1024, &extents));
  ASSERT_EQ(1u, extents.size());
  EXPECT_EQ(static_cast<int64_t>(b.IndexBlockLcn(dir, 0)), extents[0].lcn);
  EXPECT_EQ(5, extents[0].count);  // 40 entries: 5 leaves, 4 entries moved up
  m_set.CloseHandle(h);
  // A folder whose index stays in its record has no clusters.
  h = Open("V:\\few");
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  EXPECT_EQ(static_cast<DWORD>(ERROR_HANDLE_EOF), Extents(h, 1024, &extents));
  m_set.CloseHandle(h);
}

TEST_F(NtfsVolume, DamagedOrLoopingIndexBlocksFailTheListingNotTheProcess) {
  for (int damage = 0; damage < 3; ++damage) {
    CNtfsImageBuilder b;
    const uint64_t dir = b.AddFolder(CNtfsImageBuilder::kRoot, u"many");
    for (int i = 0; i < 20; ++i) b.AddFile(dir, u"f" + std::u16string(1, u'a' + i), "x");
    b.Finish();
    const uint64_t block = b.ClusterOffset(b.IndexBlockLcn(dir, 1));
    if (damage == 0) b.Bytes()[block + 0x5FE] ^= 1;  // torn stride
    if (damage == 1) b.Bytes()[block] = 'X';         // not an index block
    if (damage == 2) {
      // The block claims to be the first one: its VCN no longer matches.
      std::vector<uint8_t> first(
          b.Bytes().begin() + b.ClusterOffset(b.IndexBlockLcn(dir, 0)),
          b.Bytes().begin() + b.ClusterOffset(b.IndexBlockLcn(dir, 0)) + 4096);
      b.Write(block, first.data(), first.size());
    }
    CImageVolumeSet set;
    ASSERT_EQ(ERROR_SUCCESS, set.MountDevice('V', b.Device(), "d", true));
    WIN32_FIND_DATAA data;
    EXPECT_EQ(INVALID_HANDLE_VALUE, set.FindFirstFileA("V:\\many\\*", &data)) << damage;
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_CORRUPT), set.GetLastError()) << damage;
    // The rest of the volume is still there.
    HANDLE h = set.FindFirstFileA("V:\\*", &data);
    EXPECT_NE(INVALID_HANDLE_VALUE, h);
    set.FindClose(h);
  }
}

TEST_F(NtfsVolume, SparseRunsKeepLcnMinusOneAndReadAsZeros) {
  CNtfsImageBuilder b;
  const uint64_t lcn = b.Allocate(3);
  b.Write(b.ClusterOffset(lcn), Pattern(3 * 4096, 'q').data(), 3 * 4096);
  b.AddFileRuns(CNtfsImageBuilder::kRoot, u"sparse.bin", 6 * 4096 - 100,
                {{kBHole, 2},
                 {static_cast<int64_t>(lcn), 1},
                 {kBHole, 1},
                 {static_cast<int64_t>(lcn + 1), 2}},
                {}, 0x8000);
  b.Finish();
  ASSERT_EQ(ERROR_SUCCESS, Mount(b));
  HANDLE h = Open("V:\\sparse.bin");
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  std::vector<Extent> extents;
  const int64_t l = static_cast<int64_t>(lcn);
  ASSERT_EQ(ERROR_SUCCESS, Extents(h, 1024, &extents));
  EXPECT_EQ((std::vector<Extent>{{0, -1, 2}, {2, l, 1}, {3, -1, 1}, {4, l + 1, 2}}), extents);
  // One extent per reply; a start inside a sparse run stays sparse.
  ASSERT_EQ(ERROR_SUCCESS, Extents(h, 32, &extents, 1));
  EXPECT_EQ((std::vector<Extent>{{1, -1, 1}, {2, l, 1}, {3, -1, 1}, {4, l + 1, 2}}), extents);
  ASSERT_EQ(ERROR_SUCCESS, Extents(h, 32, &extents, 5));
  EXPECT_EQ((std::vector<Extent>{{5, l + 2, 1}}), extents);
  int64_t past = 6;
  std::vector<uint8_t> reply(64);
  DWORD returned = 0;
  EXPECT_FALSE(m_set.DeviceIoControl(h, FSCTL_GET_RETRIEVAL_POINTERS, &past, 8, reply.data(), 64,
                                     &returned));
  EXPECT_EQ(static_cast<DWORD>(ERROR_HANDLE_EOF), m_set.GetLastError());
  LARGE_INTEGER size;
  ASSERT_TRUE(m_set.GetFileSizeEx(h, &size));
  EXPECT_EQ(6 * 4096 - 100, size.QuadPart);
  m_set.CloseHandle(h);
  const std::string data = ReadAll("V:\\sparse.bin", 3000);
  const std::string stored = Pattern(3 * 4096, 'q');
  ASSERT_EQ(static_cast<size_t>(6 * 4096 - 100), data.size());
  EXPECT_EQ(std::string(8192, '\0'), data.substr(0, 8192));
  EXPECT_EQ(stored.substr(0, 4096), data.substr(8192, 4096));
  EXPECT_EQ(std::string(4096, '\0'), data.substr(12288, 4096));
  EXPECT_EQ(stored.substr(4096, 8192 - 100), data.substr(16384));
}

TEST_F(NtfsVolume, ResidentAndEmptyFilesHaveNoExtentsButTheirSize) {
  CNtfsImageBuilder b;
  b.AddFile(CNtfsImageBuilder::kRoot, u"tiny.txt", "hello, resident world");
  b.AddFile(CNtfsImageBuilder::kRoot, u"empty.txt", "");
  b.Finish();
  ASSERT_EQ(ERROR_SUCCESS, Mount(b));
  for (const char* path : {"V:\\tiny.txt", "V:\\empty.txt"}) {
    HANDLE h = Open(path);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    std::vector<Extent> extents;
    EXPECT_EQ(static_cast<DWORD>(ERROR_HANDLE_EOF), Extents(h, 1024, &extents)) << path;
    m_set.CloseHandle(h);
  }
  EXPECT_EQ("hello, resident world", ReadAll("V:\\tiny.txt", 5));
  EXPECT_EQ("", ReadAll("V:\\empty.txt"));
}

TEST_F(NtfsVolume, DataSpreadOverExtensionRecordsIsFollowedThroughTheAttributeList) {
  CNtfsImageBuilder b;
  std::vector<CBRun> runs;
  std::string content;
  for (int i = 0; i < 9; ++i) {
    const uint64_t lcn = b.Allocate(2);
    b.Allocate(1);  // a gap keeps the pieces apart
    runs.push_back({static_cast<int64_t>(lcn), 2});
    const std::string piece = Pattern(8192, static_cast<char>('A' + i));
    b.Write(b.ClusterOffset(lcn), piece.data(), piece.size());
    content += piece;
  }
  b.AddFileRuns(CNtfsImageBuilder::kRoot, u"pieces.bin", content.size(), runs, {3, 6});
  b.Finish();
  ASSERT_EQ(ERROR_SUCCESS, Mount(b));
  HANDLE h = Open("V:\\pieces.bin");
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  std::vector<Extent> extents;
  ASSERT_EQ(ERROR_SUCCESS, Extents(h, 1024, &extents));
  ASSERT_EQ(9u, extents.size());
  for (int i = 0; i < 9; ++i) EXPECT_EQ((Extent{2 * i, runs[i].lcn, 2}), extents[i]);
  m_set.CloseHandle(h);
  EXPECT_EQ(content, ReadAll("V:\\pieces.bin", 5000));
}

TEST_F(NtfsVolume, ExtensionRecordOfAnotherFileIsDamageNotData) {
  CNtfsImageBuilder b;
  const uint64_t lcn = b.Allocate(4);
  const uint64_t n =
      b.AddFileRuns(CNtfsImageBuilder::kRoot, u"split.bin", 4 * 4096,
                    {{static_cast<int64_t>(lcn), 2}, {static_cast<int64_t>(lcn + 3), 2}}, {1});
  b.Finish();
  // The extension record (the next record) now claims another base.
  const uint64_t ext = n + 1;
  std::vector<uint8_t> record(b.Bytes().begin() + b.RecordOffset(ext),
                              b.Bytes().begin() + b.RecordOffset(ext) + kBRecordBytes);
  ASSERT_EQ(ERROR_SUCCESS, ntfs::ApplyFixups(record.data(), record.size()));
  PutLe32(record.data() + 0x20, 7);
  ProtectStrides(&record, 0x30, 3);
  b.Write(b.RecordOffset(ext), record.data(), record.size());
  ASSERT_EQ(ERROR_SUCCESS, Mount(b));
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open("V:\\split.bin"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_CORRUPT), m_set.GetLastError());
}

TEST_F(NtfsVolume, MftSpreadOverAnExtensionRecordReachesItsSecondHalf) {
  CNtfsImageBuilder b;
  b.SplitMft();
  const uint64_t n = b.AddFile(CNtfsImageBuilder::kRoot, u"far.txt", Pattern(5000, 'f'));
  b.Finish();
  ASSERT_EQ(32u, n);  // every user record lies in the second half
  ASSERT_EQ(ERROR_SUCCESS, Mount(b));
  EXPECT_EQ(Pattern(5000, 'f'), ReadAll("V:\\far.txt"));
  std::vector<uint8_t> reply;
  ASSERT_EQ(ERROR_SUCCESS, FileRecord(n, &reply));
  EXPECT_EQ(n, Le32(reply.data()));
  std::vector<uint8_t> raw(b.Bytes().begin() + b.RecordOffset(n),
                           b.Bytes().begin() + b.RecordOffset(n) + kBRecordBytes);
  ASSERT_EQ(ERROR_SUCCESS, ntfs::ApplyFixups(raw.data(), raw.size()));
  EXPECT_EQ(0, std::memcmp(raw.data(), reply.data() + 12, kBRecordBytes));
  HANDLE mft = Open("V:\\$MFT");
  std::vector<Extent> extents;
  ASSERT_EQ(ERROR_SUCCESS, Extents(mft, 1024, &extents));
  EXPECT_EQ((std::vector<Extent>{{0, 4, 8}, {8, 40, 8}}), extents);
  m_set.CloseHandle(mft);
}

TEST_F(NtfsVolume, DamagedBootSectorsAndMftsAreRefusedWithAReason) {
  struct Case {
    size_t at;
    uint8_t value;
    DWORD error;
  };
  const Case cases[] = {
      {0x0B, 0x03, ERROR_DISK_CORRUPT},  // 515 bytes per sector
      {0x0D, 0x03, ERROR_DISK_CORRUPT},  // 3 sectors per cluster
      {0x37, 0x01, ERROR_DISK_CORRUPT},  // MFT past the volume
      {0x40, 0x00, ERROR_DISK_CORRUPT},  // no record size
      {0x40, 0xE0, ERROR_DISK_CORRUPT},  // 4 GB records
      {0x44, 0x00, ERROR_DISK_CORRUPT},  // no index block size
      {0x30, 0x05, ERROR_DISK_CORRUPT},  // the MFT is not where it says
      {0x2F, 0x01, ERROR_DISK_CORRUPT},  // more sectors than any volume
      {0x29, 0x50, ERROR_DISK_CORRUPT},  // more sectors than the image has
  };
  for (const Case& c : cases) {
    CNtfsImageBuilder b;
    b.Finish();
    b.Bytes()[c.at] = c.value;
    CImageVolumeSet set;
    std::string message;
    EXPECT_EQ(c.error, set.MountDevice('V', b.Device(), "bad", true, &message)) << c.at;
    EXPECT_FALSE(message.empty());
  }
  // The first MFT record torn, and its run list pointing outside.
  CNtfsImageBuilder torn;
  torn.Finish();
  torn.Bytes()[torn.RecordOffset(0) + 0x1FE] ^= 1;
  CImageVolumeSet set;
  std::string message;
  EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_CORRUPT),
            set.MountDevice('V', torn.Device(), "t", true, &message));
  EXPECT_NE(std::string::npos, message.find("MFT")) << message;
}

// Every byte of the root folder's record and of a file's record changed in
// turn: the volume mounts or is refused, and walking it never reads outside
// its buffers (checked under AddressSanitizer) or hangs.
TEST_F(NtfsVolume, ByteDamageSweepNeverCrashes) {
  CNtfsImageBuilder b;
  const uint64_t dir = b.AddFolder(CNtfsImageBuilder::kRoot, u"many");
  for (int i = 0; i < 12; ++i)
    b.AddFile(dir, u"f" + std::u16string(1, u'a' + i), Pattern(5000, 'x'));
  const uint64_t file =
      b.AddFileRuns(CNtfsImageBuilder::kRoot, u"split.bin", 8192, {{100, 1}, {102, 1}}, {1});
  b.Finish();
  const std::vector<uint8_t> clean = b.Bytes();
  const uint64_t targets[] = {b.RecordOffset(CNtfsImageBuilder::kRoot), b.RecordOffset(dir),
                              b.RecordOffset(file), b.ClusterOffset(b.IndexBlockLcn(dir, 0))};
  int mounted = 0;
  for (uint64_t base : targets) {
    for (size_t at = 0; at < 1024; at += 5) {
      b.Bytes() = clean;
      b.Bytes()[base + at] ^= static_cast<uint8_t>(0x5A + at);
      // Keep the update sequence intact so the damage reaches the parsers.
      if ((at + 2) % 512 == 0 || (at + 1) % 512 == 0) continue;
      CImageVolumeSet set;
      if (set.MountDevice('V', b.Device(), "sweep", true) != ERROR_SUCCESS) continue;
      ++mounted;
      for (const char* pattern : {"V:\\*", "V:\\many\\*"}) {
        WIN32_FIND_DATAA data;
        HANDLE h = set.FindFirstFileA(pattern, &data);
        if (h == INVALID_HANDLE_VALUE) continue;
        do {
          std::string path = std::string(pattern, std::strlen(pattern) - 1) + data.cFileName;
          HANDLE f = set.CreateFileA(path.c_str(), GENERIC_READ, 7, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS);
          if (f == INVALID_HANDLE_VALUE) continue;
          std::vector<uint8_t> reply(1024);
          int64_t vcn = 0;
          DWORD returned = 0;
          set.DeviceIoControl(f, FSCTL_GET_RETRIEVAL_POINTERS, &vcn, 8, reply.data(), 1024,
                              &returned);
          char buffer[4096];
          DWORD read = 0;
          set.ReadFile(f, buffer, sizeof(buffer), &read);
          set.CloseHandle(f);
        } while (set.FindNextFileA(h, &data));
        set.FindClose(h);
      }
    }
  }
  EXPECT_GT(mounted, 0);
}

}  // namespace
}  // namespace test
}  // namespace vt
