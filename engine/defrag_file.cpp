// Moving one file's clusters into a free run: choosing the run, issuing the
// moves chunk by chunk, keeping the free-run list current, and the
// user-level defragmentation of one file with its prompts and report.
#include <cstring>
#include <vector>

#include "base/text.h"
#include "engine/defrag.h"
#include "engine/globals.h"
#include "engine/report_sink.h"
#include "engine/retrieval_reply.h"

namespace vt {

namespace {
constexpr uint64_t kNoLcn = ~0ull;
constexpr size_t kMaxRecordedPositions = 100;

bool SameFragments(const CGrowableArray<CFileClusterItem>& a,
                   const CGrowableArray<CFileClusterItem>& b) {
  if (a.GetSize() != b.GetSize()) return false;
  for (size_t i = 0; i < a.GetSize(); ++i)
    if (a[i].m_nLcn != b[i].m_nLcn || a[i].m_nClusters != b[i].m_nClusters) return false;
  return true;
}

uint32_t SizeNeeded(const CFileItem& file) {
  uint32_t size = 0;
  for (const auto& f : file.m_fragments) size += f.m_nClusters;
  return size;
}
}  // namespace

std::string CDefrag::SystemText(DWORD error) {
  std::string text = System().FormatSystemMessage(error);
  std::string clean;
  clean.reserve(text.size());
  for (char c : text) {
    if (c == '\n')
      clean += ' ';
    else if (c != '\r')
      clean += c;
  }
  return clean;
}

bool CDefrag::FindTargetRun(const CFileItem& file, DefragPlacement placement, size_t* run,
                            uint64_t* targetLcn) const {
  const uint32_t needed = SizeNeeded(file);
  const size_t n = m_freeRuns.GetSize();
  if (placement == OuterTrack) {
    for (size_t i = n; i-- > 0;) {
      const CClusterItem& r = m_freeRuns[i];
      if (r.m_nState == RUN_FREE && r.m_nClusters >= needed) {
        *run = i;
        *targetLcn = r.m_nLcn + r.m_nClusters - needed;
        return true;
      }
    }
    return false;
  }
  for (size_t i = 0; i < n; ++i) {
    const CClusterItem& r = m_freeRuns[i];
    if (r.m_nState == RUN_FREE && r.m_nClusters >= needed) {
      *run = i;
      *targetLcn = r.m_nLcn;
      return true;
    }
  }
  return false;
}

size_t CDefrag::FirstFreeRunAfter(uint64_t lcn) const {
  // Free runs keep their order by LCN among themselves: a run is inserted
  // only where that order puts it, and a run's start moves only within its
  // own clusters. Merged entries lie among them anywhere. So "the first
  // free run at or after index i starts past lcn" holds for every i from
  // some point on, and that point is found by halving.
  const size_t n = m_freeRuns.GetSize();
  auto nextFree = [&](size_t i) {
    while (i < n && m_freeRuns[i].m_nState != RUN_FREE) ++i;
    return i;
  };
  size_t lo = 0, hi = n;
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    const size_t f = nextFree(mid);
    if (f == n || m_freeRuns[f].m_nLcn > lcn) {
      hi = mid;
    } else {
      lo = f + 1;
    }
  }
  return nextFree(lo);
}

void CDefrag::AddFreeRun(uint64_t lcn, uint32_t count) {
  const size_t at = FirstFreeRunAfter(lcn);
  CClusterItem added;
  added.m_nLcn = lcn;
  added.m_nClusters = count;
  added.m_nState = RUN_FREE;
  m_freeRuns.InsertAt(at, added);
  // Only the predecessor takes the new run in; a successor never does.
  const size_t before = at == 0 ? 0 : at - 1;
  CClusterItem& prev = m_freeRuns[before];
  if (before != at && prev.m_nState == RUN_FREE && prev.m_nLcn + prev.m_nClusters == lcn) {
    prev.m_nClusters += count;
    m_freeRuns[at].m_nState = RUN_MERGED;
  }
}

namespace {

bool IsVolumeRefusal(DWORD error) {
  return error == ERROR_DISK_CORRUPT || error == ERROR_WRITE_PROTECT || error == ERROR_BUSY;
}

}  // namespace

void CDefrag::ReportMoveFailure(const CFileItem& file, const std::string& path, DWORD error,
                                bool silent) {
  if (silent) {
    CFileErrors entry;
    entry.m_strPath = path;
    entry.m_nSize = file.m_nSize;
    entry.m_dwError = error;
    m_errors.Add(std::move(entry));
    return;
  }
  std::string text =
      Format("%s could not defragment the following file:\n\n%s\n\nSystem error message: %s",
             kMessageCaption, path.c_str(), SystemText(error).c_str());
  if (Prompt().ShowMessage(text, MB_OKCANCEL | MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND) ==
      IDCANCEL)
    SetCancel(true);
}

bool CDefrag::MoveFileClusters(MoveRequest& request) {
  CFileItem& file = *request.file;
  request.extentsUnknown = false;
  if (m_pDrive) m_pDrive->m_bDirty = true;
  if (IsCancelled()) return true;
  if (file.m_fragments.GetSize() == 0) return false;
  // Of a FAT folder only a piece after the first moves, one at a time.
  const bool tailOnly = file.IsUnmovable() && file.IsTailMovable();
  if (file.IsUnmovable() && (!tailOnly || !request.hasFilter || request.filterLcn == kNoLcn ||
                             request.filterLcn == file.m_fragments[0].m_nLcn))
    return false;
  if (request.targetRun >= m_freeRuns.GetSize()) return false;

  const std::string path = GetItemPath(file);
  if (path.empty()) {
    // Its folder is unknown: the file is never opened by its bare name,
    // which could name another file wherever the process happens to be.
    request.error = -1;
    file.SetUnmovable();
    const std::string reason = RecordUnresolved(file);
    if (!request.silent) {
      std::string text =
          Format("Defrag file error:  %s\n\n%s.", file.m_strName.c_str(), reason.c_str());
      if (Prompt().ShowMessage(
              text, MB_OKCANCEL | MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND) == IDCANCEL)
        SetCancel(true);
      Prompt().RepaintMainWindow();
    }
    return false;
  }
  HANDLE opened = OpenFileForMove(path);
  if (opened == INVALID_HANDLE_VALUE) {
    const DWORD error = Ops().GetLastError();
    request.error = -1;
    file.SetUnmovable();
    if (MapHost()) MapHost()->MarkUnmovable(file);
    if (request.silent) {
      CFileErrors entry;
      entry.m_strPath = path;
      entry.m_nSize = file.m_nSize;
      entry.m_dwError = error;
      m_errors.Add(std::move(entry));
    } else {
      std::string text =
          Format("Defrag file error:  %s\n\n%s", path.c_str(), SystemText(error).c_str());
      if (Prompt().ShowMessage(
              text, MB_OKCANCEL | MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND) == IDCANCEL)
        SetCancel(true);
      Prompt().RepaintMainWindow();
    }
    return false;
  }
  CHandle handle(&Ops(), opened);

  // The file as it is now, not as the analysis saw it: it may have grown or
  // changed since (or the analysis came from the cache), and the run was
  // chosen for the size it had then.
  const CGrowableArray<CFileClusterItem> known = file.m_fragments;
  const uint64_t knownFirstLcn = file.m_nFirstLcn;
  const DWORD fresh = ReadExtents(file, handle.Get());
  if (fresh != ERROR_SUCCESS) {
    file.m_fragments = known;
    file.m_nFirstLcn = knownFirstLcn;
    request.error = static_cast<int32_t>(fresh);
    return false;
  }
  if (!SameFragments(known, file.m_fragments)) {
    // The file changed since the list was made, so the list is stale where
    // it grew or shrank: rebuilt from the bitmap, the caller chooses again.
    BuildFreeRunList();
    request.error = ERROR_RETRY;
    return false;
  }
  const bool filtered = request.hasFilter && request.filterLcn != kNoLcn;
  {
    const CClusterItem& run = m_freeRuns[request.targetRun];
    if (file.m_fragments.IsEmpty() || run.m_nState != RUN_FREE ||
        (request.mode == 1 && !filtered && SizeNeeded(file) > run.m_nClusters)) {
      request.error = file.m_fragments.IsEmpty() ? ERROR_HANDLE_EOF : ERROR_DISK_FULL;
      return false;
    }
  }
  const CGrowableArray<CFileClusterItem> beforeMove = file.m_fragments;
  const uint64_t firstLcnBeforeMove = file.m_nFirstLcn;

  const std::string sizeText =
      file.m_nSize == 0 ? std::string("folder") : FormatByteSize(file.m_nSize);
  const uint32_t bytesPerCluster = m_pDrive && m_pDrive->m_dwBytesPerCluster
                                       ? m_pDrive->m_dwBytesPerCluster
                                       : m_dwBytesPerCluster;

  struct Chunk {
    uint64_t lcn;
    uint32_t count;
  };
  std::vector<Chunk> vacated;
  std::vector<uint64_t> positions;
  uint64_t runningTarget = m_freeRuns[request.targetRun].m_nLcn;
  uint64_t currentVcn = 0;
  DWORD result = 0;
  std::vector<uint8_t> reply(kRetrievalReplySize);
  const CRetrievalReply extents(reply);
  bool stop = false;
  bool done = false;  // every extent was walked, or the one chunk of mode 2 moved
  bool volumeRefused = false;

  while (!IsCancelled() && !stop) {
    STARTING_VCN_INPUT_BUFFER query = {};
    query.StartingVcn.QuadPart = static_cast<LONGLONG>(currentVcn);
    DWORD returned = 0;
    BOOL ok =
        Ops().DeviceIoControl(handle.Get(), FSCTL_GET_RETRIEVAL_POINTERS, &query, sizeof(query),
                              reply.data(), static_cast<DWORD>(reply.size()), &returned);
    result = ok ? 0 : Ops().GetLastError();
    if (!ok && result != ERROR_MORE_DATA) break;

    const uint32_t count = extents.Count();
    if (!request.silent) {
      uint64_t range = count;
      SendProgress(PROGRESS_RANGE, reinterpret_cast<LPARAM>(&range));
      std::string status = "Moving: " + path;
      SendProgress(PROGRESS_TEXT, reinterpret_cast<LPARAM>(status.c_str()));
    }
    const uint64_t askedFrom = currentVcn;
    uint32_t i = 0;
    for (; i < count && !IsCancelled(); ++i) {
      const uint64_t nextVcn = extents.NextVcn(i);
      const uint64_t lcn = extents.Lcn(i);
      if (lcn == kNoLcn) {
        currentVcn = nextVcn;
        continue;
      }
      if (!request.silent) {
        uint64_t position = i + 1;
        SendProgress(PROGRESS_POSITION, reinterpret_cast<LPARAM>(&position));
      }
      const uint64_t chunkVcn = currentVcn;
      uint32_t chunkCount = static_cast<uint32_t>(nextVcn - currentVcn);
      if (filtered) {
        currentVcn = nextVcn;
        if (lcn != request.filterLcn) continue;
        // Never more than the extent holds: the rest of the chunk would be
        // clusters of other extents, vacated somewhere else.
        if (request.filterCount < chunkCount) chunkCount = request.filterCount;
      }
      if (chunkCount == 0) continue;
      // The extents read now may differ from the list's: the first cluster
      // of a FAT folder is never asked to move.
      if (tailOnly && chunkVcn == 0) {
        result = ERROR_INVALID_PARAMETER;
        stop = true;
        break;
      }

      // The chunk must fit what is left of its run, exactly where the run
      // starts; a file that grew (or a stale list) is refused, not spilled
      // over clusters the list does not know to be free.
      CClusterItem& target = m_freeRuns[request.targetRun];
      if (target.m_nState != RUN_FREE || target.m_nLcn != runningTarget ||
          chunkCount > target.m_nClusters) {
        result = ERROR_DISK_FULL;
        stop = true;
        break;
      }

      std::string chunkText = Format(
          "%10s / %s", FormatByteSize(static_cast<uint64_t>(bytesPerCluster) * chunkCount).c_str(),
          sizeText.c_str());
      SendProgress(PROGRESS_THROUGHPUT, reinterpret_cast<LPARAM>(chunkText.c_str()));
      MOVE_FILE_DATA move = {};
      move.FileHandle = handle.Get();
      move.StartingVcn.QuadPart = static_cast<LONGLONG>(chunkVcn);
      move.StartingLcn.QuadPart = static_cast<LONGLONG>(runningTarget);
      move.ClusterCount = chunkCount;
      DWORD moved = 0;
      if (!Ops().DeviceIoControl(m_hVolume.Get(), FSCTL_MOVE_FILE, &move, sizeof(move), nullptr, 0,
                                 &moved)) {
        result = Ops().GetLastError();
        vacated.clear();
        BuildFreeRunList();
        file.m_nMoveFailures = static_cast<uint8_t>(file.m_nMoveFailures + 1);
        if (file.m_nMoveFailures > 4) file.SetUnmovable();
        // A volume that refuses every write (damaged, read-only, in use)
        // fails every other file the same way: say it once and stop.
        volumeRefused = IsVolumeRefusal(result);
        stop = true;
        break;
      }
      m_nMovedClusters += chunkCount;
      if (MapHost()) MapHost()->MarkMove(lcn, runningTarget, chunkCount);
      target.m_nLcn += chunkCount;
      target.m_nClusters -= chunkCount;
      if (target.m_nClusters == 0) target.m_nState = RUN_MERGED;
      vacated.push_back({lcn, chunkCount});
      if (!m_bXPOrLater && positions.size() < kMaxRecordedPositions)
        positions.push_back(runningTarget);
      if (request.mode == 2) {
        stop = true;
        done = true;
        break;
      }
      runningTarget += chunkCount;
      currentVcn = nextVcn;
    }
    if (stop || i < count) break;  // i < count: a stop came inside this reply
    if (result != ERROR_MORE_DATA) {
      done = true;
      break;
    }
    // A reply that does not move on would be asked for again for ever.
    if (count == 0 || currentVcn <= askedFrom) {
      done = true;
      break;
    }
  }
  const bool cancelled = !done && !stop && (result == 0 || result == ERROR_MORE_DATA);

  // The re-read closes the handle.
  DWORD queryError = 0;
  const int reread =
      GetFileClusters(file, handle.Release(), m_bXPOrLater ? nullptr : &positions, &queryError);
  if (queryError != ERROR_SUCCESS && reread == 0) {
    // Where the file lies now is unknown: it keeps the layout last seen,
    // stays listed as it was, and the free runs come from the bitmap.
    file.m_fragments = beforeMove;
    file.m_nFirstLcn = firstLcnBeforeMove;
    if (result == 0 || result == ERROR_MORE_DATA) result = queryError;
    request.error = static_cast<int32_t>(result);
    if (!vacated.empty()) {
      request.extentsUnknown = true;
      BuildFreeRunList();
      ReportMoveFailure(file, path, queryError, request.silent);
    }
    return false;
  }
  if (result == 0 || result == ERROR_MORE_DATA) result = static_cast<DWORD>(reread);
  request.error = static_cast<int32_t>(result);

  // What moved is real, so the vacated clusters are free again whatever the
  // outcome; a failed move has rebuilt the list from the bitmap instead.
  for (const Chunk& c : vacated) AddFreeRun(c.lcn, c.count);
  if (result == 0 || result == ERROR_MORE_DATA) {
    if (!cancelled) return true;
    // Stopped part-way: the file is not done and must not be reported so.
    request.error = ERROR_CANCELLED;
    return false;
  }
  if ((file.IsUnmovable() && !file.IsTailMovable()) || volumeRefused)
    ReportMoveFailure(file, path, result, request.silent);
  if (volumeRefused) SetCancel(true);
  return false;
}

bool CDefrag::DefragFile(CFileItem& file, DefragPlacement placement, bool report) {
  if (file.m_fragments.GetSize() <= 1) {
    int answer = MoveAnywayAnswer().load();
    if (answer == -1) {
      std::string text =
          Format("%s does not need to be defragmented.\nMove file anyway?", file.m_strName.c_str());
      bool repeat = false;
      answer = Prompt().ShowDefragPrompt(text, &repeat);
      MoveAnywayAnswer().store(answer);
    }
    if (answer == IDNO) return false;
    if (answer == IDCANCEL) {
      SetCancel(true);
      return false;
    }
  }

  if (m_freeRuns.IsEmpty()) BuildFreeRunList();

  size_t run = 0;
  uint64_t targetLcn = 0;
  if (!FindTargetRun(file, placement, &run, &targetLcn)) {
    std::string text = Format(
        "Your drive does not have sufficient contiguous free space.\nTo defrag %s you will need "
        "to first Defrag Free Space.\n\nWould you like to do this now?",
        file.m_strName.c_str());
    int answer = Prompt().ShowMessage(
        text, MB_YESNOCANCEL | MB_ICONQUESTION | MB_TASKMODAL | MB_SETFOREGROUND);
    Prompt().RepaintMainWindow();
    if (answer == IDYES) {
      SetCancel(true);
      Messages().Post(m_hProgressWnd, UM_DEFRAG_FREE_NOW, 0, 0);
    } else if (answer == IDCANCEL) {
      SetCancel(true);
    }
    return false;
  }

  const size_t fragmentsBefore = file.m_fragments.GetSize();
  const uint64_t firstLcnBefore = file.m_nFirstLcn;

  bool ok = false;
  MoveRequest request;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (attempt == 1) {
      // A stop, or a file whose new place could not be read, is not tried again.
      if (file.IsUnmovable() || IsCancelled() || request.extentsUnknown) break;
      // The outer-track split of the first attempt is undone by a rebuild.
      if (placement == OuterTrack) BuildFreeRunList();
      if (!FindTargetRun(file, placement, &run, &targetLcn)) break;
    }
    if (placement == OuterTrack && targetLcn > m_freeRuns[run].m_nLcn) {
      // The file ends where the run ends: the run below it stays free as a
      // run of its own, so both keep exact bounds.
      CClusterItem upper = m_freeRuns[run];
      upper.m_nLcn = targetLcn;
      upper.m_nClusters =
          static_cast<uint32_t>(m_freeRuns[run].m_nLcn + m_freeRuns[run].m_nClusters - targetLcn);
      m_freeRuns[run].m_nClusters -= upper.m_nClusters;
      m_freeRuns.InsertAt(run + 1, upper);
      ++run;
    }
    request = MoveRequest();
    request.file = &file;
    request.targetRun = run;
    request.mode = 1;
    request.silent = m_bSilent;
    ok = MoveFileClusters(request);
    if (ok) break;
  }

  if (placement == OuterTrack) BuildFreeRunList();

  if (report && Report()) {
    IReportSink& sink = *Report();
    sink.AddHeading("Defrag file");
    sink.AddLine("Filename:\t", GetItemPath(file));
    sink.AddLine("Size:\t", FormatByteSize(file.m_nSize));
    sink.AddNumberLine("Clusters:\t", file.GetClusters());
    sink.AddNumberLine("Fragments prior to defragging:", fragmentsBefore);
    if (file.m_fragments.GetSize() < 2)
      sink.AddLine("Fragments after defragging:\t", "Not fragmented");
    else
      sink.AddNumberLine("Fragments after defragging:\t", file.m_fragments.GetSize());
    sink.AddLine("Defrag method:\t\t", placement == OuterTrack ? "Outer track" : "Best fit");
    sink.AddNumberLine("Starting cluster prior to defrag:", firstLcnBefore);
    sink.AddNumberLine("Starting cluster after defrag:\t", file.m_nFirstLcn);
  }

  Messages().Post(m_hProgressWnd, UM_DRIVE_UPDATE, 0, 0);
  return ok;
}

}  // namespace vt
