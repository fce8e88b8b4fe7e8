#include "map/map_view_logic.h"

#include <algorithm>

#include "base/text.h"
#include "engine/defrag.h"

namespace vt {

bool EnsureVisiblePosition(const CMapGeometry& g, uint64_t position, uint64_t cluster, bool jump,
                           uint64_t* newPosition) {
  if (g.Compressed()) return false;
  const uint64_t perRow = g.ClustersPerRow();
  if (perRow == 0) return false;
  const uint64_t max = g.ScrollMax();
  const CVisibleRange range = g.VisibleRange(position);
  uint64_t first = range.m_nFirst;
  // In jump mode only the top row counts as shown; its last cluster is
  // first + perRow - 1, so that the target always ends on the top row.
  uint64_t last = jump ? first + perRow - 1 : range.m_nLast;
  if (first <= cluster && cluster <= last) return false;
  const uint64_t half = jump ? 0 : static_cast<uint64_t>(g.VisibleRows() / 2);
  if (cluster < first) {
    // Whole rows up: the row that holds the cluster, then half a view more.
    position = cluster / perRow;
    position = position > half ? position - half : 0;
  } else {
    const uint64_t rowsDown = (cluster - last + perRow - 1) / perRow;
    position = std::min(max, position + rowsDown);
    position = std::min(max, position + half);
  }
  *newPosition = position;
  return true;
}

uint64_t ScrolledPosition(const CMapGeometry& g, uint64_t position, MapScroll how, uint64_t thumb) {
  if (g.Compressed()) return 0;
  const uint64_t max = g.ScrollMax();
  const uint64_t page = std::max(g.VisibleRows(), 1);
  uint64_t p = position;
  switch (how) {
    case MapScroll::LineUp:
      p = position > 0 ? position - 1 : 0;
      break;
    case MapScroll::LineDown:
      p = position + 1;
      break;
    case MapScroll::PageUp:
      p = position > page ? position - page : 0;
      break;
    case MapScroll::PageDown:
    case MapScroll::PageDownKey:
      p = position + page;
      break;
    case MapScroll::Top:
      p = 0;
      break;
    case MapScroll::Bottom:
      p = max;
      break;
    case MapScroll::Thumb:
      p = thumb;
      break;
  }
  return std::min(p, max);
}

bool FragmentJumps(const CFileItem& file, uint64_t cluster, CFragmentJumps* jumps) {
  const CFileClusterItem* covering = nullptr;
  for (const CFileClusterItem& f : file.m_fragments) {
    if (f.m_nLcn <= cluster && cluster < f.m_nLcn + f.m_nClusters) {
      covering = &f;
      break;
    }
  }
  *jumps = CFragmentJumps();
  if (!covering) return false;
  // The first in the file's order whose start lies below or above, not the
  // nearest one and not the neighbour in the file's order.
  for (const CFileClusterItem& f : file.m_fragments) {
    if (!jumps->m_bPrevious && f.m_nLcn < covering->m_nLcn) {
      jumps->m_bPrevious = true;
      jumps->m_nPrevious = f.m_nLcn;
    }
    if (!jumps->m_bNext && f.m_nLcn > covering->m_nLcn) {
      jumps->m_bNext = true;
      jumps->m_nNext = f.m_nLcn;
    }
  }
  return true;
}

CGridMenuState GridMenuState(bool compressed, int blockSize, bool haveFile,
                             const CFragmentJumps& jumps) {
  CGridMenuState s;
  s.m_bFileCommands = !compressed && haveFile;
  s.m_bNext = s.m_bFileCommands && jumps.m_bNext;
  s.m_bPrevious = s.m_bFileCommands && jumps.m_bPrevious;
  s.m_bCompressedChecked = compressed;
  s.m_nBlockChecked = blockSize;
  return s;
}

const char* RunStateName(uint32_t state) {
  switch (state) {
    case 0:
      return "Free";
    case 1:
      return "System";
    case 2:
      return "Unmoveable";
    default:
      return "Unknown";
  }
}

namespace {

std::string RunText(const char* name, const CClusterItem& run, uint32_t bytesPerCluster) {
  return Format("%s           Clusters = %u  Size =  %s bytes", name, run.m_nClusters,
                GroupThousands(static_cast<uint64_t>(run.m_nClusters) * bytesPerCluster).c_str());
}

}  // namespace

CPointerText PointerText(const CDefrag& engine, uint32_t bytesPerCluster, bool compressed,
                         uint64_t cluster) {
  CPointerText t;
  t.m_strCluster = Format("cluster: %llu", static_cast<unsigned long long>(cluster));
  CClusterItem run;
  if (const CFileItem* file = engine.FindFileAtCluster(cluster)) {
    const std::string path = engine.GetItemPath(*file);
    t.m_nCode = 1;
    t.m_strText = compressed ? path
                             : Format("%s           Fragments = %u   Size = %s bytes", path.c_str(),
                                      static_cast<unsigned>(file->m_fragments.GetSize()),
                                      GroupThousands(file->m_nSize).c_str());
  } else if (engine.FindFreeRunAtCluster(cluster, &run)) {
    t.m_nCode = 1;
    if (!compressed) t.m_strText = RunText(RunStateName(run.m_nState), run, bytesPerCluster);
  } else if (engine.FindMapRunAtCluster(cluster, &run)) {
    t.m_nCode = 1;
    t.m_strText = RunText("System", run, bytesPerCluster);
  }
  return t;
}

bool ClickBalloon(const CDefrag& engine, uint32_t bytesPerCluster, uint64_t cluster, CBalloon* b) {
  *b = CBalloon();
  CClusterItem run;
  if (const CFileItem* file = engine.FindFileAtCluster(cluster)) {
    b->m_pFile = file;
    b->m_strTitle = file->m_strName;
    const std::string first = file->IsDirectory() ? std::string("Folder")
                                                  : Format("Bytes                : %s",
                                                           GroupThousands(file->m_nSize).c_str());
    b->m_strBody = Format("%s\nTotal Clusters   : %s\nFragments        : %s\nStarting cluster : %s",
                          first.c_str(), GroupThousands(file->GetClusters()).c_str(),
                          GroupThousands(file->m_fragments.GetSize()).c_str(),
                          GroupThousands(file->m_nFirstLcn).c_str());
    return true;
  }
  bool found = false;
  const char* title = nullptr;
  if (engine.FindFreeRunAtCluster(cluster, &run)) {
    found = true;
    title = RunStateName(run.m_nState);
  } else if (engine.FindMapRunAtCluster(cluster, &run)) {
    found = true;
    title = "System";
  }
  if (!found) return false;
  b->m_strTitle = title;
  b->m_strBody =
      Format("Total Clusters   : %s\nBytes   : %s", GroupThousands(run.m_nClusters).c_str(),
             GroupThousands(static_cast<uint64_t>(run.m_nClusters) * bytesPerCluster).c_str());
  b->m_nRunLcn = run.m_nLcn;
  b->m_nRunClusters = run.m_nClusters;
  b->m_nRunState = run.m_nState;
  return true;
}

CMapClick LeftClick(const CDefrag& engine, uint32_t bytesPerCluster, bool compressed,
                    uint64_t cluster, bool drag) {
  CMapClick click;
  if (compressed) {
    click.m_bUncompress = true;
    return click;
  }
  if (!ClickBalloon(engine, bytesPerCluster, cluster, &click.m_balloon)) return click;
  click.m_bSelect = !drag;
  click.m_bBalloon = true;
  return click;
}

bool KeyScroll(int virtualKey, MapScroll* how) {
  // The virtual-key codes of Page Up, Page Down, End and Home.
  switch (virtualKey) {
    case 0x21:
      *how = MapScroll::PageUp;
      return true;
    case 0x22:
      *how = MapScroll::PageDownKey;
      return true;
    case 0x24:
      *how = MapScroll::Top;
      return true;
    case 0x23:
      *how = MapScroll::Bottom;
      return true;
    default:
      return false;
  }
}

uint64_t PositionAfterResize(const CMapGeometry& before, uint64_t position,
                             const CMapGeometry& after) {
  if (after.Compressed()) return 0;
  const uint64_t perRow = after.ClustersPerRow();
  if (perRow == 0 || after.VisibleRows() == 0) return position;
  if (before.ClustersPerRow() == 0 || before.VisibleRows() == 0 || before.Compressed())
    return std::min(position, after.ScrollMax());
  const uint64_t top = before.VisibleRange(position).m_nFirst;
  return std::min(top / perRow, after.ScrollMax());
}

}  // namespace vt
