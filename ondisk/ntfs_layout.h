// Constants of the NTFS on-disk format shared by the NTFS pieces of the
// image backend. Field offsets live beside the code that reads them.
#pragma once

#include <cstdint>

#include "base/le.h"

namespace vt {
namespace ntfs {

inline uint64_t Le64(const uint8_t* p) {
  return static_cast<uint64_t>(Le32(p)) | (static_cast<uint64_t>(Le32(p + 4)) << 32);
}
inline void PutLe64(uint8_t* p, uint64_t v) {
  PutLe32(p, static_cast<uint32_t>(v));
  PutLe32(p + 4, static_cast<uint32_t>(v >> 32));
}

// Attribute types.
constexpr uint32_t kAttrStandardInformation = 0x10;
constexpr uint32_t kAttrAttributeList = 0x20;
constexpr uint32_t kAttrFileName = 0x30;
constexpr uint32_t kAttrVolumeName = 0x60;
constexpr uint32_t kAttrVolumeInformation = 0x70;
constexpr uint32_t kAttrData = 0x80;
constexpr uint32_t kAttrIndexRoot = 0x90;
constexpr uint32_t kAttrIndexAllocation = 0xA0;
constexpr uint32_t kAttrBitmap = 0xB0;
constexpr uint32_t kAttrReparsePoint = 0xC0;
constexpr uint32_t kAttrEnd = 0xFFFFFFFF;

// Attribute flags.
constexpr uint16_t kAttrFlagCompressed = 0x0001;
constexpr uint16_t kAttrFlagEncrypted = 0x4000;
constexpr uint16_t kAttrFlagSparse = 0x8000;

// Well-known records.
constexpr uint64_t kRecordMft = 0;
constexpr uint64_t kRecordVolume = 3;
constexpr uint64_t kRecordRoot = 5;
constexpr uint64_t kRecordBitmap = 6;
// Records below this one are the volume's own metafiles, which folder
// listings do not show.
constexpr uint64_t kFirstUserRecord = 16;

// A file reference: the record number in the low 48 bits, the record's
// sequence number in the high 16.
constexpr uint64_t kRecordNumberMask = 0x0000FFFFFFFFFFFFULL;
inline uint64_t RecordNumberOf(uint64_t reference) { return reference & kRecordNumberMask; }
inline uint16_t SequenceOf(uint64_t reference) { return static_cast<uint16_t>(reference >> 48); }

// Fix-ups protect the last two bytes of every 512-byte stride of a record
// or index block, whatever the sector size.
constexpr uint32_t kFixupStride = 512;

// File-name namespaces.
constexpr uint8_t kNamespacePosix = 0;
constexpr uint8_t kNamespaceWin32 = 1;
constexpr uint8_t kNamespaceDos = 2;
constexpr uint8_t kNamespaceWin32AndDos = 3;

// Bits of the file attributes kept in file names and standard information
// beyond the Win32 ones.
constexpr uint32_t kFileNameIsDirectory = 0x10000000;
constexpr uint32_t kFileNameIsViewIndex = 0x20000000;

// The name of a folder's file-name index.
constexpr char16_t kIndexI30[] = u"$I30";

}  // namespace ntfs
}  // namespace vt
