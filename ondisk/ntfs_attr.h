// Attributes inside a file record, and the entries of an attribute list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/winshapes.h"
#include "ondisk/ntfs_record.h"

namespace vt {
namespace ntfs {

// Offsets of an attribute header's fields from the attribute's start;
// the resident and non-resident parts share offsets 0x10 on.
namespace attr {
constexpr size_t kType = 0x00;
constexpr size_t kLength = 0x04;
constexpr size_t kNonResident = 0x08;
constexpr size_t kNameLength = 0x09;
constexpr size_t kNameOffset = 0x0A;
constexpr size_t kFlags = 0x0C;
constexpr size_t kInstance = 0x0E;
// Resident part.
constexpr size_t kValueLength = 0x10;
constexpr size_t kValueOffset = 0x14;
constexpr size_t kResidentHeader = 0x18;
// Non-resident part.
constexpr size_t kFirstVcn = 0x10;
constexpr size_t kLastVcn = 0x18;
constexpr size_t kRunsOffset = 0x20;
constexpr size_t kCompressionUnit = 0x22;
constexpr size_t kAllocatedSize = 0x28;
constexpr size_t kDataSize = 0x30;
constexpr size_t kInitializedSize = 0x38;
// Compressed or sparse attributes only: the clusters in use.
constexpr size_t kCompressedSize = 0x40;
constexpr size_t kCompressedHeader = 0x48;
constexpr size_t kNonResidentHeader = 0x40;
}  // namespace attr

// One attribute header, checked against its record. Offsets are relative to
// the attribute's start, which is `m_nOffset` bytes into the record.
struct CAttribute {
  uint32_t m_nType = 0;
  uint32_t m_nLength = 0;
  bool m_bNonResident = false;
  uint16_t m_nFlags = 0;
  uint16_t m_nInstance = 0;
  std::u16string m_name;
  size_t m_nOffset = 0;
  // Where the name lies, from the attribute's start.
  uint8_t m_nNameLength = 0;
  uint16_t m_nNameOffset = 0;

  // Resident.
  uint32_t m_nValueLength = 0;
  uint16_t m_nValueOffset = 0;

  // Non-resident. Sizes are meaningful only in the segment that starts at
  // VCN 0. An empty attribute has m_nLastVcn + 1 == m_nFirstVcn == 0.
  uint64_t m_nFirstVcn = 0;
  int64_t m_nLastVcn = -1;
  uint16_t m_nRunsOffset = 0;
  uint8_t m_nCompressionUnit = 0;  // log2 of clusters per compression unit
  uint64_t m_nAllocatedSize = 0;
  uint64_t m_nDataSize = 0;
  uint64_t m_nInitializedSize = 0;

  bool NameIs(const std::u16string& name) const { return m_name == name; }
  // Clusters the segment covers.
  uint64_t VcnCount() const { return static_cast<uint64_t>(m_nLastVcn + 1) - m_nFirstVcn; }
};

// Walks the attributes of a record whose header is checked. Every attribute
// must lie inside the bytes in use with its name, value or run list inside
// itself, and the list must end with the end marker; ERROR_FILE_CORRUPT
// otherwise.
DWORD ParseAttributes(const uint8_t* record, size_t size, const CRecordHeader& header,
                      std::vector<CAttribute>* attributes);

// ParseAttributes one attribute at a time and without copying names (as
// CAttributeWalk below leaves them): the same rules, so that a check over
// every record of a volume allocates nothing. Next is false at the end
// marker, and at the first damage, after which Result() is
// ERROR_FILE_CORRUPT; ERROR_SUCCESS once the end marker was reached.
class CCheckedAttributeWalk {
 public:
  CCheckedAttributeWalk(const uint8_t* record, size_t size, const CRecordHeader& header);
  bool Next(CAttribute* a);
  DWORD Result() const { return m_nResult; }

 private:
  const uint8_t* m_pRecord;
  size_t m_nEnd;
  size_t m_nNext;
  bool m_bDone = false;
  DWORD m_nResult = ERROR_FILE_CORRUPT;
};

// The analysis's walk over a record it reads what it can of: from the
// first-attribute offset to the end marker, the end of the record, or the
// first attribute whose header, name, value or run-list offset does not fit
// inside it; the attributes before that one are kept. Field values are not
// judged beyond that (the caller checks what it uses).
std::vector<CAttribute> WalkAttributes(const uint8_t* record, size_t size);

// The same walk one attribute at a time and without copying: the name stays
// in the record (m_name is left empty; m_nNameLength and m_nNameOffset say
// where it is), so a pass over many records allocates nothing.
class CAttributeWalk {
 public:
  CAttributeWalk(const uint8_t* record, size_t size);
  // The next attribute into `a`; false at the end marker, at the end of the
  // record or at the first attribute that does not fit.
  bool Next(CAttribute* a);

 private:
  const uint8_t* m_pRecord;
  size_t m_nSize;
  size_t m_nNext;
};

// The first attribute of that type with no name; null when there is none.
const CAttribute* FindUnnamed(const std::vector<CAttribute>& attributes, uint32_t type);

// The value bytes of a resident attribute.
inline const uint8_t* ResidentValue(const uint8_t* record, const CAttribute& a) {
  return record + a.m_nOffset + a.m_nValueOffset;
}
// The mapping pairs of a non-resident attribute and their byte count.
inline const uint8_t* RunListBytes(const uint8_t* record, const CAttribute& a, size_t* size) {
  *size = a.m_nLength - a.m_nRunsOffset;
  return record + a.m_nOffset + a.m_nRunsOffset;
}

// One entry of an attribute list: where an attribute (or the part of it
// from m_nFirstVcn on) is kept.
struct CListEntry {
  uint32_t m_nType = 0;
  std::u16string m_name;
  uint64_t m_nFirstVcn = 0;
  uint64_t m_nReference = 0;  // file reference of the record holding it
  uint16_t m_nInstance = 0;
};

// Decodes an attribute list value into `entries`, whose storage is reused.
// ERROR_FILE_CORRUPT for an entry whose length is too short, runs past the
// value or whose name lies outside it; `entries` then holds those before it.
DWORD ParseAttributeList(const uint8_t* data, size_t size, std::vector<CListEntry>* entries);

}  // namespace ntfs
}  // namespace vt
