// A volume in memory that takes discards: each range is recorded and reads
// as zeros afterwards, as a hole punched in an image file does.
#pragma once

#include <cstring>
#include <utility>
#include <vector>

#include "platform/image/block_device.h"

namespace vt {
namespace test {

class CDiscardDevice : public CMemoryBlockDevice {
 public:
  using Ranges = std::vector<std::pair<uint64_t, uint64_t>>;  // offset, size
  CDiscardDevice(std::vector<uint8_t> data, uint64_t size, uint64_t unit, Ranges* log)
      : CMemoryBlockDevice(std::move(data), size, false), m_nUnit(unit), m_pLog(log) {}
  uint64_t DiscardUnit() const override { return m_nUnit; }
  VOLUME_MEDIA_INFO QueryMedia() const override { return VOLUME_MEDIA_INFO{SEEK_PENALTY_NO, 1}; }
  DWORD Discard(uint64_t offset, uint64_t size) override {
    if (m_dwRefuse != ERROR_SUCCESS) return m_dwRefuse;
    if (m_pLog) m_pLog->push_back({offset, size});
    std::vector<uint8_t> zeros(static_cast<size_t>(size), 0);
    return Write(offset, zeros.data(), zeros.size());
  }

 DWORD m_dwRefuse = ERROR_SUCCESS;  // what every discard answers, when set

 private:
  uint64_t m_nUnit;
  Ranges* m_pLog;
};

}  // namespace test
}  // namespace vt
