// A FAT directory entry: 32 bytes, little-endian, for both the 8.3 entry
// and the long-name entries that come before it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vt {
namespace fatdir {

// The 8.3 entry.
//   offset size  field
constexpr size_t kName = 0;           // 11  name and extension, blank-padded, OEM code page
constexpr size_t kAttr = 11;          // 1   FILE_ATTRIBUTE_* bits; 0x0F marks a long-name entry
constexpr size_t kCaseFlags = 12;     // 1   lower-case base / extension (kCaseLower*)
constexpr size_t kCreateCentis = 13;  // 1   creation time, 10 ms units within 2 s
constexpr size_t kCreateTime = 14;    // 2   creation time, DOS format
constexpr size_t kCreateDate = 16;    // 2   creation date, DOS format
constexpr size_t kAccessDate = 18;    // 2   last access date
constexpr size_t kClusterHigh = 20;   // 2   first cluster, high word (FAT32)
constexpr size_t kWriteTime = 22;     // 2   last write time
constexpr size_t kWriteDate = 24;     // 2   last write date
constexpr size_t kClusterLow = 26;    // 2   first cluster, low word
constexpr size_t kSize = 28;          // 4   file size in bytes (0 for a folder)

// A long-name entry: 13 UTF-16 characters at kLfnCharOffsets.
constexpr size_t kLfnOrder = 0;        // 1   sequence number, kLfnLast on the last (first stored)
constexpr size_t kLfnType = 12;        // 1   0
constexpr size_t kLfnChecksum = 13;    // 1   checksum of the 8.3 name it belongs to
constexpr size_t kLfnClusterLow = 26;  // 2   0
constexpr uint8_t kLfnLast = 0x40;
constexpr int kLfnCharsPerEntry = 13;
constexpr int kLfnMaxEntries = 20;  // 255 characters
constexpr size_t kLfnCharOffsets[kLfnCharsPerEntry] = {1,  3,  5,  7,  9,  14, 16,
                                                       18, 20, 22, 24, 28, 30};

// Values of the first name byte and the case flags.
constexpr uint8_t kCaseLowerBase = 0x08;
constexpr uint8_t kCaseLowerExt = 0x10;
constexpr uint8_t kEntryFree = 0xE5;
constexpr uint8_t kEntryEnd = 0x00;
constexpr uint8_t kEntryE5Escape = 0x05;  // a name whose first byte is 0xE5

}  // namespace fatdir
}  // namespace vt
