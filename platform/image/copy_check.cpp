#include "platform/image/copy_check.h"

#include <algorithm>
#include <cstring>

#include "base/aligned.h"

namespace vt {

namespace {

// Targets are read back this much at a time (a copy larger than this in
// pieces of it).
constexpr uint64_t kReadBackBytes = 8u << 20;
// How far the reads back are asked of the storage before they are made.
constexpr uint64_t kReadAheadBytes = 32u << 20;

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
  // The stretches read back: pieces whose targets follow on from one
  // another, up to the bound, as (first piece, end piece, bytes).
  struct CStretch {
    size_t m_nFirst, m_nEnd;
    uint64_t m_nBytes;
  };
  std::vector<CStretch> stretches;
  for (size_t i = 0; i < pieces.size();) {
    size_t j = i + 1;
    uint64_t bytes = pieces[i].m_nBytes;
    while (j < pieces.size() && pieces[j].m_nTo == pieces[i].m_nTo + bytes &&
           bytes + pieces[j].m_nBytes <= kReadBackBytes) {
      bytes += pieces[j].m_nBytes;
      ++j;
    }
    stretches.push_back(CStretch{i, j, bytes});
    i = j;
  }
  // Page-aligned and grown without zeroing: each is read into at once.
  CAlignedBytes target;
  CAlignedBytes source;
  // The stretches ahead are dropped from the cache (and so asked of the
  // storage) up to this much before they are read.
  uint64_t ahead = 0;
  size_t dropped = 0;
  for (const CStretch& stretch : stretches) {
    while (dropped < stretches.size() && ahead < kReadAheadBytes) {
      device.DropCached(pieces[stretches[dropped].m_nFirst].m_nTo,
                        static_cast<size_t>(stretches[dropped].m_nBytes));
      ahead += stretches[dropped].m_nBytes;
      ++dropped;
    }
    const size_t i = stretch.m_nFirst;
    const size_t j = stretch.m_nEnd;
    target.resize(static_cast<size_t>(stretch.m_nBytes));
    DWORD err = device.Read(pieces[i].m_nTo, target.data(), target.size());
    ahead -= stretch.m_nBytes;
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
  }
  return ERROR_SUCCESS;
}

}  // namespace vt
