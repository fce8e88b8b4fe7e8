#include "ondisk/fat_boot.h"

#include <cstring>

#include "base/le.h"

namespace vt {

namespace {

// Boot sector fields (offsets from the start of the sector).
constexpr size_t kJump = 0x00;
constexpr size_t kOemName = 0x03;
constexpr size_t kBytesPerSector = 0x0B;
constexpr size_t kSectorsPerCluster = 0x0D;
constexpr size_t kReservedSectors = 0x0E;
constexpr size_t kFatCount = 0x10;
constexpr size_t kRootEntries = 0x11;
constexpr size_t kTotalSectors16 = 0x13;
constexpr size_t kFatSectors16 = 0x16;
constexpr size_t kTotalSectors32 = 0x20;
constexpr size_t kFatSectors32 = 0x24;
constexpr size_t kExtFlags32 = 0x28;
constexpr size_t kFsVersion32 = 0x2A;
constexpr size_t kRootCluster32 = 0x2C;
constexpr size_t kFsInfo32 = 0x30;
constexpr size_t kExtSignature16 = 0x26;
constexpr size_t kSerial16 = 0x27;
constexpr size_t kExtSignature32 = 0x42;
constexpr size_t kSerial32 = 0x43;
constexpr size_t kSignature = 0x1FE;
constexpr size_t kBootSectorSize = 512;

// Cluster counts that decide the FAT width.
constexpr uint32_t kMaxFat12Clusters = 4084;
constexpr uint32_t kMaxFat16Clusters = 65524;
constexpr uint32_t kMaxFat32Clusters = 0x0FFFFFF5;

bool IsPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

DWORD Fail(DWORD code, std::string* message, const std::string& text) {
  if (message) *message = text;
  return code;
}

DWORD Corrupt(std::string* message, const std::string& what) {
  return Fail(ERROR_DISK_CORRUPT, message, "damaged FAT boot sector: " + what);
}

}  // namespace

uint64_t CFatLayout::FatBytesNeeded() const {
  uint64_t entries = static_cast<uint64_t>(m_nClusterCount) + 2;
  switch (m_eType) {
    case EFatType::kFat12:
      return (entries * 3 + 1) / 2;
    case EFatType::kFat16:
      return entries * 2;
    case EFatType::kFat32:
      return entries * 4;
  }
  return entries * 4;
}

DWORD ParseFatBootSector(const uint8_t* b, size_t size, CFatLayout* layout, std::string* message) {
  if (size < kBootSectorSize) {
    return Fail(ERROR_UNRECOGNIZED_VOLUME, message,
                "not a FAT volume: too short to hold a boot sector");
  }
  bool blank = true;
  for (size_t i = 0; i < kBootSectorSize && blank; ++i) blank = b[i] == 0;
  if (blank) {
    return Fail(ERROR_UNRECOGNIZED_VOLUME, message,
                "not a FAT volume: the boot sector is blank (all zeros)");
  }
  if (std::memcmp(b + kOemName, "NTFS    ", 8) == 0) {
    return Fail(ERROR_UNRECOGNIZED_VOLUME, message, "not a FAT volume: NTFS boot sector");
  }
  if (std::memcmp(b + kOemName, "EXFAT   ", 8) == 0) {
    return Fail(ERROR_UNRECOGNIZED_VOLUME, message, "not a FAT volume: exFAT boot sector");
  }
  bool jump = b[kJump] == 0xEB || b[kJump] == 0xE9;
  bool signature = b[kSignature] == 0x55 && b[kSignature + 1] == 0xAA;
  if (!jump && !signature) {
    return Fail(ERROR_UNRECOGNIZED_VOLUME, message,
                "not a FAT volume: no boot sector jump or signature");
  }

  CFatLayout l;
  l.m_nBytesPerSector = Le16(b + kBytesPerSector);
  if (l.m_nBytesPerSector < 512 || l.m_nBytesPerSector > 4096 ||
      !IsPowerOfTwo(l.m_nBytesPerSector)) {
    return Corrupt(message, "bytes per sector " + std::to_string(l.m_nBytesPerSector));
  }
  l.m_nSectorsPerCluster = b[kSectorsPerCluster];
  if (!IsPowerOfTwo(l.m_nSectorsPerCluster)) {
    return Corrupt(message, "sectors per cluster " + std::to_string(l.m_nSectorsPerCluster));
  }
  l.m_nReservedSectors = Le16(b + kReservedSectors);
  if (l.m_nReservedSectors == 0) return Corrupt(message, "no reserved sectors");
  l.m_nFats = b[kFatCount];
  if (l.m_nFats == 0 || l.m_nFats > 4) {
    return Corrupt(message, "FAT count " + std::to_string(l.m_nFats));
  }
  l.m_nRootEntries = Le16(b + kRootEntries);
  l.m_nTotalSectors = Le16(b + kTotalSectors16);
  if (l.m_nTotalSectors == 0) l.m_nTotalSectors = Le32(b + kTotalSectors32);
  if (l.m_nTotalSectors == 0) return Corrupt(message, "total sectors 0");
  uint32_t fat16Sectors = Le16(b + kFatSectors16);
  l.m_nFatSectors = fat16Sectors ? fat16Sectors : Le32(b + kFatSectors32);
  if (l.m_nFatSectors == 0) return Corrupt(message, "FAT size 0");

  uint64_t rootDirSectors =
      (static_cast<uint64_t>(l.m_nRootEntries) * 32 + l.m_nBytesPerSector - 1) /
      l.m_nBytesPerSector;
  uint64_t firstData = static_cast<uint64_t>(l.m_nReservedSectors) +
                       static_cast<uint64_t>(l.m_nFats) * l.m_nFatSectors + rootDirSectors;
  if (firstData >= l.m_nTotalSectors) {
    return Corrupt(message, "FATs and root folder leave no room for data");
  }
  l.m_nRootDirSectors = static_cast<uint32_t>(rootDirSectors);
  l.m_nFirstDataSector = static_cast<uint32_t>(firstData);
  uint64_t clusters = (l.m_nTotalSectors - firstData) / l.m_nSectorsPerCluster;
  if (clusters == 0) return Corrupt(message, "no data clusters");
  if (clusters > kMaxFat32Clusters) {
    return Corrupt(message, "cluster count " + std::to_string(clusters));
  }
  l.m_nClusterCount = static_cast<uint32_t>(clusters);

  // The cluster count alone decides the FAT width.
  if (l.m_nClusterCount <= kMaxFat12Clusters) {
    l.m_eType = EFatType::kFat12;
  } else if (l.m_nClusterCount <= kMaxFat16Clusters) {
    l.m_eType = EFatType::kFat16;
  } else {
    l.m_eType = EFatType::kFat32;
  }

  if (l.m_eType == EFatType::kFat32) {
    if (fat16Sectors != 0 || l.m_nRootEntries != 0) {
      return Corrupt(message, "FAT32 cluster count with a FAT12/16 layout");
    }
    uint16_t version = Le16(b + kFsVersion32);
    if (version != 0) {
      return Fail(ERROR_UNRECOGNIZED_VOLUME, message,
                  "not a supported FAT volume: FAT32 version " + std::to_string(version >> 8) +
                      "." + std::to_string(version & 0xFF));
    }
    l.m_nRootCluster = Le32(b + kRootCluster32);
    if (l.m_nRootCluster < 2 || l.m_nRootCluster > l.m_nClusterCount + 1) {
      return Corrupt(message, "root folder cluster " + std::to_string(l.m_nRootCluster));
    }
    uint16_t extFlags = Le16(b + kExtFlags32);
    if (extFlags & 0x80) {
      // Mirroring off: only the named copy is in use.
      l.m_bMirrored = false;
      l.m_nActiveFat = extFlags & 0x0F;
      if (l.m_nActiveFat >= l.m_nFats) {
        return Corrupt(message, "active FAT " + std::to_string(l.m_nActiveFat));
      }
    }
    uint32_t fsInfo = Le16(b + kFsInfo32);
    l.m_nFsInfoSector =
        (fsInfo != 0 && fsInfo != 0xFFFF && fsInfo < l.m_nReservedSectors) ? fsInfo : 0;
    if (b[kExtSignature32] == 0x29 || b[kExtSignature32] == 0x28) {
      l.m_bHasSerial = true;
      l.m_nSerial = Le32(b + kSerial32);
    }
  } else {
    if (l.m_nRootEntries == 0) {
      return Corrupt(message, "FAT12/16 cluster count with a FAT32 layout (no root folder)");
    }
    if (fat16Sectors == 0) {
      return Corrupt(message, "FAT12/16 cluster count with a FAT32 layout");
    }
    if (b[kExtSignature16] == 0x29 || b[kExtSignature16] == 0x28) {
      l.m_bHasSerial = true;
      l.m_nSerial = Le32(b + kSerial16);
    }
  }
  if (l.FatBytes() < l.FatBytesNeeded()) {
    return Corrupt(message, "FAT of " + std::to_string(l.m_nFatSectors) +
                                " sectors is too small for " + std::to_string(l.m_nClusterCount) +
                                " clusters");
  }
  *layout = l;
  return ERROR_SUCCESS;
}

}  // namespace vt
