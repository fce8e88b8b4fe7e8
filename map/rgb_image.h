// A plain 8-bit RGB image in memory, rows top to bottom.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "map/map_colours.h"

namespace vt {

class CRgbImage {
 public:
  CRgbImage() = default;
  CRgbImage(int width, int height, CRgb fill = CRgb{});

  int Width() const { return m_nWidth; }
  int Height() const { return m_nHeight; }
  const std::vector<uint8_t>& Pixels() const { return m_pixels; }

  CRgb Get(int x, int y) const;
  // Drawing is clipped to the image.
  void Set(int x, int y, CRgb c);
  void FillRect(int x, int y, int w, int h, CRgb c);
  void FrameRect(int x, int y, int w, int h, CRgb c);
  void PutText(int x, int y, const std::string& text, CRgb c);

 private:
  int m_nWidth = 0;
  int m_nHeight = 0;
  std::vector<uint8_t> m_pixels;
};

}  // namespace vt
