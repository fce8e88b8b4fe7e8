// The legend under the map: six swatches in the map's class colours, each
// followed by its white text on the window's background, sized for the
// window's DPI (12 pixels a swatch and 14-pixel Arial at 96 DPI).
#pragma once

#include <windows.h>

namespace vt {

class CLegend {
 public:
  ~CLegend();
  // The swatch buttons become disabled owner-drawn squares of the DPI's size.
  void Attach(HWND parent);
  // Lays the six out centred in one row at y; returns the row's height.
  void Layout(int clientWidth, int y);
  int RowHeight() const;
  // WM_DRAWITEM of one swatch; false when it is not one of them.
  bool DrawSwatch(const DRAWITEMSTRUCT* item) const;
  // The texts, drawn by the parent's background painting.
  void DrawTexts(HDC dc) const;

 private:
  HFONT Font() const;
  int Swatch() const;

  HWND m_hParent = nullptr;
  int m_nDpi = 96;
  mutable HFONT m_hFont = nullptr;
  mutable int m_nFontDpi = 0;
};

}  // namespace vt
