// The map window's walk over the blocks it shows, as runs of equal blocks:
// what is drawn where, without any drawing.
#pragma once

#include <cstdint>
#include <vector>

#include "map/cluster_map.h"
#include "map/map_classify.h"
#include "map/map_geometry.h"

namespace vt {

class CMapBytes;

// `m_nCount` blocks of one class and level, starting at pixel (x, y).
struct CBlockRun {
  int m_nX = 0;
  int m_nY = 0;
  int m_nCount = 0;
  int m_nClass = 0;
  int m_nLevel = 0;
};

// Walks the blocks of a paint from scroll position `position` and calls
// fn(const CBlockRun&) for each run of equal blocks on one row, in order.
// The window and the picture both draw from this walk, so they agree block
// for block.
template <typename Fn>
void WalkMapBlockRuns(const CMapBytes* bytes, const CMapGeometry& g, uint64_t position, Fn&& fn) {
  if (!bytes || bytes->Length() == 0 || g.BlocksPerRow() == 0 || g.VisibleRows() == 0) return;
  const uint64_t count = bytes->Length() - 1u;  // clusters of the volume
  const uint8_t* data = bytes->Data();
  const int s = g.BlockSize();
  const int w = g.Width();
  const int h = g.Height();
  const uint64_t k = g.ClustersPerBlock();
  const bool compressed = g.Compressed();
  uint64_t t = compressed ? 0 : position * g.ClustersPerRow();
  int x = 0;
  int y = 0;
  CBlockRun pending;
  bool havePending = false;
  while (t < count) {
    int cls;
    int level;
    if (compressed) {
      const CBlockClass b = ClassOfBlock(data, count, t, k);
      cls = b.m_nClass;
      level = b.m_nLevel;
      t = b.m_nNext;
    } else {
      const CClusterClass c = ClassOfCluster(LoadMapByte(data + t));
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
      fn(static_cast<const CBlockRun&>(pending));
      havePending = false;
    }
    if (y >= h) return;
    if (havePending) {
      ++pending.m_nCount;
    } else {
      pending = CBlockRun{x, y, 1, cls, level};
      havePending = true;
    }
    x += s;
  }
  if (havePending) fn(static_cast<const CBlockRun&>(pending));
}

// The runs of a paint from scroll position `position` (0 in the compressed
// view). The spare last byte of the map is never drawn. Rows that start at
// or below the bottom edge are not drawn; a partly visible last row is.
std::vector<CBlockRun> MapBlockRuns(const CMapBytes* bytes, const CMapGeometry& geometry,
                                    uint64_t position);

}  // namespace vt
