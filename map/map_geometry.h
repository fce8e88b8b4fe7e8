// How clusters relate to block positions in the map window.
#pragma once

#include <cstdint>

namespace vt {

struct CVisibleRange {
  uint64_t m_nFirst = 0;
  uint64_t m_nLast = 0;
};

// All integer arithmetic; width and height are the window's client size.
class CMapGeometry {
 public:
  CMapGeometry(int width, int height, int blockSize, bool compressed, uint64_t mapLength);

  int BlocksPerRow() const { return m_nWidth / m_nBlockSize; }
  int VisibleRows() const { return m_nHeight / m_nBlockSize; }
  uint64_t ClustersPerBlock() const;
  uint64_t ClustersPerRow() const;
  // Scroll positions run from 0 to ScrollMax(); the compressed view stays at 0.
  uint64_t ScrollMax() const;
  CVisibleRange VisibleRange(uint64_t position) const;
  uint64_t ClusterAtPoint(int x, int y, uint64_t position) const;

  int Width() const { return m_nWidth; }
  int Height() const { return m_nHeight; }
  int BlockSize() const { return m_nBlockSize; }
  bool Compressed() const { return m_bCompressed; }
  uint64_t MapLength() const { return m_nLength; }

 private:
  int m_nWidth;
  int m_nHeight;
  int m_nBlockSize;
  bool m_bCompressed;
  uint64_t m_nLength;
};

}  // namespace vt
