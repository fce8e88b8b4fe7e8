// The map window's picture: runs of equal blocks copied from prepared
// strips into a 32-bit pixel buffer (0x00RRGGBB, rows top to bottom, as a
// top-down DIB section holds them), then the grid lines over it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "map/map_colours.h"
#include "map/map_geometry.h"

namespace vt {

class CMapBytes;

// 21 strips: the 16 fragmentation levels, then Free, Selected, Unmovable,
// Not fragmented and Defragged. Each is block-size rows of one width; row r
// is the class colour brightened by r * (144 / block size).
class CBlockPainter {
 public:
  static constexpr int kStripCount = 21;
  static int StripIndex(int mapClass, int level);
  static uint32_t Pixel(CRgb c) {
    return (static_cast<uint32_t>(c.r) << 16) | (static_cast<uint32_t>(c.g) << 8) | c.b;
  }

  // Builds the strips again only when the block size or width changed;
  // returns whether it did.
  bool Prepare(int blockSize, int width);
  int BlockSize() const { return m_nBlockSize; }
  int Width() const { return m_nWidth; }
  // Row r of a strip, Width() pixels.
  const uint32_t* Row(int strip, int r) const {
    return m_pixels.data() + (static_cast<size_t>(strip) * m_nBlockSize + r) * m_nWidth;
  }

 private:
  int m_nBlockSize = 0;
  int m_nWidth = 0;
  std::vector<uint32_t> m_pixels;
};

// Paints the map of `bytes` as the window shows it from scroll position
// `position` into pixels (g.Width() x g.Height(), `stride` pixels a row):
// background, the runs, and grid lines for blocks above 4 pixels. An empty
// map gives only the background.
void PaintMapPixels(CBlockPainter& painter, uint32_t* pixels, int stride, const CMapBytes* bytes,
                    const CMapGeometry& g, uint64_t position);

}  // namespace vt
