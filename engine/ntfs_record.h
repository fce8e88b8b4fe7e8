// Reading NTFS file records as the analysis needs them: fix-ups, attribute
// search and run-list lookups. Every offset and length is checked against
// the record before it is used.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vt {

constexpr uint32_t kNtfsAttrStandardInformation = 0x10;
constexpr uint32_t kNtfsAttrAttributeList = 0x20;
constexpr uint32_t kNtfsAttrFileName = 0x30;
constexpr uint32_t kNtfsAttrData = 0x80;
constexpr uint32_t kNtfsAttrIndexAllocation = 0xA0;
constexpr uint32_t kNtfsAttrBitmap = 0xB0;
constexpr uint32_t kNtfsAttrEnd = 0xFFFFFFFF;
constexpr uint32_t kNtfsRecordSignature = 0x454C4946;  // "FILE"

// Little-endian reads from a byte range; out-of-range reads give 0.
class CByteView {
 public:
  CByteView(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
  bool Has(size_t offset, size_t length) const {
    return offset <= m_size && length <= m_size - offset;
  }
  uint8_t U8(size_t o) const { return Has(o, 1) ? m_data[o] : 0; }
  uint16_t U16(size_t o) const;
  uint32_t U32(size_t o) const;
  uint64_t U64(size_t o) const;
  const uint8_t* Data() const { return m_data; }
  size_t Size() const { return m_size; }

 private:
  const uint8_t* m_data;
  size_t m_size;
};

// Puts back the sector-end words saved in the update sequence array. Only
// entries whose word lies inside the record are applied; false when the
// array itself lies outside the record.
bool ApplyFixups(uint8_t* record, size_t size);

// One attribute of a record, its header fields read and checked.
struct CNtfsAttribute {
  size_t offset = 0;  // of the attribute header in the record
  uint32_t type = 0;
  uint32_t length = 0;
  bool nonResident = false;
  uint8_t nameLength = 0;
  uint16_t nameOffset = 0;
  uint16_t flags = 0;
  // Resident.
  uint32_t valueLength = 0;
  uint16_t valueOffset = 0;
  // Non-resident.
  int64_t firstVcn = 0;
  int64_t lastVcn = 0;
  uint16_t runsOffset = 0;
  int64_t allocatedSize = 0;
  int64_t realSize = 0;

  bool Compressed() const { return (flags & 0x0001) != 0; }
};

// Walks the attributes from the first-attribute offset by their lengths,
// until the end marker, a zero length, or one that leaves the record.
std::vector<CNtfsAttribute> ListAttributes(const CByteView& record);

// The attribute of that type with no name (or with the given UTF-16 name,
// compared ignoring case); false when there is none.
bool FindAttribute(const CByteView& record, uint32_t type, const std::u16string* name,
                   CNtfsAttribute* found);

// The attribute's name in UTF-16 (empty when it lies outside the record).
std::u16string AttributeName(const CByteView& record, const CNtfsAttribute& attribute);

// One run of a run list: clusters at lcn, or sparse.
struct CNtfsRun {
  int64_t lcn = 0;
  uint64_t length = 0;
  bool sparse = false;
};

// Decodes mapping pairs from `offset` to the end marker (or the end of the
// view); false when a header asks for more bytes than remain.
bool DecodeRunList(const CByteView& bytes, size_t offset, std::vector<CNtfsRun>* runs);

// The run containing `vcn` for an attribute whose runs start at firstVcn.
// False when the VCN lies outside first..last VCN or beyond the runs.
bool LookupRun(const std::vector<CNtfsRun>& runs, int64_t firstVcn, int64_t lastVcn, int64_t vcn,
               uint64_t* lcn, uint64_t* remaining, bool* sparse);

// Record size from the boot sector's byte at 0x40.
uint32_t NtfsRecordSize(uint8_t clustersPerRecord, uint32_t sectorsPerCluster,
                        uint32_t bytesPerSector);

}  // namespace vt
