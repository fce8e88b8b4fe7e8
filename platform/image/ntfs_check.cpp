// The allocation check of an NTFS volume before its first move. A move
// takes its target from $Bitmap, so every cluster a file's runs hold must be
// marked there, and no cluster may be held twice; otherwise a move would
// write one file's bytes over another's.
#include <cstring>
#include <string>
#include <vector>

#include "platform/image/ntfs_runlist.h"
#include "platform/image/ntfs_volume.h"

namespace vt {

using namespace ntfs;

namespace {

std::string Num(uint64_t n) { return std::to_string(n); }

bool TestBit(const std::vector<uint8_t>& bits, uint64_t i) {
  return (bits[static_cast<size_t>(i / 8)] >> (i % 8)) & 1;
}

}  // namespace

DWORD CNtfsVolume::CheckAllocation(CAllocationCheck* result) {
  *result = CAllocationCheck();
  const uint64_t total = TotalClusters();
  const size_t bitmapBytes = static_cast<size_t>((total + 7) / 8);
  std::vector<uint8_t> marked(bitmapBytes);
  DWORD err = ReadStream(*m_pDevice, m_geometry, m_bitmap, 0, marked.data(), marked.size());
  if (err != ERROR_SUCCESS) {
    result->m_strProblem = "$Bitmap cannot be read";
    return ERROR_SUCCESS;
  }
  std::vector<uint8_t> owned(bitmapBytes);
  CLoadedRecord record;
  std::vector<CRun> runs;
  for (uint64_t number = 0; number < m_mft.RecordCount(); ++number) {
    if (!m_mft.IsInUse(number)) continue;
    if (m_mft.LoadRecord(number, &record) != ERROR_SUCCESS) {
      result->m_strProblem = "MFT record " + Num(number) + " is damaged";
      return ERROR_SUCCESS;
    }
    if (!record.m_header.InUse()) continue;
    // Extension records are checked as they stand: their clusters belong to
    // their base file, and a cluster held twice is damage either way.
    const std::string who = "MFT record " + Num(number);
    for (const CAttribute& a : record.m_attributes) {
      if (!a.m_bNonResident) continue;
      runs.clear();
      size_t size = 0;
      const uint8_t* bytes = RunListBytes(record.m_bytes.data(), a, &size);
      if (DecodeRunList(bytes, size, a.m_nFirstVcn, &runs) != ERROR_SUCCESS) {
        result->m_strProblem = who + ": a run list is damaged";
        return ERROR_SUCCESS;
      }
      for (const CRun& run : runs) {
        if (run.IsSparse()) continue;
        if (run.m_nLcn >= total || run.m_nCount > total - run.m_nLcn) {
          result->m_strProblem = who + ": a run reaches past the volume's end (clusters " +
                                 Num(run.m_nLcn) + " to " + Num(run.m_nLcn + run.m_nCount - 1) +
                                 " of " + Num(total) + ")";
          return ERROR_SUCCESS;
        }
        for (uint64_t lcn = run.m_nLcn; lcn < run.m_nLcn + run.m_nCount; ++lcn) {
          if (TestBit(owned, lcn)) {
            result->m_strProblem =
                who + ": cluster " + Num(lcn) + " belongs to another file as well";
            return ERROR_SUCCESS;
          }
          if (!TestBit(marked, lcn)) {
            result->m_strProblem =
                who + ": cluster " + Num(lcn) + " is in use but free in $Bitmap";
            return ERROR_SUCCESS;
          }
          owned[static_cast<size_t>(lcn / 8)] |= static_cast<uint8_t>(1u << (lcn % 8));
        }
      }
    }
  }
  // Lost clusters: marked but owned by nobody, counted 64 at a time (a
  // volume of terabytes has hundreds of millions of clusters).
  const uint64_t words = total / 64;
  for (uint64_t w = 0; w < words; ++w) {
    uint64_t m = 0, o = 0;
    std::memcpy(&m, &marked[static_cast<size_t>(w * 8)], 8);
    std::memcpy(&o, &owned[static_cast<size_t>(w * 8)], 8);
    if (m & ~o) result->m_nLostClusters += static_cast<uint64_t>(__builtin_popcountll(m & ~o));
  }
  for (uint64_t lcn = words * 64; lcn < total; ++lcn) {
    if (TestBit(marked, lcn) && !TestBit(owned, lcn)) ++result->m_nLostClusters;
  }
  return ERROR_SUCCESS;
}

}  // namespace vt
