// A retrieval-pointer reply read through the published RETRIEVAL_POINTERS_BUFFER
// layout. The reply is a byte buffer with no alignment promise, so each field
// is copied out rather than the buffer cast to the structure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#include "base/winshapes.h"

namespace vt {

class CRetrievalReply {
 public:
  explicit CRetrievalReply(const std::vector<uint8_t>& reply) : m_reply(reply) {}

  // The extents the reply holds, never more than fit in the buffer.
  uint32_t Count() const {
    if (m_reply.size() < kExtentsAt) return 0;
    DWORD count = 0;
    std::memcpy(&count, m_reply.data() + offsetof(RETRIEVAL_POINTERS_BUFFER, ExtentCount),
                sizeof(count));
    const size_t fit = (m_reply.size() - kExtentsAt) / sizeof(Extent);
    return count > fit ? static_cast<uint32_t>(fit) : count;
  }
  uint64_t StartingVcn() const {
    LARGE_INTEGER vcn = {};
    if (m_reply.size() >= kExtentsAt) {
      std::memcpy(&vcn, m_reply.data() + offsetof(RETRIEVAL_POINTERS_BUFFER, StartingVcn),
                  sizeof(vcn));
    }
    return static_cast<uint64_t>(vcn.QuadPart);
  }
  // Extent i (below Count()): where the next extent starts, and its first
  // cluster on the volume (all ones for a part with no clusters).
  uint64_t NextVcn(uint32_t i) const { return static_cast<uint64_t>(At(i).NextVcn.QuadPart); }
  uint64_t Lcn(uint32_t i) const { return static_cast<uint64_t>(At(i).Lcn.QuadPart); }

 private:
  using Extent = std::remove_reference_t<decltype(RETRIEVAL_POINTERS_BUFFER::Extents[0])>;
  static constexpr size_t kExtentsAt = offsetof(RETRIEVAL_POINTERS_BUFFER, Extents);
  Extent At(uint32_t i) const {
    Extent e;
    std::memcpy(&e, m_reply.data() + kExtentsAt + static_cast<size_t>(i) * sizeof(Extent),
                sizeof(Extent));
    return e;
  }

  const std::vector<uint8_t>& m_reply;
};

}  // namespace vt
