// FAT folder entries: 8.3 entries, long-name entries and their checksums,
// names in the ANSI code page, and FAT times.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ondisk/fat_boot.h"
#include "platform/image/fs_types.h"

namespace vt {

constexpr size_t kFatDirEntrySize = 32;
// The largest folder FAT allows (65536 entries); longer chains are not read.
constexpr uint64_t kFatMaxFolderBytes = 65536 * kFatDirEntrySize;

// Attribute bits of a FAT entry.
constexpr uint8_t kFatAttrVolume = 0x08;
constexpr uint8_t kFatAttrDirectory = 0x10;
constexpr uint8_t kFatAttrLongName = 0x0F;

// Checksum of an 11-byte 8.3 name, as long-name entries carry it.
uint8_t FatShortNameChecksum(const uint8_t* name11);

// A FAT date and time to FILETIME; `centiseconds` (0-199) refines the
// two-second resolution. FAT stores local time without a zone; it is taken
// as UTC here so that results do not depend on the host's zone. Invalid
// fields give a zero FILETIME.
FILETIME FatTimeToFileTime(uint16_t date, uint16_t time, uint8_t centiseconds);

// Where the bytes of a folder came from: the folder is read as equal-sized
// segments (clusters, or one segment for the fixed root folder).
struct CFatFolderSource {
  uint64_t m_nSegmentBytes = 0;
  std::vector<uint64_t> m_segmentOffsets;  // volume byte offset of each segment
  bool m_bRoot = false;
};

// Decodes the entries of one folder, stopping at the end marker. Deleted
// entries, volume labels and broken long-name sequences are dropped (an
// orphaned or mismatched long name falls back to the short name); "." and
// ".." are kept only outside the root. `label` (optional) receives the
// volume label entry of a root folder. `problem` (optional) receives the
// first entry that the file system's checker would reject and the decoder
// passes over or reads its own way: long-name entries that belong to no
// entry, an attribute byte that makes a folder of a volume label, a folder
// entry with a size.
void DecodeFatFolder(const uint8_t* data, size_t size, const CFatFolderSource& source,
                     EFatType type, std::vector<CFsNode>* nodes, std::string* label,
                     std::string* problem = nullptr);

}  // namespace vt
