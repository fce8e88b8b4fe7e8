// Little-endian field access for on-disk structures. The Le* functions
// trust the caller to have checked that the field lies inside its buffer;
// CByteView checks every read itself.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vt {

inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Little-endian reads from a byte range; a read that leaves it gives 0.
class CByteView {
 public:
  CByteView(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
  bool Has(size_t offset, size_t length) const {
    return offset <= m_size && length <= m_size - offset;
  }
  uint8_t U8(size_t o) const { return Has(o, 1) ? m_data[o] : 0; }
  uint16_t U16(size_t o) const { return Has(o, 2) ? Le16(m_data + o) : 0; }
  uint32_t U32(size_t o) const { return Has(o, 4) ? Le32(m_data + o) : 0; }
  uint64_t U64(size_t o) const {
    return Has(o, 8) ? Le32(m_data + o) | (static_cast<uint64_t>(Le32(m_data + o + 4)) << 32) : 0;
  }
  const uint8_t* Data() const { return m_data; }
  size_t Size() const { return m_size; }

 private:
  const uint8_t* m_data;
  size_t m_size;
};

}  // namespace vt
