// CHorizontalGrid: the overview strip above the map, in its frame
// (CGridHorzContainer, control 2152), and the legend swatches below it.
#pragma once

#include <windows.h>

#include <cstdint>

#include "map/cluster_map.h"

namespace vt {

class CWndGraph;

class CHorizontalGrid {
 public:
  explicit CHorizontalGrid(ClusterMap& map) : m_map(map) {}
  ~CHorizontalGrid();

  // A child of the main window covering the frame `frame`.
  bool Create(HWND mainWnd, HWND frame, CWndGraph* graph);
  HWND Handle() const { return m_hWnd; }
  void FitFrame();
  // Rebuilds the strip image from the map bytes (any thread) and repaints.
  void CreateGrid();
  // The map's visible range; repaints the marker.
  void SetRange(uint64_t first, uint64_t last);

 private:
  static LRESULT CALLBACK WndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  void OnSize();
  void OnPaint();
  void MoveMapTo(int x);
  RECT ImageRect() const;

  ClusterMap& m_map;
  CWndGraph* m_pGraph = nullptr;
  HWND m_hWnd = nullptr;
  HWND m_hFrame = nullptr;
  HBITMAP m_hImage = nullptr;
  uint32_t* m_pBits = nullptr;
  SIZE m_image = {0, 0};
  int m_nSamples = 0;  // samples per column; 0 until the image was built
  uint64_t m_nFirst = 0;
  uint64_t m_nLast = 0;
  bool m_bDragging = false;
};

// A legend swatch (CLegendButton, 12 x 12 pixels at 96 DPI, LegendSwatchSide
// at the window's): the class colour lightened by 12 a row (12 pixels'
// worth over a larger swatch), black top-left and white bottom-right edges.
int LegendSwatchSide(HWND wnd);
void DrawLegendButton(const DRAWITEMSTRUCT* item, int mapClass, COLORREF background);
// Its text, in the main window to the right of the swatch: white, "Arial"
// 14 pixels, up to 200 pixels wide (96-DPI pixels, scaled to the window's).
void DrawLegendText(HDC dc, const RECT& swatch, const char* text);
int LegendTextWidth(HWND wnd, const char* text);

}  // namespace vt
