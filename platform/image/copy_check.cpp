#include "platform/image/copy_check.h"

#include <algorithm>
#include <cstring>

namespace vt {

namespace {

// Targets are read back this much at a time (a copy larger than this in
// pieces of it).
constexpr uint64_t kReadBackBytes = 8u << 20;

}  // namespace

DWORD CheckCopies(CBlockDevice& device, std::vector<CCopiedRange> copies) {
  std::vector<CCopiedRange> pieces;
  pieces.reserve(copies.size());
  for (const CCopiedRange& copy : copies) {
    for (uint64_t done = 0; done < copy.m_nBytes; done += kReadBackBytes) {
      pieces.push_back(CCopiedRange{copy.m_nFrom + done, copy.m_nTo + done,
                                    std::min(kReadBackBytes, copy.m_nBytes - done)});
    }
  }
  std::sort(pieces.begin(), pieces.end(),
            [](const CCopiedRange& a, const CCopiedRange& b) { return a.m_nTo < b.m_nTo; });
  std::vector<uint8_t> target;
  std::vector<uint8_t> source;
  for (size_t i = 0; i < pieces.size();) {
    // The pieces whose targets follow on from one another, up to the bound.
    size_t j = i + 1;
    uint64_t bytes = pieces[i].m_nBytes;
    while (j < pieces.size() && pieces[j].m_nTo == pieces[i].m_nTo + bytes &&
           bytes + pieces[j].m_nBytes <= kReadBackBytes) {
      bytes += pieces[j].m_nBytes;
      ++j;
    }
    target.resize(static_cast<size_t>(bytes));
    device.DropCached(pieces[i].m_nTo, target.size());
    DWORD err = device.Read(pieces[i].m_nTo, target.data(), target.size());
    if (err != ERROR_SUCCESS) return err;
    for (size_t k = i; k < j; ++k) {
      source.resize(static_cast<size_t>(pieces[k].m_nBytes));
      err = device.Read(pieces[k].m_nFrom, source.data(), source.size());
      if (err != ERROR_SUCCESS) return err;
      if (std::memcmp(source.data(), target.data() + (pieces[k].m_nTo - pieces[i].m_nTo),
                      source.size()) != 0) {
        return ERROR_CRC;
      }
    }
    i = j;
  }
  return ERROR_SUCCESS;
}

}  // namespace vt
