// The allocation check of an NTFS volume before its first move. A move
// takes its target from $Bitmap, so every cluster a file's runs hold must be
// marked there, and no cluster may be held twice; otherwise a move would
// write one file's bytes over another's.
#include <algorithm>
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
  // Every run of every record in use, checked for overlaps once sorted:
  // no second bitmap of the whole volume is needed for ownership.
  struct COwnedRun {
    uint64_t lcn, count, record;
  };
  std::vector<COwnedRun> owned;
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
    for (const CAttribute& a : record.m_attributes) {
      if (!a.m_bNonResident) continue;
      runs.clear();
      size_t size = 0;
      const uint8_t* bytes = RunListBytes(record.m_bytes.data(), a, &size);
      if (DecodeRunList(bytes, size, a.m_nFirstVcn, &runs) != ERROR_SUCCESS) {
        result->m_strProblem = "MFT record " + Num(number) + ": a run list is damaged";
        return ERROR_SUCCESS;
      }
      for (const CRun& run : runs) {
        if (run.IsSparse() || run.m_nCount == 0) continue;
        if (run.m_nLcn >= total || run.m_nCount > total - run.m_nLcn) {
          result->m_strProblem = "MFT record " + Num(number) +
                                 ": a run reaches past the volume's end (clusters " +
                                 Num(run.m_nLcn) + " to " + Num(run.m_nLcn + run.m_nCount - 1) +
                                 " of " + Num(total) + ")";
          return ERROR_SUCCESS;
        }
        owned.push_back({run.m_nLcn, run.m_nCount, number});
      }
    }
  }
  std::sort(owned.begin(), owned.end(),
            [](const COwnedRun& a, const COwnedRun& b) { return a.lcn < b.lcn; });
  uint64_t ownedClusters = 0;
  uint64_t end = 0;  // one past the highest cluster owned so far
  for (const COwnedRun& run : owned) {
    if (run.lcn < end) {
      result->m_strProblem = "MFT record " + Num(run.record) + ": cluster " + Num(run.lcn) +
                             " belongs to another file as well";
      return ERROR_SUCCESS;
    }
    end = run.lcn + run.count;
    ownedClusters += run.count;
    uint64_t lcn = run.lcn;
    while (lcn < end) {
      // Whole bytes of eight marked clusters at a time.
      if (lcn % 8 == 0 && end - lcn >= 8 && marked[static_cast<size_t>(lcn / 8)] == 0xFF) {
        lcn += 8;
        continue;
      }
      if (!TestBit(marked, lcn)) {
        result->m_strProblem = "MFT record " + Num(run.record) + ": cluster " + Num(lcn) +
                               " is in use but free in $Bitmap";
        return ERROR_SUCCESS;
      }
      ++lcn;
    }
  }
  // Lost clusters: marked but owned by nobody. Every owned cluster is marked
  // and owned once, so they are the marked ones less the owned ones, counted
  // 64 at a time (a volume of terabytes has hundreds of millions).
  uint64_t markedClusters = 0;
  const uint64_t words = total / 64;
  for (uint64_t w = 0; w < words; ++w) {
    uint64_t m = 0;
    std::memcpy(&m, &marked[static_cast<size_t>(w * 8)], 8);
    markedClusters += static_cast<uint64_t>(__builtin_popcountll(m));
  }
  for (uint64_t lcn = words * 64; lcn < total; ++lcn) markedClusters += TestBit(marked, lcn);
  result->m_nLostClusters = markedClusters - ownedClusters;
  return ERROR_SUCCESS;
}

}  // namespace vt
