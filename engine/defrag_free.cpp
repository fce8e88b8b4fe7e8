// Free-space consolidation: data above each gap moves down into it, from
// the lowest gap up, until a whole pass moves nothing and no move fails.
#include "engine/defrag.h"
#include "engine/globals.h"

namespace vt {

namespace {
constexpr uint64_t kWholeFile = ~0ull;

uint32_t ClusterSum(const CFileItem& file) {
  uint32_t sum = 0;
  for (const auto& f : file.m_fragments) sum += f.m_nClusters;
  return sum;
}
}  // namespace

uint64_t CDefrag::DefragFreeSpace(int32_t mode) {
  m_errors.RemoveAll();
  uint64_t range = m_nTotalClusters;
  SendProgress(PROGRESS_RANGE, reinterpret_cast<LPARAM>(&range));
  m_nProgressLcn = 0;
  m_nMovedClusters = 0;
  m_dwStartTick = 0;
  bool movedAnything = true;
  bool failedAnything = false;
  CSortedArray candidates;
  // A pass in which every move failed still changes the next one: the files
  // that failed are nearer to unmovable, or are so now (one that cannot be
  // opened), and with them out of the way data below them may move. Each
  // file fails at most five times, so the passes end.
  auto failures = [this] {
    uint64_t n = 0;
    for (const auto& file : m_files) n += file.m_nMoveFailures + (file.IsUnmovable() ? 1u : 0u);
    return n;
  };
  while (!IsCancelled() && (movedAnything || failedAnything)) {
    const uint64_t failuresBefore = failures();
    BuildFreeRunList();
    SendProgress(PROGRESS_RESET, 0);
    std::string optimizing = "Optimizing file map";
    SendProgress(PROGRESS_TEXT, reinterpret_cast<LPARAM>(optimizing.c_str()));
    BuildCandidateList(candidates);
    if (m_dwStartTick == 0) m_dwStartTick = System().GetTickCount();
    std::string defragging = "Defragging free space";
    SendProgress(PROGRESS_TEXT, reinterpret_cast<LPARAM>(defragging.c_str()));
    FreeSpacePass(mode, movedAnything, candidates);
    failedAnything = failures() != failuresBefore;
  }
  m_bSilent = false;
  candidates.RemoveAll();
  return m_nMovedClusters;
}

void CDefrag::BuildCandidateList(CSortedArray& list) {
  uint64_t first = ~0ull;
  for (const auto& run : m_freeRuns) {
    if (run.m_nState == RUN_FREE) {
      first = run.m_nLcn;
      break;
    }
  }
  list.RemoveAll();
  for (size_t i = 0; i < m_files.GetSize(); ++i) {
    const CFileItem& file = m_files[i];
    if (file.IsUnmovable()) continue;
    if (file.m_wFlags & FI_VIRTUAL) {
      list.Add({file.m_nFirstLcn, ClusterSum(file), static_cast<int32_t>(i)});
      continue;
    }
    for (const auto& f : file.m_fragments)
      if (f.m_nLcn >= first) list.Add({f.m_nLcn, f.m_nClusters, static_cast<int32_t>(i)});
  }
  list.SetCompareFunction(&CSortedArray::CompareLcnDescending);
  list.Sort(0, -1);
}

long CDefrag::FindCandidate(CSortedArray& list, int32_t mode, uint64_t start, uint32_t length,
                            CCandidateChoice* choice) {
  const bool ntfs = m_pDrive ? m_pDrive->m_bNtfs : m_bNtfs;
  const uint32_t bytesPerCluster = m_pDrive && m_pDrive->m_dwBytesPerCluster
                                       ? m_pDrive->m_dwBytesPerCluster
                                       : m_dwBytesPerCluster;
  for (size_t k = 0; k < list.GetSize(); ++k) {
    if (IsCancelled()) return -1;
    const CSortedLcn& entry = list[k];
    if (entry.m_nLcn <= start) continue;
    if (entry.m_nItem < 0 || static_cast<size_t>(entry.m_nItem) >= m_files.GetSize()) continue;
    const CFileItem& file = m_files[static_cast<size_t>(entry.m_nItem)];
    if ((file.IsDirectory() && !ntfs) || file.IsUnmovable()) continue;

    bool allAbove = true;
    for (const auto& f : file.m_fragments)
      if (f.m_nLcn < start) allAbove = false;
    if (ClusterSum(file) <= length && allAbove) {
      choice->m_nLcn = kWholeFile;
      choice->m_nClusters = 0;
      return static_cast<long>(k);
    }

    if (mode == kFreeModeDontFragment && file.m_fragments.GetSize() < 2) continue;
    if (file.m_wFlags & FI_VIRTUAL) continue;
    const CFileClusterItem* extent = nullptr;
    for (const auto& f : file.m_fragments) {
      if (f.m_nLcn > start) {
        extent = &f;
        break;
      }
    }
    if (!extent) continue;
    choice->m_nLcn = extent->m_nLcn;
    choice->m_nClusters = extent->m_nClusters;
    if (m_bXPOrLater || bytesPerCluster == 4096) {
      if (choice->m_nClusters > length) choice->m_nClusters = length;
      return static_cast<long>(k);
    }
    if (extent->m_nClusters <= length) return static_cast<long>(k);
  }
  return -1;
}

void CDefrag::FreeSpacePass(int32_t mode, bool& movedAnything, CSortedArray& list) {
  movedAnything = false;
  m_bSilent = true;
  long resume = -1;
  for (size_t i = 0; i < m_freeRuns.GetSize() && !IsCancelled(); ++i) {
    const CClusterItem run = m_freeRuns[i];
    if (run.m_nLcn == 0 || run.m_nState != RUN_FREE || run.m_nClusters == 0xFFFFFFFFu) continue;
    CCandidateChoice choice;
    const long k = FindCandidate(list, mode, run.m_nLcn, run.m_nClusters, &choice);
    if (k == -1) {
      resume += 1;
      continue;
    }
    if (run.m_nLcn > m_nProgressLcn) {
      m_nProgressLcn = run.m_nLcn;
      SendProgress(PROGRESS_POSITION, reinterpret_cast<LPARAM>(&m_nProgressLcn));
    }
    CFileItem& file = m_files[static_cast<size_t>(list[static_cast<size_t>(k)].m_nItem)];
    MoveRequest request;
    request.file = &file;
    request.targetRun = i;
    if (choice.m_nLcn == kWholeFile) {
      request.mode = 1;
    } else {
      request.mode = 2;
      request.hasFilter = true;
      request.filterLcn = choice.m_nLcn;
      request.filterCount = choice.m_nClusters;
    }
    request.silent = true;
    std::string status = "Moving: " + GetItemPath(file);
    SendProgress(PROGRESS_TEXT, reinterpret_cast<LPARAM>(status.c_str()));
    const bool ok = MoveFileClusters(request);
    list[static_cast<size_t>(k)].m_nLcn = 0;
    if (ok) {
      movedAnything = true;
      // Go back and fill the same gap again; the loop's increment lands on R + 1.
      i = static_cast<size_t>(resume);
    }
  }
}

}  // namespace vt
