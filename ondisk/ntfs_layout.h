// The NTFS on-disk format: every field offset the engine's reader and the
// image backend read or write, with its size and meaning, and the constants
// shared by both. Little-endian throughout; offsets in bytes from the
// structure's start.
#pragma once

#include <cstddef>
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

// The boot sector (sector 0; its BIOS parameter block lies in the first
// 0x54 bytes whatever the sector size).
namespace boot {
//   offset size  field
constexpr size_t kOemId = 0x03;                  // 8   "NTFS    "
constexpr size_t kBytesPerSector = 0x0B;         // 2   512 to 4096
constexpr size_t kSectorsPerCluster = 0x0D;      // 1   a count, or above 0x80 2^(256 - v)
constexpr size_t kTotalSectors = 0x28;           // 8   of the volume, less the backup boot sector
constexpr size_t kMftLcn = 0x30;                 // 8   LCN of $MFT
constexpr size_t kMftMirrorLcn = 0x38;           // 8   LCN of $MFTMirr
constexpr size_t kClustersPerRecord = 0x40;      // 1   signed: clusters, or if negative 2^-v bytes
constexpr size_t kClustersPerIndexBlock = 0x44;  // 1   the same coding for index blocks
constexpr size_t kSerial = 0x48;                 // 8   volume serial number
constexpr size_t kParameterBlockEnd = 0x50;
// Sectors of the smallest size hold the whole parameter block.
constexpr uint32_t kMinSectorBytes = 512;
}  // namespace boot

// The header shared by file records ("FILE") and index blocks ("INDX").
namespace multisector {
constexpr size_t kSignature = 0x00;  // 4   "FILE" or "INDX"
constexpr size_t kUsaOffset = 0x04;  // 2   offset of the update sequence array
constexpr size_t kUsaCount = 0x06;   // 2   its entries: the check value, then one a stride
constexpr size_t kLsn = 0x08;        // 8   log sequence number of the last change
}  // namespace multisector

// A file record header ("FILE").
namespace record {
constexpr size_t kSequence = 0x10;        // 2   sequence number, raised at each reuse
constexpr size_t kLinkCount = 0x12;       // 2   hard links (file names in indexes)
constexpr size_t kFirstAttribute = 0x14;  // 2   offset of the first attribute, 8-aligned
constexpr size_t kFlags = 0x16;           // 2   0x0001 in use, 0x0002 a folder
constexpr size_t kBytesInUse = 0x18;      // 4   through the end marker, 8-aligned
constexpr size_t kBytesAllocated = 0x1C;  // 4   the record size
constexpr size_t kBaseReference = 0x20;   // 8   the base record's reference; 0 in a base record
constexpr size_t kNextInstance = 0x28;    // 2   the next attribute instance number
constexpr size_t kRecordNumber = 0x2C;    // 4   the record's own number (NTFS 3.1)
constexpr size_t kMinHeader = 0x2A;       // through the next instance
// From NTFS 3.1 on the update sequence array follows the record number.
constexpr uint16_t kUsaOffset31 = 0x30;
}  // namespace record

// A $FILE_NAME value (also the key of a folder's $I30 index entries).
namespace fname {
constexpr size_t kParent = 0x00;         // 8   reference of the parent folder
constexpr size_t kCreationTime = 0x08;   // 8   FILETIME
constexpr size_t kWriteTime = 0x10;      // 8   FILETIME, data last written
constexpr size_t kChangeTime = 0x18;     // 8   FILETIME, record last changed
constexpr size_t kAccessTime = 0x20;     // 8   FILETIME
constexpr size_t kAllocatedSize = 0x28;  // 8   of the data, as last copied here
constexpr size_t kDataSize = 0x30;       // 8
constexpr size_t kFlags = 0x38;          // 4   file attributes, kFileNameIsDirectory
constexpr size_t kReparse = 0x3C;        // 4   reparse tag or extended attribute size
constexpr size_t kNameLength = 0x40;     // 1   in UTF-16 units
constexpr size_t kNamespace = 0x41;      // 1   kNamespace* below
constexpr size_t kName = 0x42;           // 2n  UTF-16
}  // namespace fname

// A $STANDARD_INFORMATION value (the part every NTFS version has).
namespace si {
constexpr size_t kCreationTime = 0x00;  // 8   FILETIME
constexpr size_t kWriteTime = 0x08;     // 8   FILETIME, data last written
constexpr size_t kChangeTime = 0x10;    // 8   FILETIME, record last changed
constexpr size_t kAccessTime = 0x18;    // 8   FILETIME
constexpr size_t kAttributes = 0x20;    // 4   FILE_ATTRIBUTE_* bits
constexpr size_t kMinSize = 0x30;       // NTFS 1.x; 3.x adds owner, security, quota, USN
}  // namespace si

// An $INDEX_ROOT value: its header, then a node.
namespace index {
constexpr size_t kRootIndexedType = 0x00;       // 4   0x30 for file names
constexpr size_t kRootCollation = 0x04;         // 4   collation rule
constexpr size_t kRootBlockSize = 0x08;         // 4   bytes per index block
constexpr size_t kRootClustersPerBlock = 0x0C;  // 1
constexpr size_t kRootNode = 0x10;              // the node header
// An index block ("INDX", multi-sector header first).
constexpr size_t kBlockVcn = 0x10;   // 8   the block's own VCN in the allocation
constexpr size_t kBlockNode = 0x18;  // the node header
// A node header, from its own start.
constexpr size_t kNodeEntriesOffset = 0x00;  // 4   first entry, from the node header
constexpr size_t kNodeIndexLength = 0x04;    // 4   bytes of entries in use, from the header
constexpr size_t kNodeAllocatedSize = 0x08;  // 4   bytes the node may use
constexpr size_t kNodeFlags = 0x0C;          // 1   0x01: entries have sub-nodes
constexpr size_t kNodeHeader = 0x10;
// An index entry.
constexpr size_t kEntryReference = 0x00;  // 8   the file the key names
constexpr size_t kEntryLength = 0x08;     // 2   8-aligned, sub-node VCN included
constexpr size_t kEntryKeyLength = 0x0A;  // 2
constexpr size_t kEntryFlags = 0x0C;      // 2   kEntryHasSubNode, kEntryLast
constexpr size_t kEntryKey = 0x10;        // n   the key; the sub-node VCN (8) ends the entry
constexpr uint16_t kEntryHasSubNode = 0x0001;
constexpr uint16_t kEntryLast = 0x0002;
}  // namespace index

// An $ATTRIBUTE_LIST entry; the name follows the header.
namespace alist {
constexpr size_t kType = 0x00;        // 4   attribute type
constexpr size_t kLength = 0x04;      // 2   of the entry
constexpr size_t kNameLength = 0x06;  // 1   in UTF-16 units
constexpr size_t kNameOffset = 0x07;  // 1   from the entry's start
constexpr size_t kFirstVcn = 0x08;    // 8   of the segment the entry names
constexpr size_t kReference = 0x10;   // 8   the record holding it
constexpr size_t kInstance = 0x18;    // 2   the attribute's instance there
constexpr size_t kHeader = 0x1A;
}  // namespace alist

// A $VOLUME_INFORMATION value.
namespace volinfo {
constexpr size_t kMajorVersion = 0x08;  // 1
constexpr size_t kMinorVersion = 0x09;  // 1
constexpr size_t kFlags = 0x0A;         // 2   kVolumeDirty and others
constexpr uint16_t kVolumeDirty = 0x0001;
}  // namespace volinfo

// The restart page at the start of $LogFile (multi-sector header first).
namespace logfile {
constexpr size_t kSystemPageSize = 0x10;  // 4   the restart page's size
constexpr size_t kLogPageSize = 0x14;     // 4
constexpr size_t kRestartArea = 0x18;     // 2   offset of the restart area
// The restart area, from its own start.
constexpr size_t kAreaInUseList = 0x0C;         // 2   first client in use; kNoClient for none
constexpr size_t kAreaFlags = 0x0E;             // 2   kAreaVolumeClean
constexpr uint32_t kRestartMagic = 0x52545352;  // "RSTR"
constexpr uint32_t kChkdskMagic = 0x444B4843;   // "CHKD"
constexpr uint16_t kNoClient = 0xFFFF;
constexpr uint16_t kAreaVolumeClean = 0x0002;
}  // namespace logfile

// The reply of FSCTL_GET_NTFS_FILE_RECORD (NTFS_FILE_RECORD_OUTPUT_BUFFER).
namespace reply {
constexpr size_t kReference = 0x00;     // 8   the record returned (its number)
constexpr size_t kRecordLength = 0x08;  // 4   bytes of the record that follow
constexpr size_t kRecord = 0x0C;        // the record, fix-ups undone
}  // namespace reply

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
constexpr uint64_t kRecordLogFile = 2;
constexpr uint64_t kRecordVolume = 3;
constexpr uint64_t kRecordRoot = 5;
constexpr uint64_t kRecordBitmap = 6;
// Records below this one are the volume's own metafiles, which folder
// listings do not show.
constexpr uint64_t kFirstUserRecord = 16;
// Records below this one are the metafiles (the root folder among them) and
// their reserve: the file system moves none of them.
constexpr uint64_t kFirstMovableRecord = 24;

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
