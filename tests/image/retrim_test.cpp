// Retrim over image volumes: only free clusters are discarded, each range
// inside one free run and cut to the device's unit; a volume that may not
// be written or fails its allocation check is refused untouched. And the
// media answers: the kernel's queue attributes and the test switch.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/image/block_device.h"
#include "platform/image/fs_volume.h"
#include "platform/image/image_retrim.h"
#include "platform/image/media_query.h"
#include "platform/image/volume_set.h"
#include "tests/image/fat_builder.h"
#include "tests/support/discard_device.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vt {
namespace {

using test::CDiscardDevice;
using test::CFatImageBuilder;
using test::EBuildType;

// A FAT16 volume with files on scattered clusters, the rest free.
CFatImageBuilder Scattered() {
  CFatImageBuilder b(EBuildType::kFat16);
  const std::string data(b.ClusterBytes() * 3, 'x');
  b.AddFile(0, u"a.bin", "A       BIN", {5, 6, 7}, data);
  b.AddFile(0, u"b.bin", "B       BIN", {9, 30, 31}, data);
  b.AddFile(0, u"c.bin", "C       BIN", {200, 1000, 1001}, data);
  return b;
}

void SetMediaSwitch(const char* value) {
#ifdef _WIN32
  _putenv_s("VANTREL_MEDIA", value ? value : "");
#else
  if (value)
    ::setenv("VANTREL_MEDIA", value, 1);
  else
    ::unsetenv("VANTREL_MEDIA");
#endif
}

// Every discarded byte lies in clusters the bitmap marks free, every range
// is unit-aligned, and the ranges add up to what was reported.
void ExpectOnlyFreeClusters(CFatImageBuilder& b, uint64_t unit) {
  CDiscardDevice::Ranges ranges;
  std::unique_ptr<CFsVolume> fs;
  std::string message;
  ASSERT_EQ(ERROR_SUCCESS, OpenFsVolume(b.Device(), &fs, &message));
  CDiscardDevice device(b.Bytes(), b.VolumeBytes(), unit, &ranges);
  uint64_t trimmed = 0;
  ASSERT_EQ(ERROR_SUCCESS, TrimFreeClusters(*fs, device, &trimmed));
  const uint64_t total = fs->TotalClusters();
  std::vector<uint8_t> bits((total + 7) / 8, 0);
  ASSERT_EQ(ERROR_SUCCESS, fs->GetBitmap(0, total, bits.data()));
  uint64_t sum = 0, freeBytes = 0;
  for (uint64_t lcn = 0; lcn < total; ++lcn)
    if (!((bits[lcn / 8] >> (lcn % 8)) & 1)) freeBytes += fs->BytesPerCluster();
  for (const auto& r : ranges) {
    EXPECT_EQ(r.first % unit, 0u);
    EXPECT_EQ(r.second % unit, 0u);
    sum += r.second;
    const uint64_t first = (r.first - fs->LcnOffset(0)) / fs->BytesPerCluster();
    const uint64_t last = (r.first + r.second - 1 - fs->LcnOffset(0)) / fs->BytesPerCluster();
    ASSERT_GE(r.first, fs->LcnOffset(0)) << "discard before the data area";
    for (uint64_t lcn = first; lcn <= last; ++lcn)
      ASSERT_FALSE((bits[lcn / 8] >> (lcn % 8)) & 1) << "cluster in use discarded: " << lcn;
  }
  EXPECT_EQ(sum, trimmed);
  EXPECT_GT(trimmed, 0u);
  EXPECT_LE(trimmed, freeBytes);
  if (unit <= fs->BytesPerCluster() && fs->LcnOffset(0) % unit == 0) {
    EXPECT_EQ(trimmed, freeBytes);  // nothing lost to alignment
  }
}

TEST(ImageRetrim, DiscardsExactlyTheFreeClustersOrLessWhereTheUnitIsCoarser) {
  CFatImageBuilder b = Scattered();
  ExpectOnlyFreeClusters(b, 512);
  // A unit of four clusters: the ranges shrink inward, never past a run.
  ExpectOnlyFreeClusters(b, b.ClusterBytes() * 4);
  // The last run of free clusters goes to the volume's very end.
  ExpectOnlyFreeClusters(b, b.ClusterBytes());
}

class RetrimVolumeTest : public ::testing::Test {
 protected:
  void SetUp() override { SetMediaSwitch(nullptr); }
  void TearDown() override { SetMediaSwitch(nullptr); }
  DWORD Retrim(CImageVolumeSet& set, uint64_t* trimmed) {
    ULONGLONG n = 0;
    const BOOL ok = set.RetrimVolumeA("V:\\", &n);
    *trimmed = n;
    return ok ? ERROR_SUCCESS : set.GetLastError();
  }
  CDiscardDevice::Ranges m_ranges;
};

TEST_F(RetrimVolumeTest, RetrimsAConsistentVolumeAndLeavesTheFilesAlone) {
  CFatImageBuilder b = Scattered();
  CImageVolumeSet set;
  ASSERT_EQ(ERROR_SUCCESS,
            set.MountDevice(
                'V', std::make_unique<CDiscardDevice>(b.Bytes(), b.VolumeBytes(), 512, &m_ranges),
                "mem", false));
  uint64_t trimmed = 0;
  ASSERT_EQ(ERROR_SUCCESS, Retrim(set, &trimmed));
  EXPECT_FALSE(m_ranges.empty());
  // The files read back whole.
  HANDLE h = set.CreateFileA("V:\\b.bin", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  std::string data(b.ClusterBytes() * 3, '\0');
  DWORD read = 0;
  ASSERT_TRUE(set.ReadFile(h, &data[0], static_cast<DWORD>(data.size()), &read));
  set.CloseHandle(h);
  EXPECT_EQ(data, std::string(b.ClusterBytes() * 3, 'x'));
  VOLUME_MEDIA_INFO media{};
  ASSERT_TRUE(set.GetVolumeMediaA("V:\\", &media));
  EXPECT_EQ(media.SeekPenalty, SEEK_PENALTY_NO);
  EXPECT_FALSE(set.GetVolumeMediaA("Q:\\", &media));
}

TEST_F(RetrimVolumeTest, RefusesWhatAMoveWouldBeRefused) {
  uint64_t trimmed = 1;
  {
    // A file's chain runs into a cluster the FAT calls free.
    CFatImageBuilder b = Scattered();
    b.SetFat(30, 0);
    CImageVolumeSet set;
    ASSERT_EQ(ERROR_SUCCESS,
              set.MountDevice(
                  'V', std::make_unique<CDiscardDevice>(b.Bytes(), b.VolumeBytes(), 512, &m_ranges),
                  "mem", false));
    EXPECT_EQ(ERROR_DISK_CORRUPT, Retrim(set, &trimmed));
    EXPECT_EQ(trimmed, 0u);
  }
  {
    CFatImageBuilder b = Scattered();
    CImageVolumeSet set;
    ASSERT_EQ(ERROR_SUCCESS,
              set.MountDevice(
                  'V', std::make_unique<CDiscardDevice>(b.Bytes(), b.VolumeBytes(), 512, &m_ranges),
                  "mem", true));
    EXPECT_EQ(ERROR_WRITE_PROTECT, Retrim(set, &trimmed));
  }
  {
    // No discards on this storage.
    CFatImageBuilder b = Scattered();
    CImageVolumeSet set;
    ASSERT_EQ(ERROR_SUCCESS, set.MountDevice('V', b.Device(), "mem", false));
    EXPECT_EQ(ERROR_NOT_SUPPORTED, Retrim(set, &trimmed));
  }
  {
    // The switch that stands for a system without retrim.
    SetMediaSwitch("W=hdd;V=ssd+noretrim");
    CFatImageBuilder b = Scattered();
    CImageVolumeSet set;
    ASSERT_EQ(ERROR_SUCCESS,
              set.MountDevice(
                  'V', std::make_unique<CDiscardDevice>(b.Bytes(), b.VolumeBytes(), 512, &m_ranges),
                  "mem", false));
    EXPECT_EQ(ERROR_OLD_WIN_VERSION, Retrim(set, &trimmed));
    VOLUME_MEDIA_INFO media{};
    ASSERT_TRUE(set.GetVolumeMediaA("V:\\", &media));
    EXPECT_EQ(media.SeekPenalty, SEEK_PENALTY_NO);
  }
  EXPECT_TRUE(m_ranges.empty());
}

TEST(MediaSwitch, NamesKindsPerLetter) {
  CMediaSwitch media;
  EXPECT_FALSE(ParseMediaSwitch(nullptr, 'V', &media));
  EXPECT_FALSE(ParseMediaSwitch("W=ssd", 'V', &media));
  EXPECT_FALSE(ParseMediaSwitch("V=fast", 'V', &media));
  ASSERT_TRUE(ParseMediaSwitch("W=ssd;v=hdd", 'V', &media));
  EXPECT_EQ(media.m_media.SeekPenalty, SEEK_PENALTY_YES);
  EXPECT_FALSE(media.m_media.TrimSupported);
  ASSERT_TRUE(ParseMediaSwitch("V=unknown;W=ssd+noretrim", 'W', &media));
  EXPECT_EQ(media.m_media.SeekPenalty, SEEK_PENALTY_NO);
  EXPECT_TRUE(media.m_bNoRetrim);
  ASSERT_TRUE(ParseMediaSwitch("V=unknown", 'V', &media));
  EXPECT_EQ(media.m_media.SeekPenalty, SEEK_PENALTY_UNKNOWN);
}

#ifndef _WIN32

void WriteText(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path) << text << "\n";
}

TEST(BlockQueue, APartitionAsksItsDiskAndAMissingDeviceIsUnknown) {
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("vt-sys-" + std::to_string(::getpid()));
  fs::remove_all(root);
  const fs::path disk = root / "devices/pci/block/sda";
  WriteText(disk / "queue/rotational", "0");
  WriteText(disk / "queue/discard_max_bytes", "2147450880");
  WriteText(disk / "queue/discard_granularity", "4096");
  WriteText(disk / "sda1/partition", "1");
  const fs::path spinning = root / "devices/pci/block/sdb";
  WriteText(spinning / "queue/rotational", "1");
  WriteText(spinning / "queue/discard_max_bytes", "0");
  fs::create_directories(root / "dev/block");
  fs::create_symlink("../../devices/pci/block/sda/sda1", root / "dev/block/8:1");
  fs::create_symlink("../../devices/pci/block/sdb", root / "dev/block/8:16");

  CBlockQueue q = ReadBlockQueue(8, 1, root.string());
  EXPECT_TRUE(q.m_bFound);
  EXPECT_EQ(q.m_media.SeekPenalty, SEEK_PENALTY_NO);
  EXPECT_TRUE(q.m_media.TrimSupported);
  EXPECT_EQ(q.m_nDiscardGranularity, 4096u);
  q = ReadBlockQueue(8, 16, root.string());
  EXPECT_EQ(q.m_media.SeekPenalty, SEEK_PENALTY_YES);
  EXPECT_FALSE(q.m_media.TrimSupported);
  // tmpfs and overlay files live on anonymous devices (major 0).
  q = ReadBlockQueue(0, 45, root.string());
  EXPECT_FALSE(q.m_bFound);
  EXPECT_EQ(q.m_media.SeekPenalty, SEEK_PENALTY_UNKNOWN);
  fs::remove_all(root);
}

TEST(FileDiscard, PunchesAHoleInAnImageFileAndKeepsItsSize) {
  namespace fs = std::filesystem;
  const fs::path path = fs::temp_directory_path() / ("vt-punch-" + std::to_string(::getpid()));
  {
    std::ofstream out(path, std::ios::binary);
    const std::string block(1 << 20, 'z');
    for (int i = 0; i < 4; ++i) out << block;
  }
  std::unique_ptr<CBlockDevice> device;
  std::string message;
  ASSERT_EQ(ERROR_SUCCESS, CFileBlockDevice::Open(path.string(), true, &device, &message));
  EXPECT_EQ(device->DiscardUnit(), 0u);  // a reader gives nothing back
  EXPECT_EQ(device->Discard(0, 4096), ERROR_WRITE_PROTECT);
  device.reset();
  ASSERT_EQ(ERROR_SUCCESS, CFileBlockDevice::Open(path.string(), false, &device, &message));
  const uint64_t unit = device->DiscardUnit();
  ASSERT_GT(unit, 0u);
  struct stat before, after;
  ASSERT_EQ(0, ::stat(path.c_str(), &before));
  const DWORD err = device->Discard(unit, (1 << 20) - unit);
  if (err == ERROR_NOT_SUPPORTED) GTEST_SKIP() << "the temporary folder cannot punch holes";
  ASSERT_EQ(err, ERROR_SUCCESS);
  EXPECT_EQ(device->Discard(4 << 20, 4096), ERROR_SECTOR_NOT_FOUND);  // past the end
  ASSERT_EQ(0, ::stat(path.c_str(), &after));
  EXPECT_EQ(after.st_size, before.st_size);
  EXPECT_LT(after.st_blocks, before.st_blocks);
  char edge[2] = {};
  ASSERT_EQ(ERROR_SUCCESS, device->Read(unit - 1, edge, 2));
  EXPECT_EQ(edge[0], 'z');  // the byte before the range is kept
  EXPECT_EQ(edge[1], 0);
  device.reset();
  fs::remove(path);
}

#endif

}  // namespace
}  // namespace vt
