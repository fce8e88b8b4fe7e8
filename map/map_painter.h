// The map window's walk over the blocks it shows, as runs of equal blocks:
// what is drawn where, without any drawing.
#pragma once

#include <cstdint>
#include <vector>

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

// The runs of a paint from scroll position `position` (0 in the compressed
// view). The spare last byte of the map is never drawn. Rows that start at
// or below the bottom edge are not drawn; a partly visible last row is.
std::vector<CBlockRun> MapBlockRuns(const CMapBytes* bytes, const CMapGeometry& geometry,
                                    uint64_t position);

}  // namespace vt
