#include "map/map_geometry.h"

#include <algorithm>

namespace vt {

CMapGeometry::CMapGeometry(int width, int height, int blockSize, bool compressed,
                           uint64_t mapLength)
    : m_nWidth(std::max(width, 0)),
      m_nHeight(std::max(height, 0)),
      m_nBlockSize(std::max(blockSize, 1)),
      m_bCompressed(compressed),
      m_nLength(mapLength) {}

uint64_t CMapGeometry::ClustersPerBlock() const {
  if (!m_bCompressed) return 1;
  const uint64_t blocks = static_cast<uint64_t>(BlocksPerRow()) * VisibleRows();
  if (blocks == 0) return 1;
  return std::max<uint64_t>(1, (m_nLength + blocks - 1) / blocks);
}

uint64_t CMapGeometry::ClustersPerRow() const {
  return static_cast<uint64_t>(BlocksPerRow()) * ClustersPerBlock();
}

uint64_t CMapGeometry::ScrollMax() const {
  const uint64_t perRow = std::max<uint64_t>(ClustersPerRow(), 1);
  return m_nLength / perRow;
}

CVisibleRange CMapGeometry::VisibleRange(uint64_t position) const {
  const uint64_t perRow = ClustersPerRow();
  CVisibleRange r;
  r.m_nFirst = perRow * position;
  const uint64_t end = perRow * (position + static_cast<uint64_t>(VisibleRows()));
  // Never past the map's last cluster, however much room the window has.
  r.m_nLast = std::min(m_nLength == 0 ? 0 : m_nLength - 1, end == 0 ? 0 : end - 1);
  return r;
}

uint64_t CMapGeometry::ClusterAtPoint(int x, int y, uint64_t position) const {
  const uint64_t c = static_cast<uint64_t>(std::max(x, 0) / m_nBlockSize);
  const uint64_t r = static_cast<uint64_t>(std::max(y, 0) / m_nBlockSize);
  return ClustersPerRow() * (r + position) + c * ClustersPerBlock();
}

}  // namespace vt
