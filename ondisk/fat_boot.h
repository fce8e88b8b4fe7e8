// The FAT boot sector and the volume layout it describes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/winshapes.h"

namespace vt {

enum class EFatType { kFat12, kFat16, kFat32 };

// Geometry of a FAT volume, taken from a boot sector that passed every check
// below, so the derived offsets are consistent and fit in 64 bits.
struct CFatLayout {
  EFatType m_eType = EFatType::kFat16;
  uint32_t m_nBytesPerSector = 0;
  uint32_t m_nSectorsPerCluster = 0;
  uint32_t m_nReservedSectors = 0;
  uint32_t m_nFats = 0;
  uint32_t m_nRootEntries = 0;  // FAT12/16 fixed root folder
  uint32_t m_nTotalSectors = 0;
  uint32_t m_nFatSectors = 0;
  uint32_t m_nRootDirSectors = 0;
  uint32_t m_nFirstDataSector = 0;
  uint32_t m_nClusterCount = 0;  // clusters 2 .. m_nClusterCount + 1
  uint32_t m_nRootCluster = 0;   // FAT32
  uint32_t m_nFsInfoSector = 0;  // FAT32; 0 when there is none
  uint32_t m_nActiveFat = 0;     // the copy that is read
  bool m_bMirrored = true;       // writes go to every copy
  bool m_bHasSerial = false;
  uint32_t m_nSerial = 0;

  uint64_t BytesPerCluster() const {
    return static_cast<uint64_t>(m_nBytesPerSector) * m_nSectorsPerCluster;
  }
  uint64_t FatOffset(uint32_t copy) const {
    return (static_cast<uint64_t>(m_nReservedSectors) +
            static_cast<uint64_t>(copy) * m_nFatSectors) *
           m_nBytesPerSector;
  }
  uint64_t FatBytes() const { return static_cast<uint64_t>(m_nFatSectors) * m_nBytesPerSector; }
  uint64_t RootDirOffset() const { return FatOffset(m_nFats); }
  uint64_t RootDirBytes() const { return static_cast<uint64_t>(m_nRootEntries) * 32; }
  uint64_t DataOffset() const {
    return static_cast<uint64_t>(m_nFirstDataSector) * m_nBytesPerSector;
  }
  // Byte offset of a cluster of the data area (2 is the first).
  uint64_t ClusterOffset(uint32_t cluster) const {
    return DataOffset() + static_cast<uint64_t>(cluster - 2) * BytesPerCluster();
  }
  // End of the last cluster: what an image must hold at least.
  uint64_t HeapEnd() const {
    return DataOffset() + static_cast<uint64_t>(m_nClusterCount) * BytesPerCluster();
  }
  uint64_t VolumeBytes() const {
    return static_cast<uint64_t>(m_nTotalSectors) * m_nBytesPerSector;
  }
  // Bytes of FAT that hold the entries of clusters 0 .. m_nClusterCount + 1.
  uint64_t FatBytesNeeded() const;
};

// Checks a boot sector (at least the first 512 bytes of the volume) and
// fills the layout. ERROR_UNRECOGNIZED_VOLUME when it is not a FAT boot
// sector at all, ERROR_DISK_CORRUPT when it is one with impossible values;
// `message` gets a one-line reason.
DWORD ParseFatBootSector(const uint8_t* sector, size_t size, CFatLayout* layout,
                         std::string* message);

}  // namespace vt
