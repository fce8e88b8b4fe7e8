#include "map/block_painter.h"

#include <algorithm>
#include <cstring>

#include "map/cluster_map.h"
#include "map/map_painter.h"

namespace vt {

int CBlockPainter::StripIndex(int mapClass, int level) {
  switch (mapClass) {
    case CMC_FRAGMENTED:
      return level & CMS_LEVEL_MASK;
    case CMC_FREE:
      return 16;
    case CMC_SELECTED:
      return 17;
    case CMC_UNMOVABLE:
      return 18;
    case CMC_DEFRAGGED:
      return 20;
    default:
      return 19;
  }
}

bool CBlockPainter::Prepare(int blockSize, int width) {
  blockSize = std::min(std::max(blockSize, 1), 10);
  width = std::max(width, 0);
  if (blockSize == m_nBlockSize && width == m_nWidth) return false;
  m_nBlockSize = blockSize;
  m_nWidth = width;
  // A run never leaves its row, so a strip as wide as the buffer holds
  // every run.
  m_pixels.assign(static_cast<size_t>(kStripCount) * blockSize * width, 0);
  static const int kClassOfStrip[] = {CMC_FREE, CMC_SELECTED, CMC_UNMOVABLE, CMC_NOT_FRAGMENTED,
                                      CMC_DEFRAGGED};
  for (int strip = 0; strip < kStripCount; ++strip) {
    const CRgb base = strip < 16 ? ClassColour(CMC_FRAGMENTED, strip, blockSize)
                                 : ClassColour(kClassOfStrip[strip - 16], 0, blockSize);
    for (int r = 0; r < blockSize; ++r) {
      uint32_t* row = m_pixels.data() + (static_cast<size_t>(strip) * blockSize + r) * width;
      std::fill_n(row, width, Pixel(StripRowColour(base, r, blockSize)));
    }
  }
  return true;
}

void PaintMapPixels(CBlockPainter& painter, uint32_t* pixels, int stride, const CMapBytes* bytes,
                    const CMapGeometry& g, uint64_t position) {
  const int w = g.Width();
  const int h = g.Height();
  const int s = g.BlockSize();
  const uint32_t back = CBlockPainter::Pixel(kMapBackground);
  for (int y = 0; y < h; ++y) std::fill_n(pixels + static_cast<size_t>(y) * stride, w, back);
  if (!bytes || bytes->Length() == 0 || w == 0 || h == 0) return;
  painter.Prepare(s, w);
  WalkMapBlockRuns(bytes, g, position, [&](const CBlockRun& run) {
    const int strip = CBlockPainter::StripIndex(run.m_nClass, run.m_nLevel);
    const int n = std::min(run.m_nCount * s, w - run.m_nX);
    const int rows = std::min(s, h - run.m_nY);
    for (int r = 0; r < rows; ++r)
      std::memcpy(pixels + static_cast<size_t>(run.m_nY + r) * stride + run.m_nX,
                  painter.Row(strip, r), static_cast<size_t>(n) * sizeof(uint32_t));
  });
  if (s > 4) {
    for (int y = 0; y < h; ++y) {
      uint32_t* row = pixels + static_cast<size_t>(y) * stride;
      if (y % s == 0) {
        std::fill_n(row, w, back);
      } else {
        for (int x = 0; x < w; x += s) row[x] = back;
      }
    }
  }
}

}  // namespace vt
