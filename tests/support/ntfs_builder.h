// Builds NTFS file records in memory for the reader's tests.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vt {
namespace test {

struct NtfsRunSpec {
  int64_t lcn;  // -1: sparse
  uint64_t length;
};

class CNtfsRecordBuilder {
 public:
  explicit CNtfsRecordBuilder(uint32_t size = 1024);

  CNtfsRecordBuilder& StandardInformation(uint32_t fileAttributes);
  CNtfsRecordBuilder& FileName(const std::u16string& name, uint32_t parent, uint8_t nameSpace,
                               bool directory, uint64_t time = 0x01D0000012345678ull);
  CNtfsRecordBuilder& AttributeList();
  // A resident attribute list naming, for each attribute type, the record
  // that holds it.
  CNtfsRecordBuilder& AttributeList(const std::vector<std::pair<uint32_t, uint64_t>>& entries);
  CNtfsRecordBuilder& ResidentData(uint32_t length, uint32_t type = 0x80);
  CNtfsRecordBuilder& NonResident(uint32_t type, const std::vector<NtfsRunSpec>& runs,
                                  uint64_t realSize, bool compressed = false,
                                  int64_t firstVcn = 0, int64_t lastVcn = -1,
                                  const std::u16string& name = u"");
  CNtfsRecordBuilder& BaseReference(uint64_t base);

  // The finished record: end marker, bytes in use, and the update sequence
  // saved (the sector ends carry the check value, as on disk).
  std::vector<uint8_t> Build(bool protect = false) const;

 private:
  void Add(const std::vector<uint8_t>& attribute);
  uint32_t m_size;
  std::vector<uint8_t> m_attributes;
  uint64_t m_base = 0;
};

// Mapping pairs for the given runs.
std::vector<uint8_t> EncodeRuns(const std::vector<NtfsRunSpec>& runs);

}  // namespace test
}  // namespace vt
