// Changing NTFS structures in an image: writing a stream's bytes where its
// runs place them, and resizing attributes inside a record's bytes (fix-ups
// undone) with the attributes after them moved along.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ondisk/ntfs_attr.h"
#include "ondisk/ntfs_boot.h"
#include "ondisk/ntfs_record.h"
#include "platform/image/block_device.h"
#include "platform/image/ntfs_stream.h"

namespace vt {
namespace ntfs {

// Record header fields rewritten in place.
constexpr size_t kRecordSequenceField = record::kSequence;
constexpr size_t kRecordFlagsField = record::kFlags;
constexpr size_t kRecordBytesInUseField = record::kBytesInUse;

// Writes bytes of a non-resident stream where its runs place them. Sparse
// runs and ranges past the runs are ERROR_FILE_CORRUPT and nothing is
// written. Pieces that continue each other on disk go out as one write.
DWORD WriteStream(CBlockDevice& device, const CNtfsGeometry& g, const CStream& stream,
                  uint64_t offset, const uint8_t* data, size_t size);

// Whether bytes of a stream lie in one stretch of the device, so that one
// write stores them.
bool InOnePlace(const CNtfsGeometry& g, const CStream& stream, uint64_t offset, uint64_t size);

// Gives attribute `a` a new length (a multiple of 8): its first bytes are
// kept, bytes added are zero, the attributes after it move and the bytes in
// use follow. ERROR_DISK_FULL when the record has no room; `bytes` may then
// be half changed and must be dropped.
DWORD ResizeAttribute(const CAttribute& a, size_t newLength, std::vector<uint8_t>* bytes,
                      CRecordHeader* header);

// Inserts a whole attribute (its length a multiple of 8) at byte `offset`
// of a record, moving what follows. ERROR_DISK_FULL as above.
DWORD InsertAttribute(size_t offset, const std::vector<uint8_t>& attribute,
                      std::vector<uint8_t>* bytes, CRecordHeader* header);

// Puts new mapping pairs into a non-resident attribute (or segment).
// ERROR_DISK_FULL as above.
DWORD RewriteRunList(const CAttribute& a, const std::vector<CRun>& runs,
                     std::vector<uint8_t>* bytes, CRecordHeader* header);

// The next sequence number of a record that is freed or reused; 0 is never
// one.
inline uint16_t NextSequence(uint16_t sequence) {
  return static_cast<uint16_t>(sequence == 0xFFFF ? 1 : sequence + 1);
}

}  // namespace ntfs
}  // namespace vt
