// The allocation check of an NTFS volume before its first move. A move
// takes its target from $Bitmap, so every cluster a file's runs hold must be
// marked there, and no cluster may be held twice; otherwise a move would
// write one file's bytes over another's.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "ondisk/ntfs_layout.h"
#include "ondisk/ntfs_runlist.h"
#include "platform/image/ntfs_file.h"
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
  return WalkAllocation(result, nullptr);
}

DWORD CNtfsVolume::WalkAllocation(CAllocationCheck* result,
                                  std::vector<std::pair<uint64_t, uint64_t>>* ownedRuns) {
  *result = CAllocationCheck();
  CommitGroup();
  // A volume marked dirty, or whose log holds changes not yet applied, is
  // not to be changed behind its checker's back.
  if (!IsWritable()) {
    result->m_strProblem = m_strUnclean;
    return ERROR_SUCCESS;
  }
  const uint64_t total = TotalClusters();
  const size_t bitmapBytes = static_cast<size_t>((total + 7) / 8);
  // Every run of every record in use, checked for overlaps once sorted:
  // no second bitmap of the whole volume is needed for ownership.
  struct COwnedRun {
    uint64_t lcn, count, record;
  };
  std::vector<COwnedRun> owned;
  std::vector<uint64_t> folders;
  CLoadedRecord record;
  std::vector<CRun> runs;
  for (uint64_t number = 0; number < m_mft.RecordCount(); ++number) {
    if (!m_mft.IsInUse(number)) continue;
    if (m_mft.LoadRecord(number, &record) != ERROR_SUCCESS) {
      result->m_strProblem = "MFT record " + Num(number) + " is damaged";
      return ERROR_SUCCESS;
    }
    if (!record.m_header.InUse()) continue;
    if (record.m_header.IsDirectory() && !record.m_header.IsExtension()) folders.push_back(number);
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
  }
  // $Bitmap is read a megabyte at a time (eight million clusters): every
  // owned cluster must be marked, and the marked ones are counted 64 at a
  // time (a volume of terabytes has hundreds of millions of clusters).
  const size_t kChunk = size_t(1) << 20;
  std::vector<uint8_t> marked(std::min(kChunk, bitmapBytes));
  uint64_t markedClusters = 0;
  size_t next = 0;  // the next owned run to test
  uint64_t pos = owned.empty() ? total : owned[0].lcn;
  for (size_t offset = 0; offset < bitmapBytes; offset += kChunk) {
    const size_t n = std::min(kChunk, bitmapBytes - offset);
    DWORD err = ReadStream(*m_pDevice, m_geometry, m_bitmap, offset, marked.data(), n);
    if (err != ERROR_SUCCESS) {
      result->m_strProblem = "$Bitmap cannot be read";
      return ERROR_SUCCESS;
    }
    const uint64_t first = uint64_t(offset) * 8;
    const uint64_t last = std::min<uint64_t>(total, first + uint64_t(n) * 8);
    const uint64_t words = (last - first) / 64;
    for (uint64_t w = 0; w < words; ++w) {
      uint64_t m = 0;
      std::memcpy(&m, &marked[static_cast<size_t>(w * 8)], 8);
      markedClusters += static_cast<uint64_t>(__builtin_popcountll(m));
    }
    for (uint64_t lcn = first + words * 64; lcn < last; ++lcn)
      markedClusters += TestBit(marked, lcn - first);
    while (next < owned.size() && pos < last) {
      const COwnedRun& run = owned[next];
      const uint64_t stop = std::min(run.lcn + run.count, last);
      while (pos < stop) {
        const uint64_t at = pos - first;
        // Whole bytes of eight marked clusters at a time.
        if (at % 8 == 0 && stop - pos >= 8 && marked[static_cast<size_t>(at / 8)] == 0xFF) {
          pos += 8;
          continue;
        }
        if (!TestBit(marked, at)) {
          result->m_strProblem = "MFT record " + Num(run.record) + ": cluster " + Num(pos) +
                                 " is in use but free in $Bitmap";
          return ERROR_SUCCESS;
        }
        ++pos;
      }
      if (pos == run.lcn + run.count && ++next < owned.size()) pos = owned[next].lcn;
    }
  }
  // A folder whose index cannot be walked hides the files below it: they
  // can be neither opened nor moved.
  const CIndexVisitor any = [](const CIndexEntry&) { return true; };
  for (uint64_t number : folders) {
    CFileRecords folder;
    DWORD err = folder.Load(m_mft, number);
    if (err == ERROR_SUCCESS) err = WalkFolder(folder, any);
    if (err != ERROR_SUCCESS) {
      result->m_strProblem =
          "a corrupt index block in " +
          (number == kRecordRoot ? std::string("the root folder") : "folder record " + Num(number));
      return ERROR_SUCCESS;
    }
  }
  // Every owned cluster is marked and owned once, so the lost ones are the
  // marked ones less the owned ones.
  result->m_nLostClusters = markedClusters - ownedClusters;
  if (ownedRuns) {
    for (const COwnedRun& run : owned) ownedRuns->emplace_back(run.lcn, run.count);
  }
  return ERROR_SUCCESS;
}

}  // namespace vt
