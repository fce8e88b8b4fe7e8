// The volume bitmap and retrieval pointer replies, chain damage, and raw
// and file reads.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/image/volume_set.h"
#include "tests/image/fat_builder.h"

namespace vt {
namespace test {
namespace {

struct Extent {
  int64_t vcn;  // first VCN of the extent
  int64_t lcn;
  int64_t count;
  bool operator==(const Extent& o) const {
    return vcn == o.vcn && lcn == o.lcn && count == o.count;
  }
};

class ControlsTest : public ::testing::Test {
 protected:
  void Mount(CFatImageBuilder& b, bool readOnly = false) {
    ASSERT_EQ(ERROR_SUCCESS, m_set.MountDevice('V', b.Device(readOnly), "controls", readOnly));
    m_hVolume = m_set.CreateFileA("\\\\.\\V:", GENERIC_READ, 3, OPEN_EXISTING, 0);
    ASSERT_NE(INVALID_HANDLE_VALUE, m_hVolume);
  }
  void TearDown() override {
    if (m_hVolume != INVALID_HANDLE_VALUE) m_set.CloseHandle(m_hVolume);
  }
  HANDLE Open(const char* path) {
    return m_set.CreateFileA(path, GENERIC_READ, 7, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  }
  // One bitmap call; the reply bytes go to `reply`.
  BOOL Bitmap(int64_t start, DWORD outSize, std::vector<uint8_t>* reply, DWORD* returned) {
    reply->assign(outSize, 0xEE);
    return m_set.DeviceIoControl(m_hVolume, FSCTL_GET_VOLUME_BITMAP, &start, sizeof(start),
                                 reply->data(), outSize, returned);
  }
  // Every extent of a file, asked with a reply buffer of `outSize` bytes.
  DWORD Extents(HANDLE h, DWORD outSize, std::vector<Extent>* out, int* calls = nullptr) {
    out->clear();
    int64_t vcn = 0;
    std::vector<uint8_t> reply(outSize);
    for (int n = 1;; ++n) {
      if (calls) *calls = n;
      DWORD returned = 0;
      BOOL ok = m_set.DeviceIoControl(h, FSCTL_GET_RETRIEVAL_POINTERS, &vcn, sizeof(vcn),
                                      reply.data(), outSize, &returned);
      DWORD err = ok ? ERROR_SUCCESS : m_set.GetLastError();
      if (err != ERROR_SUCCESS && err != ERROR_MORE_DATA) return err;
      RETRIEVAL_POINTERS_BUFFER head;
      std::memcpy(&head, reply.data(), 16);
      EXPECT_EQ(16u + 16u * head.ExtentCount, returned);
      int64_t prev = head.StartingVcn.QuadPart;
      for (DWORD i = 0; i < head.ExtentCount; ++i) {
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

  CImageVolumeSet m_set;
  HANDLE m_hVolume = INVALID_HANDLE_VALUE;
};

TEST_F(ControlsTest, BitmapMarksEveryNonFreeEntryIncludingBadClusters) {
  CFatImageBuilder b(EBuildType::kFat12);
  b.AddFile(0, u"", "A       BIN", {2, 3, 9}, std::string(1200, 'a'));
  b.SetFat(20, b.BadCluster());
  b.SetFat(b.TotalClusters() + 1, b.EndOfChain());  // the very last cluster
  Mount(b);
  std::vector<uint8_t> reply;
  DWORD returned = 0;
  ASSERT_TRUE(Bitmap(0, 16 + (b.TotalClusters() + 7) / 8, &reply, &returned));
  EXPECT_EQ(16u + (b.TotalClusters() + 7) / 8, returned);
  int64_t start, size;
  std::memcpy(&start, &reply[0], 8);
  std::memcpy(&size, &reply[8], 8);
  EXPECT_EQ(0, start);
  EXPECT_EQ(static_cast<int64_t>(b.TotalClusters()), size);
  auto used = [&](uint32_t lcn) { return (reply[16 + lcn / 8] >> (lcn % 8)) & 1; };
  for (uint32_t lcn = 0; lcn < b.TotalClusters(); ++lcn) {
    bool expect = lcn == 0 || lcn == 1 || lcn == 7 || lcn == 18 || lcn == b.TotalClusters() - 1;
    ASSERT_EQ(expect, used(lcn) == 1) << "LCN " << lcn;
  }
}

TEST_F(ControlsTest, BitmapStartsOnAByteAndCutsAtTheBuffer) {
  CFatImageBuilder b(EBuildType::kFat16);
  b.AddFile(0, u"", "A       BIN", {10, 11}, std::string(700, 'a'));  // LCN 8, 9
  Mount(b);
  const int64_t total = b.TotalClusters();
  std::vector<uint8_t> reply;
  DWORD returned = 0;

  // The open probe: a 24-byte buffer gets 8 clusters and ERROR_MORE_DATA.
  EXPECT_FALSE(Bitmap(0, 24, &reply, &returned));
  EXPECT_EQ(static_cast<DWORD>(ERROR_MORE_DATA), m_set.GetLastError());
  EXPECT_EQ(24u, returned);
  int64_t start, size;
  std::memcpy(&start, &reply[0], 8);
  std::memcpy(&size, &reply[8], 8);
  EXPECT_EQ(0, start);
  EXPECT_EQ(total, size);

  // A start inside a byte is rounded down to the byte.
  ASSERT_FALSE(Bitmap(13, 25, &reply, &returned));
  std::memcpy(&start, &reply[0], 8);
  std::memcpy(&size, &reply[8], 8);
  EXPECT_EQ(8, start);
  EXPECT_EQ(total - 8, size);
  EXPECT_EQ(0x03, reply[16]);  // LCN 8 and 9
  EXPECT_EQ(25u, returned);

  // The last cluster is a valid start; one past it is not.
  EXPECT_TRUE(Bitmap(total - 1, 64, &reply, &returned));
  EXPECT_EQ(16u + 1u, returned);
  EXPECT_FALSE(Bitmap(total, 64, &reply, &returned));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), m_set.GetLastError());
  EXPECT_FALSE(Bitmap(-8, 64, &reply, &returned));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), m_set.GetLastError());

  // A buffer smaller than the published structure is refused, as Windows
  // does: the 16-byte header alone is not enough.
  EXPECT_FALSE(Bitmap(0, 23, &reply, &returned));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), m_set.GetLastError());
  EXPECT_EQ(0u, returned);

  // Bitmaps are volume controls: a file handle is refused.
  HANDLE file = Open("V:\\A.BIN");
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  int64_t zero = 0;
  EXPECT_FALSE(
      m_set.DeviceIoControl(file, FSCTL_GET_VOLUME_BITMAP, &zero, 8, reply.data(), 64, &returned));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), m_set.GetLastError());
  m_set.CloseHandle(file);
}

TEST_F(ControlsTest, BitmapAskedPieceByPieceEqualsTheWholeReply) {
  CFatImageBuilder b(EBuildType::kFat12);
  for (uint32_t c = 2; c < b.TotalClusters(); c += 3) b.SetFat(c, b.EndOfChain());
  Mount(b);
  std::vector<uint8_t> whole;
  DWORD returned = 0;
  ASSERT_TRUE(Bitmap(0, 4096, &whole, &returned));
  std::vector<uint8_t> joined;
  int64_t lcn = 0;
  std::vector<uint8_t> reply;
  for (;;) {
    BOOL ok = Bitmap(lcn, 16 + 37, &reply, &returned);
    if (!ok && m_set.GetLastError() == ERROR_INVALID_PARAMETER) break;
    ASSERT_TRUE(ok || m_set.GetLastError() == ERROR_MORE_DATA);
    joined.insert(joined.end(), reply.begin() + 16, reply.begin() + returned);
    lcn += static_cast<int64_t>(returned - 16) * 8;
  }
  EXPECT_EQ(std::vector<uint8_t>(whole.begin() + 16, whole.begin() + 16 + joined.size()), joined);
  EXPECT_EQ((b.TotalClusters() + 7) / 8, joined.size());
}

TEST_F(ControlsTest, RetrievalPointersFollowTheChainInPhysicalRuns) {
  CFatImageBuilder b(EBuildType::kFat32);
  // Runs: 10-12, 40, 20-21, 13 (adjacent on disk to the first run, but
  // later in the file, so a run of its own).
  b.AddFile(0, u"fragmented.bin", "FRAGME~1BIN", {10, 11, 12, 40, 20, 21, 13},
            std::string(7 * 512 - 100, 'f'));
  b.AddFile(0, u"", "EMPTY   TXT", {}, "");
  Mount(b);
  HANDLE h = Open("V:\\fragmented.bin");
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  std::vector<Extent> all;
  ASSERT_EQ(ERROR_SUCCESS, Extents(h, 4096, &all));
  std::vector<Extent> expected = {{0, 8, 3}, {3, 38, 1}, {4, 18, 2}, {6, 11, 1}};
  EXPECT_EQ(expected, all);

  // The smallest reply (one extent) asked again from each last NextVcn.
  std::vector<Extent> tiny;
  int calls = 0;
  ASSERT_EQ(ERROR_SUCCESS, Extents(h, 32, &tiny, &calls));
  EXPECT_EQ(expected, tiny);
  EXPECT_EQ(4, calls);
  // 40 bytes still hold only one extent.
  ASSERT_EQ(ERROR_SUCCESS, Extents(h, 40, &tiny));
  EXPECT_EQ(expected, tiny);

  // A start inside a run starts the reply mid-run.
  int64_t vcn = 1;
  std::vector<uint8_t> reply(64);
  DWORD returned = 0;
  ASSERT_FALSE(
      m_set.DeviceIoControl(h, FSCTL_GET_RETRIEVAL_POINTERS, &vcn, 8, reply.data(), 48, &returned));
  EXPECT_EQ(static_cast<DWORD>(ERROR_MORE_DATA), m_set.GetLastError());
  RETRIEVAL_POINTERS_BUFFER head;
  std::memcpy(&head, reply.data(), 32);
  EXPECT_EQ(2u, head.ExtentCount);
  EXPECT_EQ(1, head.StartingVcn.QuadPart);
  EXPECT_EQ(3, head.Extents[0].NextVcn.QuadPart);
  EXPECT_EQ(9, head.Extents[0].Lcn.QuadPart);

  // At and past the allocation: end of file. Negative: the same.
  for (int64_t at : {int64_t(7), int64_t(1000), int64_t(-1)}) {
    EXPECT_FALSE(m_set.DeviceIoControl(h, FSCTL_GET_RETRIEVAL_POINTERS, &at, 8, reply.data(), 64,
                                       &returned));
    EXPECT_EQ(static_cast<DWORD>(ERROR_HANDLE_EOF), m_set.GetLastError());
  }
  // Too small for the header and one extent.
  vcn = 0;
  EXPECT_FALSE(
      m_set.DeviceIoControl(h, FSCTL_GET_RETRIEVAL_POINTERS, &vcn, 8, reply.data(), 31, &returned));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), m_set.GetLastError());
  EXPECT_FALSE(
      m_set.DeviceIoControl(h, FSCTL_GET_RETRIEVAL_POINTERS, &vcn, 4, reply.data(), 64, &returned));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), m_set.GetLastError());
  m_set.CloseHandle(h);

  HANDLE empty = Open("V:\\EMPTY.TXT");
  ASSERT_NE(INVALID_HANDLE_VALUE, empty);
  EXPECT_EQ(static_cast<DWORD>(ERROR_HANDLE_EOF), Extents(empty, 64, &all));
  m_set.CloseHandle(empty);

  // The FAT32 root folder is a chain like any folder.
  HANDLE root = Open("V:\\");
  ASSERT_NE(INVALID_HANDLE_VALUE, root);
  ASSERT_EQ(ERROR_SUCCESS, Extents(root, 64, &all));
  EXPECT_EQ((std::vector<Extent>{{0, 0, 1}}), all);
  m_set.CloseHandle(root);
}

TEST_F(ControlsTest, FixedRootFolderHasNoClusters) {
  CFatImageBuilder b(EBuildType::kFat16);
  Mount(b);
  HANDLE root = Open("V:\\");
  ASSERT_NE(INVALID_HANDLE_VALUE, root);
  std::vector<Extent> all;
  EXPECT_EQ(static_cast<DWORD>(ERROR_HANDLE_EOF), Extents(root, 64, &all));
  m_set.CloseHandle(root);
}

TEST_F(ControlsTest, DamagedChainsAreFileCorruptAndHarmNothingElse) {
  CFatImageBuilder b(EBuildType::kFat16);
  auto entry = [&](const char* name11, uint32_t first) {
    b.AddShortEntry(0, name11, 0x20, first, 5000);
  };
  entry("LOOP    BIN", 10);  // 10 -> 11 -> 12 -> 10
  b.SetFat(10, 11);
  b.SetFat(11, 12);
  b.SetFat(12, 10);
  entry("SELF    BIN", 20);  // 20 -> 20
  b.SetFat(20, 20);
  entry("TOFREE  BIN", 30);  // 30 -> 31, and 31 is free
  b.SetFat(30, 31);
  entry("TOBAD   BIN", 40);  // 40 -> bad
  b.SetFat(40, b.BadCluster());
  entry("FARAWAY BIN", 50);  // 50 -> past the end
  b.SetFat(50, b.TotalClusters() + 5);
  entry("RESERVEDBIN", 60);  // 60 -> 1
  b.SetFat(60, 1);
  entry("PASTEND BIN", b.TotalClusters() + 2);  // first cluster past the end
  entry("FREEHEADBIN", 70);                     // first cluster is itself free
  b.AddFile(0, u"", "GOOD    BIN", {80, 81}, std::string(600, 'g'));
  Mount(b);

  for (const char* name : {"LOOP.BIN", "SELF.BIN", "TOFREE.BIN", "TOBAD.BIN", "FARAWAY.BIN",
                           "RESERVED.BIN", "PASTEND.BIN", "FREEHEAD.BIN"}) {
    SCOPED_TRACE(name);
    std::string path = std::string("V:\\") + name;
    HANDLE h = Open(path.c_str());
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    std::vector<Extent> all;
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_CORRUPT), Extents(h, 4096, &all));
    char buffer[64];
    DWORD read = 0;
    EXPECT_FALSE(m_set.ReadFile(h, buffer, sizeof(buffer), &read));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_CORRUPT), m_set.GetLastError());
    m_set.CloseHandle(h);
  }
  HANDLE good = Open("V:\\GOOD.BIN");
  std::vector<Extent> all;
  ASSERT_EQ(ERROR_SUCCESS, Extents(good, 4096, &all));
  EXPECT_EQ((std::vector<Extent>{{0, 78, 2}}), all);
  m_set.CloseHandle(good);
}

TEST_F(ControlsTest, ReadsFollowTheChainAndTheVolumeBytes) {
  CFatImageBuilder b(EBuildType::kFat12);
  std::string data;
  for (int i = 0; i < 1300; ++i) data.push_back(static_cast<char>('A' + i % 26));
  b.AddFile(0, u"", "DATA    BIN", {30, 7, 15}, data);
  Mount(b);

  HANDLE h = Open("V:\\DATA.BIN");
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  LARGE_INTEGER size;
  ASSERT_TRUE(m_set.GetFileSizeEx(h, &size));
  EXPECT_EQ(1300, size.QuadPart);
  std::string got(2000, '\0');
  DWORD read = 0;
  ASSERT_TRUE(m_set.ReadFile(h, &got[0], 2000, &read));
  EXPECT_EQ(1300u, read);
  EXPECT_EQ(data, got.substr(0, read));
  ASSERT_TRUE(m_set.ReadFile(h, &got[0], 10, &read));
  EXPECT_EQ(0u, read);  // end of file
  LARGE_INTEGER to, now;
  to.QuadPart = 510;
  ASSERT_TRUE(m_set.SetFilePointerEx(h, to, &now, FILE_BEGIN));
  ASSERT_TRUE(m_set.ReadFile(h, &got[0], 4, &read));
  EXPECT_EQ(data.substr(510, 4), got.substr(0, 4));  // across a cluster boundary
  to.QuadPart = -1;
  EXPECT_FALSE(m_set.SetFilePointerEx(h, to, &now, FILE_BEGIN));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NEGATIVE_SEEK), m_set.GetLastError());
  m_set.CloseHandle(h);

  // Raw volume reads see the boot sector and the clusters where they lie.
  to.QuadPart = 0;
  ASSERT_TRUE(m_set.SetFilePointerEx(m_hVolume, to, nullptr, FILE_BEGIN));
  std::vector<uint8_t> sector(512);
  ASSERT_TRUE(m_set.ReadFile(m_hVolume, sector.data(), 512, &read));
  EXPECT_EQ(512u, read);
  EXPECT_EQ(0, std::memcmp(sector.data(), b.Bytes().data(), 512));
  to.QuadPart = static_cast<LONGLONG>(b.ClusterOffset(7));
  ASSERT_TRUE(m_set.SetFilePointerEx(m_hVolume, to, nullptr, FILE_BEGIN));
  ASSERT_TRUE(m_set.ReadFile(m_hVolume, sector.data(), 512, &read));
  EXPECT_EQ(0, std::memcmp(sector.data(), data.data() + 512, 512));
  // Whole sectors only, as a volume handle reads: no other offset or length.
  EXPECT_FALSE(m_set.ReadFile(m_hVolume, sector.data(), 100, &read));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), m_set.GetLastError());
  to.QuadPart = -100;
  ASSERT_TRUE(m_set.SetFilePointerEx(m_hVolume, to, &now, FILE_END));
  EXPECT_EQ(static_cast<LONGLONG>(b.VolumeBytes()) - 100, now.QuadPart);
  EXPECT_FALSE(m_set.ReadFile(m_hVolume, sector.data(), 512, &read));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), m_set.GetLastError());
  to.QuadPart = -512;
  ASSERT_TRUE(m_set.SetFilePointerEx(m_hVolume, to, &now, FILE_END));
  sector.resize(1024);
  ASSERT_TRUE(m_set.ReadFile(m_hVolume, sector.data(), 1024, &read));
  EXPECT_EQ(512u, read);  // cut at the end of the volume
  ASSERT_TRUE(m_set.ReadFile(m_hVolume, sector.data(), 512, &read));
  EXPECT_EQ(0u, read);
}

TEST_F(ControlsTest, OtherControlsAnswerAsOnAFatVolume) {
  CFatImageBuilder b(EBuildType::kFat32);
  Mount(b);
  NTFS_VOLUME_DATA_BUFFER data;
  DWORD returned = 0;
  EXPECT_FALSE(m_set.DeviceIoControl(m_hVolume, FSCTL_GET_NTFS_VOLUME_DATA, nullptr, 0, &data,
                                     sizeof(data), &returned));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), m_set.GetLastError());
  int64_t ref = 0;
  std::vector<uint8_t> record(8208);
  EXPECT_FALSE(m_set.DeviceIoControl(m_hVolume, FSCTL_GET_NTFS_FILE_RECORD, &ref, 8, record.data(),
                                     8208, &returned));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), m_set.GetLastError());
  EXPECT_FALSE(m_set.DeviceIoControl(m_hVolume, 0x00090000, nullptr, 0, nullptr, 0, &returned));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_FUNCTION), m_set.GetLastError());
  EXPECT_FALSE(m_set.DeviceIoControl(reinterpret_cast<HANDLE>(0x12345), FSCTL_IS_VOLUME_MOUNTED,
                                     nullptr, 0, nullptr, 0, &returned));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), m_set.GetLastError());
}

}  // namespace
}  // namespace test
}  // namespace vt
