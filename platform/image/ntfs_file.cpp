#include "platform/image/ntfs_file.h"

#include <algorithm>

#include "ondisk/ntfs_layout.h"

namespace vt {
namespace ntfs {

DWORD CFileRecords::Load(const CMft& mft, uint64_t reference) {
  m_records.clear();
  CLoadedRecord base;
  DWORD err = mft.LoadRecord(RecordNumberOf(reference), &base);
  if (err != ERROR_SUCCESS) return err;
  return LoadFrom(mft, reference, std::move(base));
}

DWORD CFileRecords::Load(const CMft& mft, uint64_t reference, std::vector<uint8_t> baseBytes) {
  m_records.clear();
  CLoadedRecord base;
  DWORD err = ParseRecord(RecordNumberOf(reference), std::move(baseBytes), &base);
  if (err != ERROR_SUCCESS) return err;
  return LoadFrom(mft, reference, std::move(base));
}

DWORD CFileRecords::LoadFrom(const CMft& mft, uint64_t reference, CLoadedRecord base) {
  m_records.clear();
  m_bAttributeList = false;
  m_pGeometry = &mft.Geometry();
  const uint16_t sequence = SequenceOf(reference);
  DWORD err = ERROR_SUCCESS;
  if (!base.m_header.InUse() || (sequence != 0 && base.m_header.m_nSequence != sequence)) {
    return ERROR_FILE_NOT_FOUND;
  }
  if (base.m_header.IsExtension()) return ERROR_FILE_CORRUPT;
  m_records.push_back(std::move(base));
  const CLoadedRecord& b = m_records[0];
  const CAttribute* list = nullptr;
  for (const CAttribute& a : b.m_attributes) {
    if (a.m_nType == kAttrAttributeList) {
      if (list) return ERROR_FILE_CORRUPT;
      list = &a;
    }
  }
  if (!list) return ERROR_SUCCESS;
  m_bAttributeList = true;
  CStream stream;
  err = AssembleStream({{b.m_bytes.data(), list}}, mft.Geometry(), &stream);
  if (err != ERROR_SUCCESS) return err;
  if (stream.Size() > kMaxAttributeListBytes) return ERROR_FILE_CORRUPT;
  std::vector<uint8_t> value(static_cast<size_t>(stream.Size()));
  err = ReadStream(mft.Device(), mft.Geometry(), stream, 0, value.data(), value.size());
  if (err != ERROR_SUCCESS) return err;
  return LoadExtensions(mft, value);
}

DWORD CFileRecords::LoadExtensions(const CMft& mft, const std::vector<uint8_t>& list) {
  std::vector<CListEntry> entries;
  DWORD err = ParseAttributeList(list.data(), list.size(), &entries);
  if (err != ERROR_SUCCESS) return err;
  const uint64_t base = m_records[0].m_nNumber;
  std::vector<uint64_t> numbers;
  for (const CListEntry& e : entries) {
    const uint64_t n = RecordNumberOf(e.m_nReference);
    if (n != base && std::find(numbers.begin(), numbers.end(), n) == numbers.end()) {
      numbers.push_back(n);
    }
  }
  for (uint64_t n : numbers) {
    CLoadedRecord extension;
    err = mft.LoadRecord(n, &extension);
    if (err == ERROR_INVALID_PARAMETER) err = ERROR_FILE_CORRUPT;
    if (err != ERROR_SUCCESS) return err;
    // An extension record that belongs to another file is damage, and
    // following it could lead anywhere.
    if (!extension.m_header.InUse() ||
        RecordNumberOf(extension.m_header.m_nBaseReference) != base) {
      return ERROR_FILE_CORRUPT;
    }
    m_records.push_back(std::move(extension));
  }
  return ERROR_SUCCESS;
}

DWORD CFileRecords::FindStream(uint32_t type, const std::u16string& name, CStream* stream,
                               bool* found) const {
  std::vector<CSegment> segments;
  for (const CLoadedRecord& r : m_records) {
    for (const CAttribute& a : r.m_attributes) {
      if (a.m_nType == type && a.m_name == name) segments.push_back({r.m_bytes.data(), &a});
    }
  }
  *found = !segments.empty();
  if (!*found) return ERROR_SUCCESS;
  return AssembleStream(segments, *m_pGeometry, stream);
}

bool CFileRecords::Has(uint32_t type, const std::u16string& name) const {
  for (const CLoadedRecord& r : m_records) {
    for (const CAttribute& a : r.m_attributes) {
      if (a.m_nType == type && a.m_name == name) return true;
    }
  }
  return false;
}

std::vector<CFileName> CFileRecords::FileNames() const {
  std::vector<CFileName> names;
  for (const CLoadedRecord& r : m_records) {
    for (const CAttribute& a : r.m_attributes) {
      if (a.m_nType != kAttrFileName || a.m_bNonResident) continue;
      CFileName name;
      if (ParseFileName(ResidentValue(r.m_bytes.data(), a), a.m_nValueLength, &name) ==
          ERROR_SUCCESS) {
        names.push_back(std::move(name));
      }
    }
  }
  return names;
}

DWORD CFileRecords::StandardInformation(CStandardInformation* info) const {
  for (const CLoadedRecord& r : m_records) {
    for (const CAttribute& a : r.m_attributes) {
      if (a.m_nType == kAttrStandardInformation && !a.m_bNonResident) {
        return ParseStandardInformation(ResidentValue(r.m_bytes.data(), a), a.m_nValueLength, info);
      }
    }
  }
  return ERROR_FILE_CORRUPT;
}

}  // namespace ntfs
}  // namespace vt
