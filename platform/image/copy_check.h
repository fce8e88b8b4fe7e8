// The read-back of a group's copies: every target is read again past the
// cache and compared with its source before anything names it.
#pragma once

#include <cstdint>
#include <vector>

#include "base/winshapes.h"
#include "platform/image/block_device.h"

namespace vt {

struct CCopiedRange {
  uint64_t m_nFrom;  // byte offsets on the device
  uint64_t m_nTo;
  uint64_t m_nBytes;
};

// Targets that lie next to each other are read in large pieces, so that a
// group of many small moves costs few reads. ERROR_CRC when any target
// differs from its source.
DWORD CheckCopies(CBlockDevice& device, std::vector<CCopiedRange> copies);

}  // namespace vt
