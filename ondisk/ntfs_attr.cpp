#include "ondisk/ntfs_attr.h"

#include <algorithm>

#include "ondisk/ntfs_layout.h"

namespace vt {
namespace ntfs {

namespace {

// Sizes beyond this are not a volume's.
constexpr uint64_t kMaxSize = 1ull << 62;

std::u16string ReadName(const uint8_t* p, size_t count) {
  std::u16string name(count, u'\0');
  for (size_t i = 0; i < count; ++i) name[i] = static_cast<char16_t>(Le16(p + 2 * i));
  return name;
}

// Reads the attribute at `offset` with `available` bytes left in the record.
// Every rule keeps the header, name, value and run-list offset inside the
// attribute; the checked rule also judges lengths, VCNs and sizes. Without
// `copyName` the name is only located.
DWORD ParseOne(const uint8_t* record, size_t offset, size_t available, CAttribute* a,
               bool lenient = false, bool copyName = true) {
  const uint8_t* p = record + offset;
  a->m_nOffset = offset;
  a->m_nType = Le32(p + attr::kType);
  a->m_nLength = Le32(p + attr::kLength);
  a->m_bNonResident = p[attr::kNonResident] != 0;
  a->m_nFlags = Le16(p + attr::kFlags);
  a->m_nInstance = Le16(p + attr::kInstance);
  const size_t header = a->m_bNonResident ? attr::kNonResidentHeader : attr::kResidentHeader;
  if (a->m_nLength < header || (!lenient && a->m_nLength % 8 != 0) || a->m_nLength > available) {
    return ERROR_FILE_CORRUPT;
  }
  const size_t nameLength = p[attr::kNameLength];
  const size_t nameOffset = Le16(p + attr::kNameOffset);
  if (nameLength > 0) {
    if (nameOffset < header || nameOffset + 2 * nameLength > a->m_nLength) {
      return ERROR_FILE_CORRUPT;
    }
    a->m_nNameLength = static_cast<uint8_t>(nameLength);
    a->m_nNameOffset = static_cast<uint16_t>(nameOffset);
    if (copyName) a->m_name = ReadName(p + nameOffset, nameLength);
  }
  if (!a->m_bNonResident) {
    a->m_nValueLength = Le32(p + attr::kValueLength);
    a->m_nValueOffset = Le16(p + attr::kValueOffset);
    if (a->m_nValueOffset < attr::kResidentHeader || a->m_nValueOffset > a->m_nLength ||
        a->m_nValueLength > a->m_nLength - a->m_nValueOffset) {
      return ERROR_FILE_CORRUPT;
    }
    return ERROR_SUCCESS;
  }
  const auto firstVcn = static_cast<int64_t>(Le64(p + attr::kFirstVcn));
  a->m_nLastVcn = static_cast<int64_t>(Le64(p + attr::kLastVcn));
  a->m_nRunsOffset = Le16(p + attr::kRunsOffset);
  a->m_nCompressionUnit = p[attr::kCompressionUnit];
  a->m_nAllocatedSize = Le64(p + attr::kAllocatedSize);
  a->m_nDataSize = Le64(p + attr::kDataSize);
  a->m_nInitializedSize = Le64(p + attr::kInitializedSize);
  a->m_nFirstVcn = static_cast<uint64_t>(firstVcn);
  if (a->m_nRunsOffset < attr::kNonResidentHeader || a->m_nRunsOffset >= a->m_nLength) {
    return ERROR_FILE_CORRUPT;
  }
  if (lenient) return ERROR_SUCCESS;
  if (firstVcn < 0 || a->m_nLastVcn < firstVcn - 1 ||
      static_cast<uint64_t>(a->m_nLastVcn) >= kMaxSize) {
    return ERROR_FILE_CORRUPT;
  }
  // Units above 2^16 clusters are not compression units of any NTFS.
  if (a->m_nCompressionUnit > 16) return ERROR_FILE_CORRUPT;
  if (a->m_nFirstVcn == 0 &&
      (a->m_nAllocatedSize >= kMaxSize || a->m_nDataSize > a->m_nAllocatedSize ||
       a->m_nInitializedSize > a->m_nAllocatedSize)) {
    return ERROR_FILE_CORRUPT;
  }
  return ERROR_SUCCESS;
}

}  // namespace

DWORD ParseAttributes(const uint8_t* record, size_t size, const CRecordHeader& header,
                      std::vector<CAttribute>* attributes) {
  std::vector<CAttribute> found;
  CCheckedAttributeWalk walk(record, size, header);
  CAttribute a;
  while (walk.Next(&a)) {
    if (a.m_nNameLength > 0)
      a.m_name = ReadName(record + a.m_nOffset + a.m_nNameOffset, a.m_nNameLength);
    found.push_back(std::move(a));
  }
  if (walk.Result() != ERROR_SUCCESS) return walk.Result();
  *attributes = std::move(found);
  return ERROR_SUCCESS;
}

CCheckedAttributeWalk::CCheckedAttributeWalk(const uint8_t* record, size_t size,
                                             const CRecordHeader& header)
    : m_pRecord(record),
      m_nEnd(std::min<size_t>(header.m_nBytesInUse, size)),
      m_nNext(header.m_nFirstAttribute) {}

bool CCheckedAttributeWalk::Next(CAttribute* a) {
  if (m_bDone) return false;
  const size_t offset = m_nNext;
  m_bDone = true;
  if (offset > m_nEnd || m_nEnd - offset < 4) return false;  // no end marker
  if (Le32(m_pRecord + offset) == kAttrEnd) {
    m_nResult = ERROR_SUCCESS;
    return false;
  }
  if (m_nEnd - offset < attr::kResidentHeader) return false;
  *a = CAttribute();
  if (ParseOne(m_pRecord, offset, m_nEnd - offset, a, false, false) != ERROR_SUCCESS) return false;
  m_nNext = offset + a->m_nLength;
  m_bDone = false;
  return true;
}

CAttributeWalk::CAttributeWalk(const uint8_t* record, size_t size)
    : m_pRecord(record), m_nSize(size), m_nNext(~static_cast<size_t>(0)) {
  if (size >= record::kFirstAttribute + 2) m_nNext = Le16(record + record::kFirstAttribute);
}

bool CAttributeWalk::Next(CAttribute* a) {
  // Lengths are at least a resident header, so the walk ends within
  // size / 24 steps.
  const size_t offset = m_nNext;
  if (offset > m_nSize || m_nSize - offset < attr::kResidentHeader) return false;
  if (Le32(m_pRecord + offset) == kAttrEnd) return false;
  *a = CAttribute();
  if (ParseOne(m_pRecord, offset, m_nSize - offset, a, true, false) != ERROR_SUCCESS) {
    m_nNext = ~static_cast<size_t>(0);
    return false;
  }
  m_nNext = offset + a->m_nLength;
  return true;
}

std::vector<CAttribute> WalkAttributes(const uint8_t* record, size_t size) {
  std::vector<CAttribute> found;
  found.reserve(8);  // a file's record holds about five; one allocation, not four
  CAttributeWalk walk(record, size);
  CAttribute a;
  while (walk.Next(&a)) {
    if (a.m_nNameLength > 0)
      a.m_name = ReadName(record + a.m_nOffset + a.m_nNameOffset, a.m_nNameLength);
    found.push_back(std::move(a));
  }
  return found;
}

const CAttribute* FindUnnamed(const std::vector<CAttribute>& attributes, uint32_t type) {
  for (const CAttribute& a : attributes) {
    if (a.m_nType == type && a.m_name.empty()) return &a;
  }
  return nullptr;
}

DWORD ParseAttributeList(const uint8_t* data, size_t size, std::vector<CListEntry>* entries) {
  std::vector<CListEntry>& found = *entries;
  found.clear();
  size_t pos = 0;
  while (size - pos >= alist::kHeader) {
    const uint8_t* p = data + pos;
    const size_t length = Le16(p + alist::kLength);
    if (length < alist::kHeader || length > size - pos) return ERROR_FILE_CORRUPT;
    CListEntry e;
    e.m_nType = Le32(p + alist::kType);
    const size_t nameLength = p[alist::kNameLength];
    const size_t nameOffset = p[alist::kNameOffset];
    if (nameLength > 0) {
      if (nameOffset < alist::kHeader || nameOffset + 2 * nameLength > length) {
        return ERROR_FILE_CORRUPT;
      }
      e.m_name = ReadName(p + nameOffset, nameLength);
    }
    e.m_nFirstVcn = Le64(p + alist::kFirstVcn);
    e.m_nReference = Le64(p + alist::kReference);
    e.m_nInstance = Le16(p + alist::kInstance);
    found.push_back(std::move(e));
    pos += length;
  }
  return ERROR_SUCCESS;
}

}  // namespace ntfs
}  // namespace vt
