#include "ondisk/ntfs_record.h"

#include "ondisk/ntfs_layout.h"

namespace vt {
namespace ntfs {

namespace {

using namespace record;
using multisector::kSignature;
using multisector::kUsaCount;
using multisector::kUsaOffset;

// The update sequence array of a structure of `size` bytes, checked to lie
// inside the first stride ahead of its protected word.
bool LocateArray(const uint8_t* data, size_t size, size_t* offset, size_t* count) {
  if (size < kFixupStride || size % kFixupStride != 0) return false;
  *offset = Le16(data + kUsaOffset);
  *count = Le16(data + kUsaCount);
  if (*count != size / kFixupStride + 1) return false;
  if (*offset % 2 != 0 || *offset < kUsaCount + 2) return false;
  return *offset + 2 * *count <= kFixupStride - 2;
}

}  // namespace

namespace {

DWORD ApplyFixupsLeniently(uint8_t* data, size_t size) {
  if (size < kUsaCount + 2) return ERROR_FILE_CORRUPT;
  const size_t offset = Le16(data + kUsaOffset);
  const size_t count = Le16(data + kUsaCount);
  if (count == 0) return ERROR_SUCCESS;
  if (offset > size || 2 * count > size - offset) return ERROR_FILE_CORRUPT;
  for (size_t k = 1; k < count && k * kFixupStride <= size; ++k) {
    PutLe16(data + k * kFixupStride - 2, Le16(data + offset + 2 * k));
  }
  return ERROR_SUCCESS;
}

}  // namespace

DWORD ApplyFixups(uint8_t* data, size_t size, FixupRule rule) {
  if (rule == FixupRule::kLenient) return ApplyFixupsLeniently(data, size);
  size_t offset = 0;
  size_t count = 0;
  if (!LocateArray(data, size, &offset, &count)) return ERROR_FILE_CORRUPT;
  const uint16_t check = Le16(data + offset);
  for (size_t i = 1; i < count; ++i) {
    if (Le16(data + i * kFixupStride - 2) != check) return ERROR_FILE_CORRUPT;
  }
  for (size_t i = 1; i < count; ++i) {
    PutLe16(data + i * kFixupStride - 2, Le16(data + offset + 2 * i));
  }
  return ERROR_SUCCESS;
}

DWORD PrepareFixups(uint8_t* data, size_t size) {
  size_t offset = 0;
  size_t count = 0;
  if (!LocateArray(data, size, &offset, &count)) return ERROR_FILE_CORRUPT;
  uint16_t check = static_cast<uint16_t>(Le16(data + offset) + 1);
  // 0 and 0xFFFF are never used, so that a zeroed or erased sector never
  // passes as written.
  if (check == 0 || check == 0xFFFF) check = 1;
  PutLe16(data + offset, check);
  for (size_t i = 1; i < count; ++i) {
    uint8_t* end = data + i * kFixupStride - 2;
    PutLe16(data + offset + 2 * i, Le16(end));
    PutLe16(end, check);
  }
  return ERROR_SUCCESS;
}

DWORD ParseRecordHeader(const uint8_t* record, size_t size, CRecordHeader* header) {
  if (size < kFixupStride || Le32(record + kSignature) != kRecordSignature) {
    return ERROR_FILE_CORRUPT;
  }
  CRecordHeader h;
  h.m_nSequence = Le16(record + kSequence);
  h.m_nLinkCount = Le16(record + kLinkCount);
  h.m_nFirstAttribute = Le16(record + kFirstAttribute);
  h.m_nFlags = Le16(record + kFlags);
  h.m_nBytesInUse = Le32(record + kBytesInUse);
  h.m_nBytesAllocated = Le32(record + kBytesAllocated);
  h.m_nBaseReference = Le64(record + kBaseReference);
  h.m_nNextInstance = Le16(record + kNextInstance);
  if (h.m_nBytesAllocated != size || h.m_nBytesInUse > size) return ERROR_FILE_CORRUPT;
  const size_t usaEnd =
      static_cast<size_t>(Le16(record + kUsaOffset)) + 2u * Le16(record + kUsaCount);
  // The attributes start 8-aligned after the header and the array, and the
  // end marker (4 bytes) at least must be in use.
  if (h.m_nFirstAttribute < kMinHeader || h.m_nFirstAttribute < usaEnd ||
      h.m_nFirstAttribute % 8 != 0 ||
      static_cast<size_t>(h.m_nFirstAttribute) + 4 > h.m_nBytesInUse) {
    return ERROR_FILE_CORRUPT;
  }
  *header = h;
  return ERROR_SUCCESS;
}

}  // namespace ntfs
}  // namespace vt
