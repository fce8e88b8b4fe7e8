#include "ondisk/ntfs_boot.h"

#include <cstring>

#include "ondisk/ntfs_layout.h"

namespace vt {
namespace ntfs {

namespace {

using namespace boot;

// Windows formats clusters of up to 2 MB.
constexpr uint64_t kMaxClusterBytes = 2u << 20;
constexpr uint32_t kMinUnitBytes = 512;
constexpr uint32_t kMaxUnitBytes = 65536;

bool IsPowerOfTwo(uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }

DWORD Corrupt(std::string* message, const std::string& reason) {
  if (message) *message = "damaged NTFS boot sector: " + reason;
  return ERROR_DISK_CORRUPT;
}

}  // namespace

bool HasNtfsSignature(const uint8_t* sector, size_t size) {
  return size >= kOemId + 8 && std::memcmp(sector + kOemId, "NTFS    ", 8) == 0;
}

uint64_t NtfsUnitBytes(int8_t code, uint64_t clusterBytes) {
  if (code >= 0) return static_cast<uint64_t>(code) * clusterBytes;
  return code >= -30 ? 1ull << (-code) : 0;
}

uint32_t DecodeNtfsUnitSize(int8_t code, uint64_t clusterBytes) {
  const uint64_t bytes = NtfsUnitBytes(code, clusterBytes);
  if (!IsPowerOfTwo(bytes) || bytes < kMinUnitBytes || bytes > kMaxUnitBytes) return 0;
  return static_cast<uint32_t>(bytes);
}

DWORD ParseNtfsBootSector(const uint8_t* sector, size_t size, CNtfsGeometry* geometry,
                          std::string* message) {
  if (size < kParameterBlockEnd || !HasNtfsSignature(sector, size)) {
    if (message) *message = "not an NTFS volume: no NTFS signature in the boot sector";
    return ERROR_UNRECOGNIZED_VOLUME;
  }
  CNtfsGeometry g;
  g.m_nBytesPerSector = Le16(sector + kBytesPerSector);
  if (!IsPowerOfTwo(g.m_nBytesPerSector) || g.m_nBytesPerSector < 256 ||
      g.m_nBytesPerSector > 4096) {
    return Corrupt(message, "bytes per sector " + std::to_string(g.m_nBytesPerSector));
  }
  const uint8_t spc = sector[kSectorsPerCluster];
  // Above 128 the byte holds a negative power of two (clusters over 64 KB).
  if (spc <= 0x80) {
    g.m_nSectorsPerCluster = spc;
  } else if (256 - spc <= 20) {
    g.m_nSectorsPerCluster = 1u << (256 - spc);
  }
  if (!IsPowerOfTwo(g.m_nSectorsPerCluster) || g.ClusterBytes() > kMaxClusterBytes) {
    return Corrupt(message, "sectors per cluster " + std::to_string(spc));
  }
  g.m_nTotalSectors = Le64(sector + kTotalSectors);
  if (g.TotalClusters() == 0 || g.m_nTotalSectors > (1ull << 62) / g.m_nBytesPerSector) {
    return Corrupt(message, "total sectors " + std::to_string(g.m_nTotalSectors));
  }
  g.m_nMftLcn = Le64(sector + kMftLcn);
  g.m_nMftMirrorLcn = Le64(sector + kMftMirrorLcn);
  if (g.m_nMftLcn >= g.TotalClusters() || g.m_nMftMirrorLcn >= g.TotalClusters()) {
    return Corrupt(message, "MFT outside the volume");
  }
  g.m_nRecordSize =
      DecodeNtfsUnitSize(static_cast<int8_t>(sector[kClustersPerRecord]), g.ClusterBytes());
  if (g.m_nRecordSize == 0) {
    return Corrupt(message, "file record size code " + std::to_string(sector[kClustersPerRecord]));
  }
  g.m_nIndexBlockSize =
      DecodeNtfsUnitSize(static_cast<int8_t>(sector[kClustersPerIndexBlock]), g.ClusterBytes());
  if (g.m_nIndexBlockSize == 0) {
    return Corrupt(message,
                   "index block size code " + std::to_string(sector[kClustersPerIndexBlock]));
  }
  g.m_nSerial = Le64(sector + kSerial);
  *geometry = g;
  return ERROR_SUCCESS;
}

}  // namespace ntfs
}  // namespace vt
