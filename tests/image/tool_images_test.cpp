// Agreement with independent tools: images made by mkfs.fat and mtools
// (tests/tools/make_fat_images.sh), read through the volume operations and
// compared with what mcopy, fsck.fat, fatcat and mdir report.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/image/volume_set.h"
#include "tests/image/fat_builder.h"

namespace vt {
namespace test {
namespace {

struct ManifestEntry {
  bool folder = false;
  std::string cluster;  // "-" when the tool could not name the path
  uint64_t size = 0;
  std::string copy;
};

struct Manifest {
  uint64_t total = 0;
  uint64_t free = 0;
  std::map<std::string, ManifestEntry> entries;  // ANSI path with backslashes
};

// A path of the Linux side as the program sees it: under Wine, through Z:.
std::string HostPath(const std::string& path) {
#ifdef _WIN32
  if (!path.empty() && path[0] == '/') {
    std::string out = "Z:" + path;
    for (char& c : out) {
      if (c == '/') c = '\\';
    }
    return out;
  }
#endif
  return path;
}

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The folder with the images: VT_FAT_IMAGES, or the one the CTest fixture
// fills beside the build, or (natively, with the tools) a fresh one.
std::string ImagesDir() {
  static std::string dir = [] {
    const char* env = std::getenv("VT_FAT_IMAGES");
    if (env && *env) return HostPath(env);
    const char* bin = std::getenv("VT_BINARY_DIR");
    if (bin && *bin) {
      std::string candidate = HostPath(std::string(bin) + "/fat-images");
      if (std::ifstream(candidate + "/fat32.img.manifest").good()) return candidate;
    }
#ifndef _WIN32
    const char* src = std::getenv("VT_SOURCE_DIR");
    std::string script = std::string(src ? src : ".") + "/tests/tools/make_fat_images.sh";
    std::string target = ::testing::TempDir() + "vt-fat-images";
    std::string command = "bash '" + script + "' '" + target + "' >/dev/null 2>&1";
    if (std::ifstream(script).good() && std::system(command.c_str()) == 0) return target;
#endif
    return std::string();
  }();
  return dir;
}

bool LoadManifest(const std::string& path, Manifest* m) {
  std::ifstream in(path);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::stringstream parts(line);
    std::string part;
    while (std::getline(parts, part, '\t')) f.push_back(part);
    if (f.size() == 2 && f[0] == "TOTAL") m->total = std::stoull(f[1]);
    if (f.size() == 2 && f[0] == "FREE") m->free = std::stoull(f[1]);
    if (f.size() == 5 && (f[0] == "F" || f[0] == "D")) {
      ManifestEntry e;
      e.folder = f[0] == "D";
      e.cluster = f[1];
      e.size = std::stoull(f[2]);
      e.copy = f[3];
      std::string name = f[4];  // UTF-8, as the interface names it
      for (char& c : name) {
        if (c == '/') c = '\\';
      }
      m->entries[name] = e;
    }
  }
  return true;
}

struct Found {
  bool folder;
  uint64_t size;
  DWORD attributes;
};

void Walk(CImageVolumeSet& set, const std::string& folder, std::map<std::string, Found>* out) {
  WIN32_FIND_DATAA data;
  std::string prefix = folder.empty() ? "" : folder + "\\";
  HANDLE h = set.FindFirstFileA(("V:\\" + prefix + "*").c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return;
  std::vector<std::string> subfolders;
  do {
    std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    bool isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    (*out)[prefix + name] = {isFolder,
                             (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow,
                             data.dwFileAttributes};
    if (isFolder) subfolders.push_back(prefix + name);
  } while (set.FindNextFileA(h, &data));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_FILES), set.GetLastError());
  set.FindClose(h);
  for (const std::string& sub : subfolders) Walk(set, sub, out);
}

struct Extent {
  int64_t lcn;
  int64_t count;
};

std::vector<Extent> Extents(CImageVolumeSet& set, HANDLE h, DWORD* error) {
  std::vector<Extent> out;
  std::vector<uint8_t> reply(80);  // three extents a call, to exercise continuation
  int64_t vcn = 0;
  for (;;) {
    DWORD returned = 0;
    BOOL ok = set.DeviceIoControl(h, FSCTL_GET_RETRIEVAL_POINTERS, &vcn, 8, reply.data(),
                                  static_cast<DWORD>(reply.size()), &returned);
    *error = ok ? ERROR_SUCCESS : set.GetLastError();
    if (!ok && *error != ERROR_MORE_DATA) return out;
    RETRIEVAL_POINTERS_BUFFER head;
    std::memcpy(&head, reply.data(), 16);
    int64_t prev = head.StartingVcn.QuadPart;
    for (DWORD i = 0; i < head.ExtentCount; ++i) {
      int64_t next, lcn;
      std::memcpy(&next, &reply[16 + 16 * i], 8);
      std::memcpy(&lcn, &reply[24 + 16 * i], 8);
      out.push_back({lcn, next - prev});
      prev = next;
    }
    if (ok) return out;
    vcn = prev;
  }
}

// Where the data area starts, from the boot sector, computed here apart
// from the reader under test.
uint64_t DataStart(const std::string& image) {
  std::string boot = ReadWhole(image).substr(0, 512);
  auto u16 = [&](size_t at) {
    return static_cast<uint64_t>(static_cast<uint8_t>(boot[at]) |
                                 (static_cast<uint8_t>(boot[at + 1]) << 8));
  };
  uint64_t bps = u16(0x0B);
  uint64_t fatSize = u16(0x16) ? u16(0x16) : (u16(0x24) | (u16(0x26) << 16));
  uint64_t rootSectors = (u16(0x11) * 32 + bps - 1) / bps;
  return (u16(0x0E) + static_cast<uint8_t>(boot[0x10]) * fatSize + rootSectors) * bps;
}

class ToolImages : public ::testing::TestWithParam<const char*> {};

TEST_P(ToolImages, AgreeWithTheTools) {
  std::string dir = ImagesDir();
  if (dir.empty()) GTEST_SKIP() << "mkfs.fat/mtools images unavailable (set VT_FAT_IMAGES)";
  std::string image = dir + "/" + GetParam();
  Manifest manifest;
  ASSERT_TRUE(LoadManifest(image + ".manifest", &manifest)) << image;
  ASSERT_GT(manifest.entries.size(), 80u);
  const std::string bytes = ReadWhole(image);
  const uint64_t dataStart = DataStart(image);

  CImageVolumeSet set;
  std::string message;
  ASSERT_EQ(ERROR_SUCCESS, set.Mount('V', image, true, &message)) << message;

  // Free and total clusters as fsck.fat counts them; the bitmap agrees.
  DWORD spc = 0, bps = 0, freeClusters = 0, total = 0;
  ASSERT_TRUE(set.GetDiskFreeSpaceA("V:\\", &spc, &bps, &freeClusters, &total));
  EXPECT_EQ(manifest.total, total);
  EXPECT_EQ(manifest.free, freeClusters);
  const uint64_t clusterBytes = static_cast<uint64_t>(spc) * bps;
  HANDLE volume = set.CreateFileA("\\\\.\\V:", GENERIC_READ, 3, OPEN_EXISTING, 0);
  ASSERT_NE(INVALID_HANDLE_VALUE, volume);
  std::vector<uint8_t> bitmap(16 + (total + 7) / 8);
  int64_t zero = 0;
  DWORD returned = 0;
  ASSERT_TRUE(set.DeviceIoControl(volume, FSCTL_GET_VOLUME_BITMAP, &zero, 8, bitmap.data(),
                                  static_cast<DWORD>(bitmap.size()), &returned));
  uint64_t used = 0;
  for (uint64_t lcn = 0; lcn < total; ++lcn) used += (bitmap[16 + lcn / 8] >> (lcn % 8)) & 1;
  EXPECT_EQ(manifest.total - manifest.free, used);
  set.CloseHandle(volume);

  // The same folders and files as mdir lists, with the same sizes.
  std::map<std::string, Found> found;
  Walk(set, "", &found);
  ASSERT_EQ(manifest.entries.size(), found.size());
  for (const auto& entry : manifest.entries) {
    auto it = found.find(entry.first);
    ASSERT_NE(found.end(), it) << "missing " << entry.first;
    EXPECT_EQ(entry.second.folder, it->second.folder) << entry.first;
    EXPECT_EQ(entry.second.size, it->second.size) << entry.first;
  }
  EXPECT_TRUE(found["Hidden system.sys"].attributes & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_TRUE(found["Hidden system.sys"].attributes & FILE_ATTRIBUTE_SYSTEM);
  EXPECT_TRUE(found["Read only.txt"].attributes & FILE_ATTRIBUTE_READONLY);

  // Every file's extents hold exactly the bytes mcopy reads, and first
  // clusters are those fatcat reports.
  int fragmented = 0;
  for (const auto& entry : manifest.entries) {
    SCOPED_TRACE(entry.first);
    std::string path = "V:\\" + entry.first;
    HANDLE h =
        set.CreateFileA(path.c_str(), GENERIC_READ, 7, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    DWORD err = 0;
    std::vector<Extent> extents = Extents(set, h, &err);
    if (entry.second.cluster != "-") {
      if (entry.second.cluster == "0") {
        EXPECT_EQ(static_cast<DWORD>(ERROR_HANDLE_EOF), err);
      } else {
        ASSERT_FALSE(extents.empty());
        EXPECT_EQ(std::stoll(entry.second.cluster), extents[0].lcn + 2);
      }
    }
    if (!entry.second.folder) {
      std::string expected = ReadWhole(dir + "/" + GetParam() + ".out/" + entry.second.copy);
      ASSERT_EQ(entry.second.size, expected.size());
      std::string fromExtents;
      for (const Extent& e : extents) {
        uint64_t at = dataStart + static_cast<uint64_t>(e.lcn) * clusterBytes;
        ASSERT_LE(at + e.count * clusterBytes, bytes.size());
        fromExtents +=
            bytes.substr(static_cast<size_t>(at), static_cast<size_t>(e.count * clusterBytes));
      }
      ASSERT_GE(fromExtents.size(), expected.size());
      EXPECT_EQ(expected, fromExtents.substr(0, expected.size()));
      EXPECT_LT(fromExtents.size() - expected.size(), clusterBytes);
      std::string viaRead(expected.size() + 10, '\0');
      DWORD read = 0;
      ASSERT_TRUE(set.ReadFile(h, &viaRead[0], static_cast<DWORD>(viaRead.size()), &read));
      EXPECT_EQ(expected, viaRead.substr(0, read));
      if (extents.size() > 1) ++fragmented;
    }
    set.CloseHandle(h);
  }
  EXPECT_GE(fragmented, 2);  // the gap-filling writes did fragment
}

INSTANTIATE_TEST_SUITE_P(Images, ToolImages,
                         ::testing::Values("fat12.img", "fat16.img", "fat32.img"));

}  // namespace
}  // namespace test
}  // namespace vt
