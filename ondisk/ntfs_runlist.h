// Run lists (mapping pairs) of non-resident attributes: decoding and
// encoding.
//
// Each run is a header byte (low nibble: bytes of the length, high nibble:
// bytes of the LCN offset), the length as a little-endian number, then the
// offset as a signed number added to the previous run's LCN; an offset of
// no bytes marks a sparse run. A zero header byte ends the list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/winshapes.h"

namespace vt {

// The LCN of a run with no clusters on disk (a sparse or unallocated part),
// as the retrieval pointer reply shows it.
constexpr uint64_t kFsSparseLcn = ~static_cast<uint64_t>(0);

namespace ntfs {

struct CRun {
  uint64_t m_nVcn = 0;
  uint64_t m_nLcn = kFsSparseLcn;  // kFsSparseLcn: no clusters on disk
  uint64_t m_nCount = 0;

  bool IsSparse() const { return m_nLcn == kFsSparseLcn; }
  uint64_t EndVcn() const { return m_nVcn + m_nCount; }
  bool operator==(const CRun& o) const {
    return m_nVcn == o.m_nVcn && m_nLcn == o.m_nLcn && m_nCount == o.m_nCount;
  }
};

// Decodes the mapping pairs in `data` (at most `size` bytes), the first run
// starting at `firstVcn`; the runs are appended to `runs`. ERROR_FILE_CORRUPT
// when a field runs past the end, a length is zero or negative, an LCN falls
// below 0, the VCNs overflow, or the terminator is missing; `runs` is then
// left as it was. `used` (optional) receives the bytes read, terminator
// included.
DWORD DecodeRunList(const uint8_t* data, size_t size, uint64_t firstVcn, std::vector<CRun>* runs,
                    size_t* used = nullptr);

// Encodes runs that follow each other without gaps as mapping pairs, each
// field in the fewest bytes, terminator included. ERROR_INVALID_PARAMETER
// for runs with gaps, zero lengths or LCNs that do not fit.
DWORD EncodeRunList(const std::vector<CRun>& runs, std::vector<uint8_t>* out);

// The run holding `vcn`; null when the runs do not reach it.
const CRun* FindRun(const std::vector<CRun>& runs, uint64_t vcn);

// Merges neighbouring runs that continue each other on disk (or are both
// sparse), as the retrieval pointer reply shows them.
void MergeRuns(std::vector<CRun>* runs);

}  // namespace ntfs
}  // namespace vt
