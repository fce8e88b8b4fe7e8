// The records of one file: its base record and, through its attribute list,
// the extension records that hold the rest of its attributes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/image/ntfs_filename.h"
#include "platform/image/ntfs_mft.h"
#include "platform/image/ntfs_stream.h"

namespace vt {
namespace ntfs {

class CFileRecords {
 public:
  // Loads a file by reference: the record must be an in-use base record and,
  // when the reference carries a sequence number, have that sequence.
  // Extension records named by the attribute list must belong to it; each
  // is read once. ERROR_FILE_NOT_FOUND for a record not in use or reused
  // (stale reference), ERROR_INVALID_PARAMETER past the MFT's end,
  // ERROR_FILE_CORRUPT for damage.
  DWORD Load(const CMft& mft, uint64_t reference);
  // The same with the base record's bytes (fix-ups applied) already read.
  DWORD Load(const CMft& mft, uint64_t reference, std::vector<uint8_t> baseBytes);

  uint64_t Number() const { return m_records.empty() ? 0 : m_records[0].m_nNumber; }
  const CRecordHeader& Header() const { return m_records[0].m_header; }
  bool HasAttributeList() const { return m_bAttributeList; }
  // The base record first, then the extension records.
  const std::vector<CLoadedRecord>& Records() const { return m_records; }

  // Finds an attribute by type and name and puts its segments together.
  // ERROR_SUCCESS with *found false when the file has no such attribute.
  DWORD FindStream(uint32_t type, const std::u16string& name, CStream* stream, bool* found) const;
  // Every $FILE_NAME value that decodes.
  std::vector<CFileName> FileNames() const;
  // The standard information; ERROR_FILE_CORRUPT when missing or short.
  DWORD StandardInformation(CStandardInformation* info) const;
  bool Has(uint32_t type, const std::u16string& name) const;

 private:
  DWORD LoadFrom(const CMft& mft, uint64_t reference, CLoadedRecord base);
  DWORD LoadExtensions(const CMft& mft, const std::vector<uint8_t>& list);

  std::vector<CLoadedRecord> m_records;  // base record first
  bool m_bAttributeList = false;
  const CNtfsGeometry* m_pGeometry = nullptr;
};

// An attribute list longer than this is damaged (NTFS keeps them smaller).
constexpr uint64_t kMaxAttributeListBytes = 256 * 1024;

}  // namespace ntfs
}  // namespace vt
