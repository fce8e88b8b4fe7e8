// SHA-256 for comparing file contents with the checksums the image tools
// recorded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vt {
namespace test {

class CSha256 {
 public:
  CSha256();
  void Add(const void* data, size_t size);
  // The digest as 64 lower-case hex digits; the object is spent afterwards.
  std::string HexDigest();

 private:
  void Block(const uint8_t* p);
  uint32_t m_h[8];
  uint8_t m_buffer[64];
  size_t m_nBuffered = 0;
  uint64_t m_nTotal = 0;
};

}  // namespace test
}  // namespace vt
