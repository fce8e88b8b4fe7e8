#include "map/rgb_image.h"

#include <algorithm>

#include "map/bitmap_font.h"

namespace vt {

CRgbImage::CRgbImage(int width, int height, CRgb fill)
    : m_nWidth(std::max(width, 0)), m_nHeight(std::max(height, 0)) {
  m_pixels.resize(static_cast<size_t>(m_nWidth) * static_cast<size_t>(m_nHeight) * 3);
  FillRect(0, 0, m_nWidth, m_nHeight, fill);
}

CRgb CRgbImage::Get(int x, int y) const {
  if (x < 0 || y < 0 || x >= m_nWidth || y >= m_nHeight) return CRgb{};
  const size_t i = (static_cast<size_t>(y) * static_cast<size_t>(m_nWidth) + x) * 3;
  return CRgb{m_pixels[i], m_pixels[i + 1], m_pixels[i + 2]};
}

void CRgbImage::Set(int x, int y, CRgb c) {
  if (x < 0 || y < 0 || x >= m_nWidth || y >= m_nHeight) return;
  const size_t i = (static_cast<size_t>(y) * static_cast<size_t>(m_nWidth) + x) * 3;
  m_pixels[i] = c.r;
  m_pixels[i + 1] = c.g;
  m_pixels[i + 2] = c.b;
}

void CRgbImage::FillRect(int x, int y, int w, int h, CRgb c) {
  const int x0 = std::max(x, 0);
  const int y0 = std::max(y, 0);
  const int x1 = std::min(m_nWidth, x + w);
  const int y1 = std::min(m_nHeight, y + h);
  for (int yy = y0; yy < y1; ++yy) {
    uint8_t* p = m_pixels.data() + (static_cast<size_t>(yy) * m_nWidth + x0) * 3;
    for (int xx = x0; xx < x1; ++xx) {
      *p++ = c.r;
      *p++ = c.g;
      *p++ = c.b;
    }
  }
}

void CRgbImage::FrameRect(int x, int y, int w, int h, CRgb c) {
  if (w <= 0 || h <= 0) return;
  FillRect(x, y, w, 1, c);
  FillRect(x, y + h - 1, w, 1, c);
  FillRect(x, y, 1, h, c);
  FillRect(x + w - 1, y, 1, h, c);
}

void CRgbImage::PutText(int x, int y, const std::string& text, CRgb c) {
  for (char ch : text) {
    for (int gy = 0; gy < kGlyphHeight; ++gy) {
      for (int gx = 0; gx < kGlyphWidth; ++gx) {
        if (GlyphPixel(ch, gx, gy)) Set(x + gx, y + gy, c);
      }
    }
    x += kGlyphAdvance;
  }
}

}  // namespace vt
