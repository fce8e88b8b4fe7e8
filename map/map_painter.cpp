#include "map/map_painter.h"

#include "map/cluster_map.h"
#include "map/map_classify.h"

namespace vt {

std::vector<CBlockRun> MapBlockRuns(const CMapBytes* bytes, const CMapGeometry& g,
                                    uint64_t position) {
  std::vector<CBlockRun> runs;
  if (!bytes || bytes->Length() == 0 || g.BlocksPerRow() == 0 || g.VisibleRows() == 0) return runs;
  const uint64_t count = bytes->Length() - 1u;  // clusters of the volume
  const int s = g.BlockSize();
  const int w = g.Width();
  const int h = g.Height();
  const uint64_t k = g.ClustersPerBlock();
  uint64_t t = g.Compressed() ? 0 : position * g.ClustersPerRow();
  int x = 0;
  int y = 0;
  CBlockRun pending;
  bool havePending = false;
  while (t < count) {
    int cls;
    int level;
    if (g.Compressed()) {
      const CBlockClass b = ClassOfBlock(bytes->Data(), count, t, k);
      cls = b.m_nClass;
      level = b.m_nLevel;
      t = b.m_nNext;
    } else {
      const CClusterClass c = ClassOfCluster(bytes->Get(static_cast<uint32_t>(t)));
      cls = c.m_nClass;
      level = c.m_nLevel;
      ++t;
    }
    bool newRow = false;
    if (x > w - s) {
      x = 0;
      y += s;
      newRow = true;
    }
    if (havePending && (newRow || cls != pending.m_nClass || level != pending.m_nLevel)) {
      runs.push_back(pending);
      havePending = false;
    }
    if (y >= h) return runs;
    if (havePending) {
      ++pending.m_nCount;
    } else {
      pending = CBlockRun{x, y, 1, cls, level};
      havePending = true;
    }
    x += s;
  }
  if (havePending) runs.push_back(pending);
  return runs;
}

}  // namespace vt
