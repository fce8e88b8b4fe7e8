// Mounts the input as a FAT volume and uses it the way the engine does:
// volume information, free space, the bitmap, raw reads, and a walk of
// every folder that opens each entry, asks its retrieval pointers and reads
// it; no folder is listed under two entries (a folder cycle ends at once).
// The input is the head of the volume; the rest, up to the size the boot
// sector declares (capped), reads as zeros, so small inputs reach deep.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/image/block_device.h"
#include "platform/image/fs_volume.h"
#include "platform/image/volume_set.h"

namespace {

constexpr uint64_t kMaxVolumeBytes = 64ull << 20;
constexpr int kMaxEntries = 400;
constexpr int kMaxDepth = 24;

struct Walker {
  explicit Walker(vt::CImageVolumeSet& volumes) : set(volumes) {}
  vt::CImageVolumeSet& set;
  int entries = 0;
  std::vector<uint8_t> buffer = std::vector<uint8_t>(4096);
  std::set<int64_t> listed;  // first LCN of every folder listed

  // The first LCN of the file, or -1 when it has no clusters.
  int64_t Extents(HANDLE h) {
    int64_t vcn = 0;
    int64_t first = -1;
    for (int calls = 0; calls < 64; ++calls) {
      DWORD returned = 0;
      // Two extents a call, so continuation is exercised.
      BOOL ok = set.DeviceIoControl(h, FSCTL_GET_RETRIEVAL_POINTERS, &vcn, sizeof(vcn),
                                    buffer.data(), 48, &returned);
      if (!ok && set.GetLastError() != ERROR_MORE_DATA) return first;
      DWORD count;
      std::memcpy(&count, buffer.data(), sizeof(count));
      if (count == 0 || returned < 16 + 16 * count) __builtin_trap();
      if (first < 0) std::memcpy(&first, buffer.data() + 24, sizeof(first));
      std::memcpy(&vcn, buffer.data() + 16 + 16 * (count - 1), sizeof(vcn));
      if (ok) return first;
    }
    return first;
  }

  void Visit(const std::string& folder, int64_t firstLcn, int depth) {
    WIN32_FIND_DATAA data;
    HANDLE find = set.FindFirstFileA((folder + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    if (firstLcn >= 0 && !listed.insert(firstLcn).second) __builtin_trap();
    std::vector<std::pair<std::string, int64_t>> subfolders;
    do {
      std::string name = data.cFileName;
      if (name == "." || name == ".." || ++entries > kMaxEntries) continue;
      std::string path = folder + "\\" + name;
      HANDLE h = set.CreateFileA(path.c_str(), 0x20, 0, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
      if (h == INVALID_HANDLE_VALUE) {
        h = set.CreateFileA(path.c_str(), GENERIC_READ, 7, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS);
      }
      int64_t first = -1;
      if (h != INVALID_HANDLE_VALUE) {
        first = Extents(h);
        LARGE_INTEGER size;
        set.GetFileSizeEx(h, &size);
        DWORD read = 0;
        set.ReadFile(h, buffer.data(), static_cast<DWORD>(buffer.size()), &read);
        set.CloseHandle(h);
      }
      if (data.cAlternateFileName[0])
        set.GetFileAttributesA((folder + "\\" + data.cAlternateFileName).c_str());
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) subfolders.emplace_back(path, first);
    } while (set.FindNextFileA(find, &data));
    set.FindClose(find);
    if (depth < kMaxDepth) {
      for (const auto& sub : subfolders) Visit(sub.first, sub.second, depth + 1);
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> head(data, data + size);
  uint64_t logical = size;
  if (size >= 0x24) {
    uint64_t bps = data[0x0B] | (data[0x0C] << 8);
    uint64_t sectors = data[0x13] | (data[0x14] << 8);
    if (sectors == 0) {
      sectors = static_cast<uint64_t>(data[0x20]) | (static_cast<uint64_t>(data[0x21]) << 8) |
                (static_cast<uint64_t>(data[0x22]) << 16) |
                (static_cast<uint64_t>(data[0x23]) << 24);
    }
    uint64_t declared = bps * sectors;
    if (declared > logical && declared <= kMaxVolumeBytes) logical = declared;
  }
  vt::CImageVolumeSet set;
  auto device = std::make_unique<vt::CMemoryBlockDevice>(std::move(head), logical, true);
  if (set.MountDevice('V', std::move(device), "fuzz", true) != ERROR_SUCCESS) return 0;

  // The allocation check that guards the first write reaches a verdict on
  // any image, and counts no more lost clusters than the volume has.
  vt::CAllocationCheck check;
  DWORD clustersSeen = 0, ignored = 0;
  set.GetDiskFreeSpaceA("V:\\", &ignored, &ignored, &ignored, &clustersSeen);
  if (set.CheckAllocation('V', &check) == ERROR_SUCCESS && check.m_nLostClusters > clustersSeen)
    __builtin_trap();

  char label[64], fsName[64], volumeName[MAX_PATH];
  DWORD serial, maxComponent, flags, spc, bps, freeClusters, total;
  set.GetVolumeInformationA("V:\\", label, sizeof(label), &serial, &maxComponent, &flags, fsName,
                            sizeof(fsName));
  set.GetDiskFreeSpaceA("V:\\", &spc, &bps, &freeClusters, &total);
  ULARGE_INTEGER a, b, c;
  set.GetDiskFreeSpaceExA("V:\\", &a, &b, &c);
  set.GetVolumeNameForVolumeMountPointA("V:\\", volumeName, sizeof(volumeName));

  HANDLE volume = set.CreateFileA("\\\\.\\V:", GENERIC_READ, 3, OPEN_EXISTING, 0);
  if (volume != INVALID_HANDLE_VALUE) {
    std::vector<uint8_t> reply(16 + 4096);
    for (int64_t start : {int64_t(0), int64_t(13), int64_t(total) - 1, int64_t(total)}) {
      DWORD returned = 0;
      set.DeviceIoControl(volume, FSCTL_GET_VOLUME_BITMAP, &start, 8, reply.data(), 24, &returned);
      set.DeviceIoControl(volume, FSCTL_GET_VOLUME_BITMAP, &start, 8, reply.data(),
                          static_cast<DWORD>(reply.size()), &returned);
      if (returned > reply.size()) __builtin_trap();
    }
    LARGE_INTEGER to;
    to.QuadPart = -512;
    set.SetFilePointerEx(volume, to, nullptr, FILE_END);
    DWORD read = 0;
    set.ReadFile(volume, reply.data(), 1024, &read);
    set.CloseHandle(volume);
  }
  Walker walker(set);
  walker.Visit("V:", -1, 0);
  return 0;
}
