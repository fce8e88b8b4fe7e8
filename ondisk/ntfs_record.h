// Multi-sector structures (file records and index blocks) with their update
// sequence, and the header of a file record.
//
// Every 512-byte stride of such a structure ends in a copy of the check
// value; the real last two bytes of each stride are kept in the update
// sequence array. Reading undoes this (ApplyFixups); writing redoes it with
// a new check value (PrepareFixups), so a torn write shows as a mismatch.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/winshapes.h"
#include "ondisk/ntfs_layout.h"

namespace vt {
namespace ntfs {

// How strictly ApplyFixups treats the update sequence.
enum class FixupRule {
  // The array must fit the first stride and match the size, and every stride
  // must end in the check value: a torn write is refused.
  kChecked,
  // The analysis's rule for records it reads from raw sectors: each saved
  // word whose place lies inside the data is put back, without comparing the
  // check value; only an array outside the data is refused.
  kLenient,
};

// Undoes the update sequence in place. ERROR_FILE_CORRUPT when the rule
// refuses the array or (checked) a stride does not end in the check value;
// the data is then left unchanged.
DWORD ApplyFixups(uint8_t* data, size_t size, FixupRule rule = FixupRule::kChecked);

// Redoes the update sequence for writing: the check value is advanced, each
// stride's last two bytes are saved in the array and replaced by it.
// ERROR_FILE_CORRUPT for an array that does not fit, as above.
DWORD PrepareFixups(uint8_t* data, size_t size);

// A file record header ("FILE").
struct CRecordHeader {
  uint16_t m_nSequence = 0;
  uint16_t m_nLinkCount = 0;
  uint16_t m_nFirstAttribute = 0;
  uint16_t m_nFlags = 0;
  uint32_t m_nBytesInUse = 0;
  uint32_t m_nBytesAllocated = 0;
  uint64_t m_nBaseReference = 0;
  uint16_t m_nNextInstance = 0;

  static constexpr uint16_t kFlagInUse = 0x0001;
  static constexpr uint16_t kFlagDirectory = 0x0002;
  bool InUse() const { return (m_nFlags & kFlagInUse) != 0; }
  bool IsDirectory() const { return (m_nFlags & kFlagDirectory) != 0; }
  bool IsExtension() const { return m_nBaseReference != 0; }
};

constexpr uint32_t kRecordSignature = 0x454C4946;      // "FILE"
constexpr uint32_t kIndexBlockSignature = 0x58444E49;  // "INDX"

// Checks the header of a record whose fix-ups are applied: the signature,
// the allocated size equal to `size`, the bytes in use inside it, and the
// first attribute after the update sequence array and inside the bytes in
// use. ERROR_FILE_CORRUPT otherwise.
DWORD ParseRecordHeader(const uint8_t* record, size_t size, CRecordHeader* header);

}  // namespace ntfs
}  // namespace vt
