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

// The items the analysis adds for the MFT's reserved areas span each range
// whole, over clusters other files hold (the MFT in pieces, the files after
// the mirror) and over free ones. What really lies there is listed already:
// the MFT and its mirror as the reader found them, the other files, and the
// free runs (which leave out the free clusters kept for the MFT where the
// system keeps them). As clusters that stay, they would pin all of that.
bool IsReservedArea(const CFileItem& item) {
  return (item.m_wFlags & (FI_FOLDER_LIST | FI_UNMOVABLE)) == (FI_FOLDER_LIST | FI_UNMOVABLE) &&
         item.m_nRecord == 0 && item.m_nSize == 0 && item.m_strName.compare(0, 4, "$MFT") == 0;
}
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

bool CDefrag::FillAround(size_t fileIndex, uint64_t windowLcn, bool silent, std::string* why) {
  CFileItem& file = m_files[fileIndex];
  const std::string path = GetItemPath(file);
  // Each pass moves the first piece not yet where it belongs, whole, to
  // where it runs on from the pieces before it: the file never has more
  // pieces than before.
  for (size_t guard = file.m_fragments.GetSize(); file.m_fragments.GetSize() > 1 && guard > 0;
       --guard) {
    if (IsCancelled()) {
      *why = Format("Making room for this file was cancelled. %s.", path.c_str());
      return false;
    }
    uint64_t pos = 0;
    const CFileClusterItem* misplaced = nullptr;
    for (const auto& f : file.m_fragments) {
      if (f.m_nLcn != windowLcn + pos) {
        misplaced = &f;
        break;
      }
      pos += f.m_nClusters;
    }
    if (!misplaced) break;
    const CFileClusterItem piece = *misplaced;
    const size_t piecesBefore = file.m_fragments.GetSize();
    size_t target = 0;
    bool ok = SplitFreeRunAt(windowLcn + pos, piece.m_nClusters, &target);
    if (ok) {
      MoveRequest request;
      request.file = &file;
      request.targetRun = target;
      request.mode = 1;
      request.silent = silent;
      request.hasFilter = true;
      request.filterLcn = piece.m_nLcn;
      request.filterCount = piece.m_nClusters;
      ok = MoveFileClusters(request) && file.m_fragments.GetSize() <= piecesBefore;
      // Now in place: the pieces up to it run on from the stretch's start.
      uint64_t at = windowLcn;
      bool placed = false;
      for (const auto& f : file.m_fragments) {
        if (f.m_nLcn != at) break;
        at += f.m_nClusters;
        placed = at >= windowLcn + pos + piece.m_nClusters;
        if (placed) break;
      }
      ok = ok && placed;
    }
    if (!ok) {
      *why = Format("No room could be made for this file: the room made is not free. %s.",
                    path.c_str());
      return false;
    }
  }
  BuildFreeRunList();
  if (file.m_fragments.GetSize() == 1) return true;
  *why =
      Format("No room could be made for this file: the room made is not free. %s.", path.c_str());
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
    if (ntfs && IsReservedArea(item)) continue;
    // Whole files move, and the pieces of fragmented ones (this file's
    // own among them) each whole into one free place, so no file ends with
    // more pieces than it had. A FAT folder's first piece stays (its
    // subfolders' ".." entries name its first cluster); its later pieces
    // move like a fragmented file's.
    const bool virtualItem = (item.m_wFlags & FI_VIRTUAL) != 0;
    const bool fatFolder = item.IsDirectory() && !ntfs;
    const bool movable = !item.IsUnmovable() && !fatFolder && !virtualItem;
    const bool tail =
        fatFolder && item.IsUnmovable() && item.IsTailMovable() && !virtualItem && k != fileIndex;
    uint64_t pos = 0;
    for (const auto& f : item.m_fragments) {
      const int64_t as = tail && pos != 0 ? static_cast<int64_t>(k)
                         : !movable       ? kRoomFixed
                         : k == fileIndex ? kRoomOwn
                                          : static_cast<int64_t>(k);
      segments.push_back({f.m_nLcn, f.m_nClusters, as, pos});
      pos += f.m_nClusters;
    }
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
    CFileItem& item =
        m_files[move.m_nItem == kRoomOwn ? fileIndex : static_cast<size_t>(move.m_nItem)];
    const bool piece = item.m_fragments.GetSize() > 1;
    const std::string itemPath = GetItemPath(item);
    size_t target = 0;
    bool inPlace = false;
    for (const auto& f : item.m_fragments)
      if (f.m_nLcn == move.m_nFrom && f.m_nClusters == move.m_nClusters) inPlace = true;
    // A place files moved out of earlier in the plan is free only once
    // the list is read again.
    bool free = inPlace && SplitFreeRunAt(move.m_nTarget, move.m_nClusters, &target);
    if (inPlace && !free) {
      BuildFreeRunList();
      free = SplitFreeRunAt(move.m_nTarget, move.m_nClusters, &target);
    }
    if (!free) {
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
    if (piece) {
      request.hasFilter = true;
      request.filterLcn = move.m_nFrom;
      request.filterCount = static_cast<uint32_t>(move.m_nClusters);
    }
    const size_t piecesBefore = item.m_fragments.GetSize();
    const bool moved = MoveFileClusters(request);
    bool out =
        moved && !piece && item.m_fragments.GetSize() == 1 && item.m_nFirstLcn == move.m_nTarget;
    if (moved && piece) {
      out = item.m_fragments.GetSize() <= piecesBefore;
      for (const auto& f : item.m_fragments)
        if (f.m_nLcn < move.m_nFrom + move.m_nClusters && move.m_nFrom < f.m_nLcn + f.m_nClusters)
          out = false;
    }
    if (!out) {
      *why =
          Format("No room could be made for this file: %s could not be moved out of its way. %s.",
                 itemPath.c_str(), path.c_str());
      return false;
    }
  }
  BuildFreeRunList();
  if (plan.m_nInPlaceClusters != 0) return FillAround(fileIndex, plan.m_nWindowLcn, silent, why);
  if (!SplitFreeRunAt(plan.m_nWindowLcn, needed, run)) {
    *why =
        Format("No room could be made for this file: the room made is not free. %s.", path.c_str());
    return false;
  }
  return true;
}

}  // namespace vt
