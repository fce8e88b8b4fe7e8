// The read-back of a group's copies: every target is read again past the
// cache and compared with its source before anything names it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/aligned.h"
#include "base/winshapes.h"
#include "platform/image/block_device.h"

namespace vt {

struct CCopiedRange {
  uint64_t m_nFrom;  // byte offsets on the device
  uint64_t m_nTo;
  uint64_t m_nBytes;
};

// Readers of the storage at once, the calling thread among them.
constexpr size_t kReadBackReaders = 4;

// The buffers a volume moves data through, kept from one move and one group
// to the next: a buffer made for each would be mapped, paged in and given
// back every time, which costs more than the copy itself.
struct CMoveBuffers {
  CAlignedBytes m_copy;                      // a copy's pieces on their way to the target
  CAlignedBytes m_target[kReadBackReaders];  // each reader's targets read back
  CAlignedBytes m_source[kReadBackReaders];  // and the sources they are compared with
  // The device has read its storage directly before: a group's stretches
  // are then all read at once, none first alone to find out.
  bool m_bReadsDirect = false;
};

// Targets that lie next to each other are read in large pieces, so that a
// group of many small moves costs few reads. ERROR_CRC when any target
// differs from its source.
DWORD CheckCopies(CBlockDevice& device, std::vector<CCopiedRange> copies, CMoveBuffers& buffers);
DWORD CheckCopies(CBlockDevice& device, std::vector<CCopiedRange> copies);

}  // namespace vt
