// CWndGraph: the cluster map window of the main window, with its scroll
// bar, pointer texts, balloon, context menu and the defrag-file thread.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "map/block_painter.h"
#include "map/cluster_map.h"
#include "map/cluster_map_host.h"
#include "map/map_view_logic.h"
#include "map/win32/map_balloon.h"

namespace vt {

class CHorizontalGrid;

class CWndGraph : public IClusterMapView {
 public:
  CWndGraph(ClusterMap& map, CDefrag& engine);
  ~CWndGraph() override;

  // A child of the main window over the frame `frame`, scrolled by `scroll`.
  bool Create(HWND mainWnd, HWND frame, HWND scroll, CHorizontalGrid* strip);
  HWND Handle() const { return m_hWnd; }
  // Takes the frame's place and size again (after the main window's layout).
  void FitFrame();

  // The main window's layout, run when the block size changes the map's width.
  void SetRelayout(std::function<void()> relayout) { m_relayout = std::move(relayout); }
  void SetCompressed(bool on);
  void SetBlockSize(int size);
  bool EnsureVisible(uint64_t cluster, bool jump);
  // Rebuilds the map from the engine's lists and repaints map and strip.
  void Refresh();
  // The fragmented-file page's selection: selected in the map and scrolled to.
  void ShowFiles(const std::vector<size_t>& items);
  // Scroll bar requests (the SB_ codes) and wheel lines (negative: up).
  void OnScroll(int code);
  void OnWheel(int lines);
  // Any scroll: the position, the strip's marker and, when no operation
  // runs, the pointer text for where the pointer now is.
  void Scroll(MapScroll how, uint64_t thumb = 0);

  CMapGeometry Geometry() const;
  CVisibleRange VisibleRange() const;
  uint64_t Position() const { return m_nPosition; }
  int ClientHeight() const { return m_size.cy; }

  // IClusterMapView: called from the thread that changed the map.
  void OnMapRebuilt() override;
  void OnMoveMarked(uint64_t cluster) override;

 private:
  static LRESULT CALLBACK WndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  void OnSize(int width, int height);
  void OnPaint();
  void SetPosition(uint64_t position, bool notify);
  void UpdateScrollBar();
  void PointerText(int x, int y);
  // A click, or (drag) a move with the left button held.
  void OnLeftButton(int x, int y, bool drag);
  void OnRightButton(int x, int y);
  void ShowBalloon(int x, int y, const std::string& title, const std::string& body);
  void HideBalloon();
  void ShellOnFile(bool explore);
  void StartDefragFile();
  void DefragFileThread();
  void Progress(int code, const std::string& text);

  ClusterMap& m_map;
  CDefrag& m_engine;
  CHorizontalGrid* m_pStrip = nullptr;
  HWND m_hWnd = nullptr;
  HWND m_hMain = nullptr;
  HWND m_hFrame = nullptr;
  HWND m_hScroll = nullptr;
  CMapBalloon m_balloon;
  HBITMAP m_hBuffer = nullptr;
  uint32_t* m_pBits = nullptr;
  SIZE m_size = {0, 0};
  CBlockPainter m_painter;
  uint64_t m_nPosition = 0;
  bool m_bTracking = false;
  POINT m_lastPoint = {-1, -1};
  bool m_bPointerText = false;        // the status bar shows this map's pointer text
  HCURSOR m_hDefragCursor = nullptr;  // the cursor before "Defrag file"'s busy one
  size_t m_nDefragItem = SIZE_MAX;    // the file "Defrag file" takes, an index into m_files
  size_t m_nMenuItem = SIZE_MAX;      // the file under the last right click
  std::function<void()> m_relayout;
};

// The program's one map window, for the pages and the main window.
CWndGraph* MapWindow();
void SetMapWindow(CWndGraph* graph);

}  // namespace vt
