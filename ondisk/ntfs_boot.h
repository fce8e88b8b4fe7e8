// The NTFS boot sector: geometry, the MFT's place and the record and index
// block sizes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/winshapes.h"

namespace vt {
namespace ntfs {

struct CNtfsGeometry {
  uint32_t m_nBytesPerSector = 0;
  uint32_t m_nSectorsPerCluster = 0;
  uint64_t m_nTotalSectors = 0;  // of the volume, without the backup boot sector
  uint64_t m_nMftLcn = 0;
  uint64_t m_nMftMirrorLcn = 0;
  uint32_t m_nRecordSize = 0;
  uint32_t m_nIndexBlockSize = 0;
  uint64_t m_nSerial = 0;

  uint64_t ClusterBytes() const {
    return static_cast<uint64_t>(m_nBytesPerSector) * m_nSectorsPerCluster;
  }
  uint64_t TotalClusters() const { return m_nTotalSectors / m_nSectorsPerCluster; }
  uint64_t VolumeBytes() const { return m_nTotalSectors * m_nBytesPerSector; }
  uint64_t LcnOffset(uint64_t lcn) const { return lcn * ClusterBytes(); }
};

// Whether a sector carries the NTFS signature ("NTFS    " at offset 3).
bool HasNtfsSignature(const uint8_t* sector, size_t size);

// Checks and decodes a boot sector. ERROR_SUCCESS, or ERROR_UNRECOGNIZED_VOLUME
// (not NTFS) / ERROR_DISK_CORRUPT (a field out of range) with a one-line
// reason.
DWORD ParseNtfsBootSector(const uint8_t* sector, size_t size, CNtfsGeometry* geometry,
                          std::string* message);

// A size coded as clusters per record or per index block: a positive value
// counts clusters, a negative one v means 2^-v bytes. NtfsUnitBytes gives the
// size as coded (0 for a shift past 2^31); DecodeNtfsUnitSize gives 0 for a
// code that gives no valid size.
uint64_t NtfsUnitBytes(int8_t code, uint64_t clusterBytes);
uint32_t DecodeNtfsUnitSize(int8_t code, uint64_t clusterBytes);

}  // namespace ntfs
}  // namespace vt
