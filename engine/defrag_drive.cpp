// The drive pass: every fragmented file that passes the filter, moved into
// the lowest free run that holds it, or into room made for it.
#include "base/text.h"
#include "engine/defrag.h"
#include "engine/globals.h"

namespace vt {

namespace {
// The same file is attempted again while a move leaves it fragmented or its
// extents cannot be read; after this many attempts in one pass it is
// recorded as not processed.
constexpr int kMaxAttemptsPerFile = 3;

std::string Extension(const std::string& name) {
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}
}  // namespace

uint64_t CDefrag::DefragDrive(DefragFilter kind, bool silent, double percentThreshold,
                              uint32_t sizeThreshold, const std::vector<std::string>& types) {
  CDriveData* drive = m_pDrive ? m_pDrive : CurrentDrive();
  uint64_t range = drive ? drive->m_nFragmentedFiles : 0;
  SendProgress(PROGRESS_RANGE, reinterpret_cast<LPARAM>(&range));
  uint64_t processed = 0;

  m_nMovedClusters = 0;
  m_nFilteredFiles = 0;
  bool movedSinceRebuild = false;
  BuildFreeRunList();
  m_dwStartTick = System().GetTickCount();

  auto record = [this](const std::string& message) {
    CFileErrors entry;
    entry.m_strMessage = message;
    m_errors.Add(std::move(entry));
  };

  // Files no room could be made for yet wait for the end of the list: the
  // files defragmented meanwhile leave their fragments free, which may be
  // what they need. They are taken again while a round defragments any.
  std::vector<size_t> order(m_files.GetSize());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::vector<size_t> waiting;
  std::vector<std::string> waitingWhy;
  bool firstRound = true;
  for (;;) {
    bool progress = false;
    for (size_t index : order) {
      if (IsCancelled()) break;
      // Failed chunk moves are bounded by the file's failure count (it becomes
      // unmovable); the other retries by kMaxAttemptsPerFile.
      int attempts = 0;
      while (!IsCancelled()) {
        CFileItem& file = m_files[index];
        if (file.IsUnmovable() || file.m_fragments.GetSize() < 2) break;
        if (firstRound && processed < range) {
          ++processed;
          SendProgress(PROGRESS_POSITION, reinterpret_cast<LPARAM>(&processed));
        }
        const std::string path = GetItemPath(file);

        if (kind == ByPercent) {
          const double degree = file.GetFragmentationDegree();
          if (degree < percentThreshold) {
            record(Format("File ignored. Percent fragmented equals (%.02f%%) %s ", degree,
                          path.c_str()));
            ++m_nFilteredFiles;
            break;
          }
        } else if (kind == BySize) {
          if (file.m_nSize >= (1ull << 32) || file.m_nSize > sizeThreshold) {
            record(Format("File ignored. Size equals (%s) %s ",
                          FormatByteSize(file.m_nSize).c_str(), path.c_str()));
            ++m_nFilteredFiles;
            break;
          }
        } else if (kind == ExcludeTypes || kind == OnlyTypes) {
          // A folder has no file type: a type filter never takes it.
          if (file.IsDirectory()) {
            ++m_nFilteredFiles;
            break;
          }
          const std::string ext = Extension(file.m_strName);
          if (!ext.empty()) {
            bool listed = false;
            for (const auto& t : types) {
              if (EqualsNoCase(t, ext)) {
                listed = true;
                break;
              }
            }
            if ((kind == ExcludeTypes && listed) || (kind == OnlyTypes && !listed)) {
              ++m_nFilteredFiles;
              break;
            }
          }
        }

        size_t run = 0;
        uint64_t target = 0;
        bool found = FindTargetRun(file, BestFit, &run, &target);
        if (!found && movedSinceRebuild) {
          BuildFreeRunList();
          movedSinceRebuild = false;
          found = FindTargetRun(file, BestFit, &run, &target);
        }
        if (!found && m_bMakeRoom) {
          // Room is made only where no free run holds the file (MakeRoomFor
          // rebuilds the list first).
          std::string why;
          bool later = false;
          found = MakeRoomFor(index, silent, &run, &why, &later);
          movedSinceRebuild = false;
          if (!found) {
            if (later) {
              waiting.push_back(index);
              waitingWhy.push_back(why);
            } else {
              record(why);
            }
            break;
          }
          // The file may have been put together around pieces of it that
          // were already in place.
          if (file.m_fragments.GetSize() == 1) {
            Messages().Post(m_hProgressWnd, UM_DRIVE_UPDATE, 0, 0);
            progress = true;
            break;
          }
        }
        if (!found) {
          record(
              Format("Your drive does not have sufficient contiguous free space. To defrag this "
                     "file you will need to first Defrag Free Space. %s.",
                     path.c_str()));
          break;
        }

        std::string status = "Defragging file: " + path;
        SendProgress(PROGRESS_TEXT, reinterpret_cast<LPARAM>(status.c_str()));
        movedSinceRebuild = true;
        MoveRequest request;
        request.file = &file;
        request.targetRun = run;
        request.mode = 1;
        request.silent = silent;
        const uint8_t failuresBefore = file.m_nMoveFailures;
        const bool ok = MoveFileClusters(request);
        if (ok && file.m_fragments.GetSize() == 1) {
          Messages().Post(m_hProgressWnd, UM_DRIVE_UPDATE, 0, 0);
          progress = true;
          break;
        }
        if (request.error == -1 || file.IsUnmovable() || request.extentsUnknown) break;
        if (file.m_nMoveFailures != failuresBefore) continue;
        if (++attempts == kMaxAttemptsPerFile) {
          CFileErrors entry;
          entry.m_strPath = path;
          entry.m_nSize = file.m_nSize;
          entry.m_dwError = request.error > 0 ? static_cast<uint32_t>(request.error) : 0;
          // Without an error code the list shows the message: the path.
          if (entry.m_dwError == 0) entry.m_strMessage = path;
          m_errors.Add(std::move(entry));
          break;
        }
      }
    }
    if (waiting.empty()) break;
    if (!progress || IsCancelled()) {
      for (const std::string& why : waitingWhy) record(why);
      break;
    }
    order.swap(waiting);
    waiting.clear();
    waitingWhy.clear();
    firstRound = false;
  }

  BuildFreeRunList();
  return m_nMovedClusters;
}

}  // namespace vt
