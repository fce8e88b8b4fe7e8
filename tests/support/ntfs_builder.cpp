#include "tests/support/ntfs_builder.h"

#include <cstring>

namespace vt {
namespace test {

namespace {
void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put64(std::vector<uint8_t>& b, size_t at, uint64_t v) {
  for (int i = 0; i < 8; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
std::vector<uint8_t> Resident(uint32_t type, const std::vector<uint8_t>& value) {
  size_t length = (0x18 + value.size() + 7) & ~size_t(7);
  std::vector<uint8_t> a(length, 0);
  Put32(a, 0, type);
  Put32(a, 4, static_cast<uint32_t>(length));
  Put32(a, 0x10, static_cast<uint32_t>(value.size()));
  Put16(a, 0x14, 0x18);
  std::memcpy(a.data() + 0x18, value.data(), value.size());
  return a;
}
}  // namespace

std::vector<uint8_t> EncodeRuns(const std::vector<NtfsRunSpec>& runs) {
  std::vector<uint8_t> out;
  int64_t previous = 0;
  for (const auto& r : runs) {
    std::vector<uint8_t> len;
    uint64_t l = r.length;
    do {
      len.push_back(static_cast<uint8_t>(l));
      l >>= 8;
    } while (l);
    std::vector<uint8_t> off;
    if (r.lcn >= 0) {
      int64_t delta = r.lcn - previous;
      previous = r.lcn;
      for (;;) {
        off.push_back(static_cast<uint8_t>(delta));
        int64_t rest = delta >> 8;
        bool signBit = (off.back() & 0x80) != 0;
        if ((rest == 0 && !signBit) || (rest == -1 && signBit)) break;
        delta = rest;
      }
    }
    out.push_back(static_cast<uint8_t>(len.size() | (off.size() << 4)));
    out.insert(out.end(), len.begin(), len.end());
    out.insert(out.end(), off.begin(), off.end());
  }
  out.push_back(0);
  return out;
}

CNtfsRecordBuilder::CNtfsRecordBuilder(uint32_t size) : m_size(size) {}

void CNtfsRecordBuilder::Add(const std::vector<uint8_t>& attribute) {
  m_attributes.insert(m_attributes.end(), attribute.begin(), attribute.end());
}

CNtfsRecordBuilder& CNtfsRecordBuilder::StandardInformation(uint32_t fileAttributes) {
  std::vector<uint8_t> v(0x48, 0);
  Put32(v, 0x20, fileAttributes);
  Add(Resident(0x10, v));
  return *this;
}

CNtfsRecordBuilder& CNtfsRecordBuilder::FileName(const std::u16string& name, uint32_t parent,
                                                 uint8_t nameSpace, bool directory,
                                                 uint64_t time) {
  std::vector<uint8_t> v(0x42 + name.size() * 2, 0);
  Put64(v, 0, parent | (1ull << 48));
  Put64(v, 0x18, time);
  Put32(v, 0x38, directory ? 0x10000000 : 0);
  v[0x40] = static_cast<uint8_t>(name.size());
  v[0x41] = nameSpace;
  for (size_t i = 0; i < name.size(); ++i) Put16(v, 0x42 + 2 * i, name[i]);
  Add(Resident(0x30, v));
  return *this;
}

CNtfsRecordBuilder& CNtfsRecordBuilder::AttributeList() {
  Add(Resident(0x20, std::vector<uint8_t>(0x20, 0)));
  return *this;
}

CNtfsRecordBuilder& CNtfsRecordBuilder::AttributeList(
    const std::vector<std::pair<uint32_t, uint64_t>>& entries) {
  std::vector<uint8_t> v;
  for (const auto& e : entries) {
    std::vector<uint8_t> entry(0x20, 0);
    Put32(entry, 0, e.first);
    Put16(entry, 4, 0x20);
    entry[7] = 0x1A;
    Put64(entry, 0x10, e.second | (1ull << 48));
    v.insert(v.end(), entry.begin(), entry.end());
  }
  Add(Resident(0x20, v));
  return *this;
}

CNtfsRecordBuilder& CNtfsRecordBuilder::ResidentData(uint32_t length, uint32_t type) {
  Add(Resident(type, std::vector<uint8_t>(length, 0x41)));
  return *this;
}

CNtfsRecordBuilder& CNtfsRecordBuilder::NonResident(uint32_t type,
                                                    const std::vector<NtfsRunSpec>& runs,
                                                    uint64_t realSize, bool compressed,
                                                    int64_t firstVcn, int64_t lastVcn,
                                                    const std::u16string& name) {
  std::vector<uint8_t> mapping = EncodeRuns(runs);
  uint64_t clusters = 0;
  for (const auto& r : runs) clusters += r.length;
  if (lastVcn < 0) lastVcn = firstVcn + static_cast<int64_t>(clusters) - 1;
  const size_t nameAt = 0x40;
  const size_t runsAt = (nameAt + name.size() * 2 + 7) & ~size_t(7);
  size_t length = (runsAt + mapping.size() + 7) & ~size_t(7);
  std::vector<uint8_t> a(length, 0);
  Put32(a, 0, type);
  Put32(a, 4, static_cast<uint32_t>(length));
  a[8] = 1;
  a[9] = static_cast<uint8_t>(name.size());
  Put16(a, 0x0A, static_cast<uint16_t>(nameAt));
  Put16(a, 0x0C, compressed ? 1 : 0);
  Put64(a, 0x10, static_cast<uint64_t>(firstVcn));
  Put64(a, 0x18, static_cast<uint64_t>(lastVcn));
  Put16(a, 0x20, static_cast<uint16_t>(runsAt));
  Put64(a, 0x28, clusters * 4096);
  Put64(a, 0x30, realSize);
  Put64(a, 0x38, realSize);
  for (size_t i = 0; i < name.size(); ++i) Put16(a, nameAt + 2 * i, name[i]);
  std::memcpy(a.data() + runsAt, mapping.data(), mapping.size());
  Add(a);
  return *this;
}

CNtfsRecordBuilder& CNtfsRecordBuilder::BaseReference(uint64_t base) {
  m_base = base;
  return *this;
}

std::vector<uint8_t> CNtfsRecordBuilder::Build(bool protect) const {
  std::vector<uint8_t> r(m_size, 0);
  std::memcpy(r.data(), "FILE", 4);
  const uint16_t usaCount = static_cast<uint16_t>(m_size / 512 + 1);
  Put16(r, 4, 0x30);
  Put16(r, 6, usaCount);
  Put64(r, 0x20, m_base);
  const size_t first = (0x30 + usaCount * 2 + 7) & ~size_t(7);
  Put16(r, 0x14, static_cast<uint16_t>(first));
  Put16(r, 0x16, 1);
  std::memcpy(r.data() + first, m_attributes.data(), m_attributes.size());
  size_t end = first + m_attributes.size();
  Put32(r, end, 0xFFFFFFFF);
  Put32(r, 0x18, static_cast<uint32_t>(end + 8));
  Put32(r, 0x1C, m_size);
  if (protect) {
    // Save each sector's last word in the array and put the check value there.
    const uint16_t check = 0x0007;
    Put16(r, 0x30, check);
    for (uint16_t k = 1; k < usaCount; ++k) {
      const size_t at = 512u * k - 2;
      r[0x30 + 2 * k] = r[at];
      r[0x30 + 2 * k + 1] = r[at + 1];
      Put16(r, at, check);
    }
  }
  return r;
}

}  // namespace test
}  // namespace vt
