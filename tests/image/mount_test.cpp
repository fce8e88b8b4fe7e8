// Mounting, drive enumeration, volume names and volume information.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <regex>
#include <string>

#include "platform/image/block_device.h"
#include "platform/image/volume_set.h"
#include "tests/image/fat_builder.h"

namespace vt {
namespace test {
namespace {

DWORD MountBuilt(CImageVolumeSet& set, char letter, const CFatImageBuilder& b,
                 bool readOnly = false, std::string* message = nullptr) {
  return set.MountDevice(letter, b.Device(readOnly), std::string("mem-") + letter, readOnly,
                         message);
}

TEST(ImageMount, EachFatTypeReportsItsNameGeometryAndLabel) {
  struct Case {
    EBuildType type;
    const char* fsName;
  } cases[] = {
      {EBuildType::kFat12, "FAT"}, {EBuildType::kFat16, "FAT"}, {EBuildType::kFat32, "FAT32"}};
  for (const Case& c : cases) {
    CFatImageBuilder b(c.type);
    b.AddLabel("MY DISK    ");
    CImageVolumeSet set;
    ASSERT_EQ(ERROR_SUCCESS, MountBuilt(set, 'V', b));
    char label[32] = {}, fs[32] = {};
    DWORD serial = 0, maxComponent = 0, flags = 0;
    ASSERT_TRUE(set.GetVolumeInformationA("V:\\", label, sizeof(label), &serial, &maxComponent,
                                          &flags, fs, sizeof(fs)));
    EXPECT_STREQ(c.fsName, fs);
    EXPECT_STREQ("MY DISK", label);  // from the root entry, not the boot sector's "NO NAME"
    EXPECT_EQ(0x1234ABCDu, serial);
    EXPECT_EQ(255u, maxComponent);
    EXPECT_EQ(static_cast<DWORD>(FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK), flags);

    DWORD spc = 0, bps = 0, freeClusters = 0, total = 0;
    ASSERT_TRUE(set.GetDiskFreeSpaceA("V:\\", &spc, &bps, &freeClusters, &total));
    EXPECT_EQ(1u, spc);
    EXPECT_EQ(512u, bps);
    EXPECT_EQ(b.TotalClusters(), total);
    // Only the FAT32 root folder takes a cluster.
    EXPECT_EQ(b.TotalClusters() - (c.type == EBuildType::kFat32 ? 1 : 0), freeClusters);
  }
}

TEST(ImageMount, ReadOnlyMountSaysSo) {
  CFatImageBuilder b(EBuildType::kFat16);
  CImageVolumeSet set;
  ASSERT_EQ(ERROR_SUCCESS, MountBuilt(set, 'R', b, true));
  DWORD flags = 0;
  ASSERT_TRUE(set.GetVolumeInformationA("R:\\", nullptr, 0, nullptr, nullptr, &flags, nullptr, 0));
  EXPECT_TRUE(flags & FILE_READ_ONLY_VOLUME);
}

TEST(ImageMount, FreeSpaceCountsTheFatNotFsInfo) {
  CFatImageBuilder b(EBuildType::kFat32);
  b.SetFsInfoFreeCount(7);  // a stale hint must not be believed
  b.AddFile(0, u"", "A       BIN", {10, 11, 12}, std::string(1500, 'a'));
  b.SetFat(100, b.BadCluster());
  CImageVolumeSet set;
  ASSERT_EQ(ERROR_SUCCESS, MountBuilt(set, 'V', b));
  DWORD freeClusters = 0, total = 0;
  ASSERT_TRUE(set.GetDiskFreeSpaceA("V:\\", nullptr, nullptr, &freeClusters, &total));
  EXPECT_EQ(total - 1 - 3 - 1, freeClusters);
  ULARGE_INTEGER toCaller, all, allFree;
  ASSERT_TRUE(set.GetDiskFreeSpaceExA("V:\\", &toCaller, &all, &allFree));
  EXPECT_EQ(static_cast<uint64_t>(freeClusters) * 512, allFree.QuadPart);
  EXPECT_EQ(allFree.QuadPart, toCaller.QuadPart);
  EXPECT_EQ(static_cast<uint64_t>(total) * 512, all.QuadPart);
}

struct DamageCase {
  const char* name;
  void (*damage)(CFatImageBuilder& b);
  DWORD expected;
};

TEST(ImageMount, DamagedBootSectorsAreRefusedWithAReason) {
  const DamageCase cases[] = {
      {"blank", [](CFatImageBuilder& b) { std::memset(b.Boot(), 0, 512); },
       ERROR_UNRECOGNIZED_VOLUME},
      {"no jump or signature",
       [](CFatImageBuilder& b) {
         b.Boot()[0] = 0;
         b.Boot()[510] = 0;
       },
       ERROR_UNRECOGNIZED_VOLUME},
      {"exfat", [](CFatImageBuilder& b) { std::memcpy(b.Boot() + 3, "EXFAT   ", 8); },
       ERROR_UNRECOGNIZED_VOLUME},
      {"bytes per sector 0", [](CFatImageBuilder& b) { b.Boot()[0x0B] = b.Boot()[0x0C] = 0; },
       ERROR_DISK_CORRUPT},
      {"bytes per sector 600",
       [](CFatImageBuilder& b) {
         b.Boot()[0x0B] = 0x58;
         b.Boot()[0x0C] = 0x02;
       },
       ERROR_DISK_CORRUPT},
      {"sectors per cluster 3", [](CFatImageBuilder& b) { b.Boot()[0x0D] = 3; },
       ERROR_DISK_CORRUPT},
      {"no FATs", [](CFatImageBuilder& b) { b.Boot()[0x10] = 0; }, ERROR_DISK_CORRUPT},
      {"no reserved sectors", [](CFatImageBuilder& b) { b.Boot()[0x0E] = b.Boot()[0x0F] = 0; },
       ERROR_DISK_CORRUPT},
      {"total sectors 0", [](CFatImageBuilder& b) { b.Boot()[0x13] = b.Boot()[0x14] = 0; },
       ERROR_DISK_CORRUPT},
      {"FAT too small", [](CFatImageBuilder& b) { b.Boot()[0x16] = 1; }, ERROR_DISK_CORRUPT},
      {"FAT larger than the volume",
       [](CFatImageBuilder& b) {
         b.Boot()[0x16] = 0xFF;
         b.Boot()[0x17] = 0xFF;
       },
       ERROR_DISK_CORRUPT},
  };
  for (const DamageCase& c : cases) {
    SCOPED_TRACE(c.name);
    CFatImageBuilder b(EBuildType::kFat16);
    c.damage(b);
    CImageVolumeSet set;
    std::string message;
    EXPECT_EQ(c.expected, MountBuilt(set, 'V', b, false, &message)) << message;
    EXPECT_FALSE(message.empty());
    EXPECT_EQ(std::string::npos, message.find('\n'));
    EXPECT_FALSE(set.IsMounted('V'));
    EXPECT_EQ(0u, set.GetLogicalDrives());
  }
}

TEST(ImageMount, DamagedFat32FieldsAreRefused) {
  CFatImageBuilder bad(EBuildType::kFat32);
  bad.Boot()[0x2C] = 0xFF;  // root cluster far past the end
  bad.Boot()[0x2F] = 0x7F;
  CImageVolumeSet set;
  std::string message;
  EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_CORRUPT), MountBuilt(set, 'V', bad, false, &message));
  EXPECT_NE(std::string::npos, message.find("root"));

  CFatImageBuilder version(EBuildType::kFat32);
  version.Boot()[0x2B] = 1;  // FAT32 version 1.0 is unknown
  EXPECT_EQ(static_cast<DWORD>(ERROR_UNRECOGNIZED_VOLUME), MountBuilt(set, 'W', version));
}

TEST(ImageMount, TruncatedImagesAreRefused) {
  CFatImageBuilder b(EBuildType::kFat16);
  CImageVolumeSet set;
  std::string message;
  auto shortDevice = std::make_unique<CMemoryBlockDevice>(b.Bytes(), b.VolumeBytes() / 2, false);
  EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_CORRUPT),
            set.MountDevice('V', std::move(shortDevice), "half", false, &message));
  EXPECT_NE(std::string::npos, message.find("truncated"));

  std::vector<uint8_t> tiny(b.Bytes().begin(), b.Bytes().begin() + 100);
  EXPECT_EQ(static_cast<DWORD>(ERROR_UNRECOGNIZED_VOLUME),
            set.MountDevice('V', std::make_unique<CMemoryBlockDevice>(tiny), "tiny", false));
}

TEST(ImageMount, MissingImageFileAndTakenLetters) {
  CImageVolumeSet set;
  std::string message;
  DWORD err = set.Mount('V', "/nonexistent/vantrel/none.img", false, &message);
  EXPECT_TRUE(err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) << err;
  EXPECT_NE(std::string::npos, message.find("none.img"));

  CFatImageBuilder b(EBuildType::kFat12);
  ASSERT_EQ(ERROR_SUCCESS, MountBuilt(set, 'v', b));  // letters are case-insensitive
  EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), MountBuilt(set, 'V', b));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DRIVE), MountBuilt(set, '1', b));
}

TEST(ImageMount, MountListMountsEveryEntryOrNone) {
  CFatImageBuilder b(EBuildType::kFat12);
  std::string dir = ::testing::TempDir();
  std::string path = dir + "vt_mountlist.img";
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(nullptr, f);
  std::vector<uint8_t> full(b.Bytes());
  full.resize(static_cast<size_t>(b.VolumeBytes()), 0);
  std::fwrite(full.data(), 1, full.size(), f);
  std::fclose(f);

  CImageVolumeSet set;
  ASSERT_EQ(ERROR_SUCCESS, set.MountList("V=" + path + ";W=" + path, true));
  EXPECT_EQ((1u << ('V' - 'A')) | (1u << ('W' - 'A')), set.GetLogicalDrives());

  CImageVolumeSet other;
  std::string message;
  EXPECT_NE(static_cast<DWORD>(ERROR_SUCCESS),
            other.MountList("X=" + path + ";Y=/nonexistent/vantrel.img", true, &message));
  EXPECT_FALSE(other.IsMounted('X'));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), other.MountList("nonsense", true));
  std::remove(path.c_str());
}

TEST(ImageMount, DrivesAndVolumeNames) {
  CImageVolumeSet set;
  CFatImageBuilder b(EBuildType::kFat16);
  ASSERT_EQ(ERROR_SUCCESS, MountBuilt(set, 'V', b));
  ASSERT_EQ(ERROR_SUCCESS, MountBuilt(set, 'W', b));
  EXPECT_EQ((1u << 21) | (1u << 22), set.GetLogicalDrives());
  EXPECT_EQ(static_cast<UINT>(DRIVE_FIXED), set.GetDriveTypeA("V:\\"));
  EXPECT_EQ(static_cast<UINT>(DRIVE_NO_ROOT_DIR), set.GetDriveTypeA("Q:\\"));

  char v[MAX_PATH], v2[MAX_PATH], w[MAX_PATH];
  ASSERT_TRUE(set.GetVolumeNameForVolumeMountPointA("V:\\", v, sizeof(v)));
  ASSERT_TRUE(set.GetVolumeNameForVolumeMountPointA("v:\\", v2, sizeof(v2)));
  ASSERT_TRUE(set.GetVolumeNameForVolumeMountPointA("W:\\", w, sizeof(w)));
  EXPECT_TRUE(std::regex_match(
      v,
      std::regex(
          R"(\\\\\?\\Volume\{[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\}\\)")))
      << v;
  EXPECT_STREQ(v, v2);
  EXPECT_STRNE(v, w);

  EXPECT_FALSE(set.GetVolumeNameForVolumeMountPointA("Q:\\", w, sizeof(w)));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), set.GetLastError());
  EXPECT_FALSE(set.GetVolumeNameForVolumeMountPointA("V:", w, sizeof(w)));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), set.GetLastError());
  EXPECT_FALSE(set.GetVolumeNameForVolumeMountPointA("V:\\", w, 10));

  // The volume name without its backslash, and \\.\V:, open the volume.
  std::string name(v);
  name.pop_back();
  for (const std::string& path : {name, std::string("\\\\.\\V:")}) {
    HANDLE h = set.CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               OPEN_EXISTING, 0);
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << path;
    DWORD returned = 0;
    EXPECT_TRUE(set.DeviceIoControl(h, FSCTL_IS_VOLUME_MOUNTED, nullptr, 0, nullptr, 0, &returned));
    EXPECT_TRUE(set.CloseHandle(h));
  }
  // The same volume name also reaches volume information.
  char fs[16];
  EXPECT_TRUE(set.GetVolumeInformationA(v, nullptr, 0, nullptr, nullptr, nullptr, fs, sizeof(fs)));
  EXPECT_EQ(static_cast<UINT>(DRIVE_FIXED), set.GetDriveTypeA(v));

  // Same image on a new set and letter: same name again.
  CImageVolumeSet again;
  ASSERT_EQ(ERROR_SUCCESS, MountBuilt(again, 'V', b));
  char v3[MAX_PATH];
  ASSERT_TRUE(again.GetVolumeNameForVolumeMountPointA("V:\\", v3, sizeof(v3)));
  EXPECT_STREQ(v, v3);
}

TEST(ImageMount, UnmountedVolumesRefuseTheirOpenHandles) {
  CImageVolumeSet set;
  CFatImageBuilder b(EBuildType::kFat12);
  ASSERT_EQ(ERROR_SUCCESS, MountBuilt(set, 'V', b));
  HANDLE h = set.CreateFileA("\\\\.\\V:", GENERIC_READ, 3, OPEN_EXISTING, 0);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  set.Unmount('V');
  EXPECT_FALSE(set.IsMounted('V'));
  EXPECT_EQ(0u, set.GetLogicalDrives());
  EXPECT_FALSE(set.DeviceIoControl(h, FSCTL_IS_VOLUME_MOUNTED, nullptr, 0, nullptr, 0, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_READY), set.GetLastError());
  EXPECT_TRUE(set.CloseHandle(h));
  EXPECT_FALSE(
      set.GetVolumeInformationA("V:\\", nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0));
}

}  // namespace
}  // namespace test
}  // namespace vt
