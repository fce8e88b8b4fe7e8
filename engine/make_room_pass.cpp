// The drive pass's make-room step: the plan of engine/make_room over the
// file list and the free runs as they are now, carried out with the same
// moves as every other (so each is as safe, and the free-run list and the
// cluster map follow each one).
#include "base/text.h"
#include "engine/defrag.h"
#include "engine/globals.h"
#include "engine/make_room.h"

namespace vt {

namespace {
// Stretches checked for places for their files, the cheapest first.
constexpr size_t kRoomTries = 4096;
}  // namespace

bool CDefrag::SplitFreeRunAt(uint64_t lcn, uint64_t clusters, size_t* run) {
  for (size_t i = 0; i < m_freeRuns.GetSize(); ++i) {
    CClusterItem& r = m_freeRuns[i];
    if (r.m_nState != RUN_FREE || lcn < r.m_nLcn || lcn >= r.m_nLcn + r.m_nClusters) continue;
    const uint64_t end = r.m_nLcn + r.m_nClusters;
    if (lcn + clusters > end) return false;
    if (r.m_nLcn == lcn) {
      *run = i;
      return true;
    }
    CClusterItem upper = r;
    upper.m_nLcn = lcn;
    upper.m_nClusters = static_cast<uint32_t>(end - lcn);
    r.m_nClusters = static_cast<uint32_t>(lcn - r.m_nLcn);
    m_freeRuns.InsertAt(i + 1, upper);
    *run = i + 1;
    return true;
  }
  return false;
}

bool CDefrag::MakeRoomFor(size_t fileIndex, bool silent, size_t* run, std::string* why,
                          bool* later) {
  if (later) *later = false;
  CFileItem& file = m_files[fileIndex];
  const std::string path = GetItemPath(file);
  uint64_t needed = 0;
  for (const auto& f : file.m_fragments) needed += f.m_nClusters;

  BuildFreeRunList();
  const bool ntfs = m_pDrive ? m_pDrive->m_bNtfs : m_bNtfs;
  std::vector<CRoomSegment> segments;
  segments.reserve(m_files.GetSize() + m_freeRuns.GetSize());
  for (size_t k = 0; k < m_files.GetSize(); ++k) {
    const CFileItem& item = m_files[k];
    // Only whole files move, and FAT folders never (their entries name
    // their own clusters).
    const bool movable = k != fileIndex && !item.IsUnmovable() && item.m_fragments.GetSize() == 1 &&
                         !(item.IsDirectory() && !ntfs) && (item.m_wFlags & FI_VIRTUAL) == 0;
    for (const auto& f : item.m_fragments)
      segments.push_back({f.m_nLcn, f.m_nClusters, movable ? static_cast<int64_t>(k) : kRoomFixed});
  }
  for (const auto& r : m_freeRuns)
    if (r.m_nState == RUN_FREE) segments.push_back({r.m_nLcn, r.m_nClusters, kRoomFree});

  const uint64_t total = m_nTotalClusters ? m_nTotalClusters : GetVolumeClusters();
  CRoomPlan plan;
  switch (PlanRoom(std::move(segments), total, needed, &plan, kRoomTries)) {
    case ROOM_FOUND:
      break;
    case ROOM_NO_SPACE:
      *why = Format("Not enough free space on the drive to make room for this file. %s.",
                    path.c_str());
      return false;
    case ROOM_NO_WINDOW:
      if (later) *later = true;
      *why = Format(
          "No room could be made for this file: every stretch of its size holds clusters that "
          "cannot be moved. %s.",
          path.c_str());
      return false;
    case ROOM_NO_PLACE:
      if (later) *later = true;
      *why = Format(
          "No room could be made for this file: the files in its way have no free space "
          "elsewhere. %s.",
          path.c_str());
      return false;
  }

  for (const CRoomMove& move : plan.m_moves) {
    if (IsCancelled()) {
      *why = Format("Making room for this file was cancelled. %s.", path.c_str());
      return false;
    }
    CFileItem& item = m_files[static_cast<size_t>(move.m_nItem)];
    const std::string itemPath = GetItemPath(item);
    size_t target = 0;
    const bool inPlace = item.m_fragments.GetSize() == 1 &&
                         item.m_fragments[0].m_nLcn == move.m_nFrom &&
                         item.m_fragments[0].m_nClusters == move.m_nClusters;
    if (!inPlace || !SplitFreeRunAt(move.m_nTarget, move.m_nClusters, &target)) {
      *why =
          Format("No room could be made for this file: the volume changed while room was made. %s.",
                 path.c_str());
      return false;
    }
    std::string status = "Making room: " + itemPath;
    SendProgress(PROGRESS_TEXT, reinterpret_cast<LPARAM>(status.c_str()));
    MoveRequest request;
    request.file = &item;
    request.targetRun = target;
    request.mode = 1;
    request.silent = silent;
    if (!MoveFileClusters(request) || item.m_fragments.GetSize() != 1 ||
        item.m_nFirstLcn != move.m_nTarget) {
      *why =
          Format("No room could be made for this file: %s could not be moved out of its way. %s.",
                 itemPath.c_str(), path.c_str());
      return false;
    }
  }
  BuildFreeRunList();
  if (!SplitFreeRunAt(plan.m_nWindowLcn, needed, run)) {
    *why =
        Format("No room could be made for this file: the room made is not free. %s.", path.c_str());
    return false;
  }
  return true;
}

}  // namespace vt
