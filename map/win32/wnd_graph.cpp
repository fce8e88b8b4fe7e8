#include "map/win32/wnd_graph.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <string>

#include "engine/globals.h"
#include "map/map_view_logic.h"
#include "map/win32/horizontal_grid.h"
#include "pages/drive_page.h"
#include "resources/resource.h"
#include "widgets/dialog_base.h"

namespace vt {

namespace {

const char kGraphClass[] = "VantrelClusterMap";
constexpr UINT_PTR kBalloonTimer = 1;
CWndGraph* g_graph = nullptr;

}  // namespace

CWndGraph* MapWindow() { return g_graph; }
void SetMapWindow(CWndGraph* graph) { g_graph = graph; }

CWndGraph::CWndGraph(ClusterMap& map, CDefrag& engine) : m_map(map), m_engine(engine) {}

CWndGraph::~CWndGraph() {
  m_map.SetView(nullptr);
  if (m_hBuffer) ::DeleteObject(m_hBuffer);
}

bool CWndGraph::Create(HWND mainWnd, HWND frame, HWND scroll, CHorizontalGrid* strip) {
  HINSTANCE inst = ::GetModuleHandleA(nullptr);
  WNDCLASSA wc = {};
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = &CWndGraph::WndProc;
  wc.hInstance = inst;
  wc.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
  wc.lpszClassName = kGraphClass;
  ::RegisterClassA(&wc);
  m_hMain = mainWnd;
  m_hFrame = frame;
  m_hScroll = scroll;
  m_pStrip = strip;
  ::ShowWindow(frame, SW_HIDE);
  m_hWnd = ::CreateWindowExA(0, kGraphClass, "", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 0, 0, 0,
                             mainWnd, nullptr, inst, this);
  if (!m_hWnd) return false;
  m_balloon.Create(m_hWnd);
  m_map.SetView(this);
  FitFrame();
  return true;
}

void CWndGraph::FitFrame() {
  if (!m_hWnd) return;
  RECT r;
  ::GetWindowRect(m_hFrame, &r);
  ::MapWindowPoints(nullptr, m_hMain, reinterpret_cast<POINT*>(&r), 2);
  ::MoveWindow(m_hWnd, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
}

CMapGeometry CWndGraph::Geometry() const { return m_map.Geometry(m_size.cx, m_size.cy); }

CVisibleRange CWndGraph::VisibleRange() const {
  if (m_map.IsEmpty()) return CVisibleRange();
  return Geometry().VisibleRange(m_map.IsCompressed() ? 0 : m_nPosition);
}

LRESULT CALLBACK CWndGraph::WndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  CWndGraph* self = WindowObject(wnd, msg, lParam, &CWndGraph::m_hWnd);
  return self ? self->OnMessage(msg, wParam, lParam) : ::DefWindowProcA(wnd, msg, wParam, lParam);
}

void CWndGraph::OnSize(int width, int height) {
  const CMapGeometry before = Geometry();
  if (m_hBuffer) ::DeleteObject(m_hBuffer);
  m_hBuffer = nullptr;
  m_pBits = nullptr;
  m_size.cx = width;
  m_size.cy = height;
  if (width > 0 && height > 0) {
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;  // top-down, as the painter writes it
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    m_hBuffer = ::CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    m_pBits = static_cast<uint32_t*>(bits);
  }
  // The cluster at the top stays at the top: a resize does not send the
  // user back to the start of the volume.
  m_nPosition = m_map.IsEmpty() ? 0 : PositionAfterResize(before, m_nPosition, Geometry());
  UpdateScrollBar();
  ::InvalidateRect(m_hWnd, nullptr, FALSE);
  ::PostMessageA(m_hMain, UM_RANGE_CHANGED, 0, 0);
}

void CWndGraph::UpdateScrollBar() {
  if (!m_hScroll) return;
  const bool active = !m_map.IsCompressed() && !m_map.IsEmpty();
  const uint64_t max = active ? Geometry().ScrollMax() : 0;
  if (m_nPosition > max) m_nPosition = max;
  SCROLLINFO si = {};
  si.cbSize = sizeof(si);
  si.fMask = SIF_RANGE | SIF_POS | SIF_PAGE | SIF_DISABLENOSCROLL;
  si.nMin = 0;
  si.nMax = static_cast<int>(std::min<uint64_t>(max, 0x7FFFFFFF));
  si.nPage = 1;
  si.nPos = static_cast<int>(m_nPosition);
  ::SetScrollInfo(m_hScroll, SB_CTL, &si, TRUE);
  ::EnableWindow(m_hScroll, active && max > 0);
}

void CWndGraph::OnPaint() {
  PAINTSTRUCT ps;
  HDC dc = ::BeginPaint(m_hWnd, &ps);
  const CMapSnapshot snap = m_map.Snapshot();
  if (!snap || snap->Length() == 0 || !m_pBits) {
    HBRUSH b = ::CreateSolidBrush(RGB(kMapBackground.r, kMapBackground.g, kMapBackground.b));
    RECT r = {0, 0, m_size.cx, m_size.cy};
    ::FillRect(dc, &r, b);
    ::DeleteObject(b);
  } else {
    ::GdiFlush();
    PaintMapPixels(m_painter, m_pBits, m_size.cx, snap.get(), Geometry(),
                   m_map.IsCompressed() ? 0 : m_nPosition);
    HDC mem = ::CreateCompatibleDC(dc);
    HGDIOBJ old = ::SelectObject(mem, m_hBuffer);
    ::BitBlt(dc, 0, 0, m_size.cx, m_size.cy, mem, 0, 0, SRCCOPY);
    ::SelectObject(mem, old);
    ::DeleteDC(mem);
  }
  ::EndPaint(m_hWnd, &ps);
}

void CWndGraph::SetPosition(uint64_t position, bool notify) {
  m_nPosition = std::min(position, Geometry().ScrollMax());
  UpdateScrollBar();
  ::InvalidateRect(m_hWnd, nullptr, FALSE);
  if (notify) ::PostMessageA(m_hMain, UM_RANGE_CHANGED, 0, 0);
}

void CWndGraph::SetCompressed(bool on) {
  m_map.SetCompressed(on);
  m_nPosition = 0;
  UpdateScrollBar();
  ::InvalidateRect(m_hWnd, nullptr, TRUE);
  ::PostMessageA(m_hMain, UM_VIEW_CHANGED, 0, 0);
  ::PostMessageA(m_hMain, UM_RANGE_CHANGED, 0, 0);
  const uint64_t left = m_map.LeftClickCluster();
  const uint64_t right = m_map.RightClickCluster();
  if (left != kNoCluster)
    EnsureVisible(left, false);
  else if (right != kNoCluster)
    EnsureVisible(right, false);
}

void CWndGraph::SetBlockSize(int size) {
  const CVisibleRange old = VisibleRange();
  m_map.SetBlockSize(size);
  if (m_relayout) m_relayout();
  m_nPosition = 0;
  UpdateScrollBar();
  EnsureVisible(old.m_nFirst + (old.m_nLast - old.m_nFirst) / 2, false);
  ::InvalidateRect(m_hWnd, nullptr, FALSE);
  ::PostMessageA(m_hMain, UM_VIEW_CHANGED, 0, 0);
  ::PostMessageA(m_hMain, UM_RANGE_CHANGED, 0, 0);
}

bool CWndGraph::EnsureVisible(uint64_t cluster, bool jump) {
  if (m_map.IsEmpty()) return false;
  uint64_t position = 0;
  if (!EnsureVisiblePosition(Geometry(), m_nPosition, cluster, jump, &position)) return false;
  SetPosition(position, true);
  return true;
}

void CWndGraph::Refresh() {
  // The clusters an operation moved stay marked "Defragged" over the
  // rebuild while data still lies there, so the user sees where it went.
  const CMapSnapshot before = m_map.Snapshot();
  m_map.InitGrid(m_engine);
  m_map.ExtractMapRuns(m_engine);
  m_map.KeepDefraggedMarks(before.get());
  ::PostMessageA(m_hWnd, UM_MAP_REBUILT, 0, 0);
}

void CWndGraph::ShowFiles(const std::vector<size_t>& items) {
  m_map.ClearSelection();
  bool scrolled = false;
  for (size_t i : items) {
    if (i >= m_engine.m_files.GetSize()) continue;
    const CFileItem& file = m_engine.m_files[i];
    if (!m_map.IsCompressed()) m_map.SelectFile(file);
    if (file.m_fragments.GetSize() > 0)
      scrolled = EnsureVisible(file.m_fragments[0].m_nLcn, false) || scrolled;
  }
  if (!scrolled) ::InvalidateRect(m_hWnd, nullptr, FALSE);
}

void CWndGraph::OnScroll(int code) {
  SCROLLINFO si = {};
  si.cbSize = sizeof(si);
  si.fMask = SIF_TRACKPOS;
  switch (code) {
    case SB_LINEUP:
      return Scroll(MapScroll::LineUp);
    case SB_LINEDOWN:
      return Scroll(MapScroll::LineDown);
    case SB_PAGEUP:
      return Scroll(MapScroll::PageUp);
    case SB_PAGEDOWN:
      return Scroll(MapScroll::PageDown);
    case SB_TOP:
      return Scroll(MapScroll::Top);
    case SB_BOTTOM:
      return Scroll(MapScroll::Bottom);
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK:
      ::GetScrollInfo(m_hScroll, SB_CTL, &si);
      return Scroll(MapScroll::Thumb, static_cast<uint64_t>(si.nTrackPos));
  }
}

void CWndGraph::Scroll(MapScroll how, uint64_t thumb) {
  if (m_map.IsCompressed() || m_map.IsEmpty()) return;
  SetPosition(ScrolledPosition(Geometry(), m_nPosition, how, thumb), true);
  if (BusyCounter().load() == 0) {
    POINT pt;
    ::GetCursorPos(&pt);
    ::ScreenToClient(m_hWnd, &pt);
    if (pt.x >= 0 && pt.y >= 0 && pt.x < m_size.cx && pt.y < m_size.cy) PointerText(pt.x, pt.y);
  }
}

void CWndGraph::OnWheel(int lines) {
  for (int i = 0; i < std::abs(lines); ++i) OnScroll(lines < 0 ? SB_LINEUP : SB_LINEDOWN);
}

void CWndGraph::Progress(int code, const std::string& text) {
  ::SendMessageA(m_hMain, UM_PROGRESS, static_cast<WPARAM>(code),
                 reinterpret_cast<LPARAM>(text.c_str()));
}

void CWndGraph::PointerText(int x, int y) {
  if (m_map.IsEmpty() || !CurrentDrive()) return;
  m_bPointerText = true;
  const bool compressed = m_map.IsCompressed();
  if (compressed) Progress(PROGRESS_RESET, "");
  const uint64_t c = Geometry().ClusterAtPoint(x, y, compressed ? 0 : m_nPosition);
  const CPointerText t =
      vt::PointerText(m_engine, CurrentDrive()->m_dwBytesPerCluster, compressed, c);
  Progress(PROGRESS_PANE_TEXT, t.m_strCluster);
  if (t.m_nCode == 1)
    Progress(PROGRESS_TEXT, t.m_strText);
  else
    Progress(PROGRESS_RESET, "");
}

void CWndGraph::ShowBalloon(int x, int y, const std::string& title, const std::string& body) {
  // Just below and right of the point, so that the pointer stays over the
  // map while it drags.
  const int offset = ScaleToDpi(12, WindowDpi(m_hWnd));
  POINT pt = {x + offset, y + offset};
  ::ClientToScreen(m_hWnd, &pt);
  m_balloon.Show(pt, title, body);
  ::SetTimer(m_hWnd, kBalloonTimer, 10000, nullptr);
}

void CWndGraph::HideBalloon() {
  m_balloon.Hide();
  ::KillTimer(m_hWnd, kBalloonTimer);
}

void CWndGraph::OnLeftButton(int x, int y, bool drag) {
  if (m_map.IsEmpty() || BusyCounter().load() > 0) return;
  const bool compressed = m_map.IsCompressed();
  const uint64_t c = Geometry().ClusterAtPoint(x, y, compressed ? 0 : m_nPosition);
  m_map.SetLeftClickCluster(c);
  const uint32_t bpc = CurrentDrive() ? CurrentDrive()->m_dwBytesPerCluster : 0;
  const CMapClick click = LeftClick(m_engine, bpc, compressed, c, drag);
  if (click.m_bUncompress) {
    m_map.SetLeftClickCluster(kNoCluster);
    SetCompressed(false);
    EnsureVisible(c, true);
    return;
  }
  if (click.m_bSelect) {
    const CBalloon& b = click.m_balloon;
    m_map.ClearSelection();
    if (b.m_pFile) {
      m_map.SelectFile(*b.m_pFile);
    } else {
      CClusterItem run;
      run.m_nLcn = b.m_nRunLcn;
      run.m_nClusters = b.m_nRunClusters;
      run.m_nState = b.m_nRunState;
      m_map.SelectRun(run);
    }
    ::InvalidateRect(m_hWnd, nullptr, FALSE);
  }
  if (click.m_bBalloon) ShowBalloon(x, y, click.m_balloon.m_strTitle, click.m_balloon.m_strBody);
}

void CWndGraph::OnMapRebuilt() { ::PostMessageA(m_hWnd, UM_MAP_REBUILT, 0, 0); }

void CWndGraph::OnMoveMarked(uint64_t cluster) {
  // The worker waits, so the map follows each chunk as it lands.
  ::SendMessageA(m_hWnd, UM_MAP_MOVED, 0, static_cast<LPARAM>(cluster));
}

LRESULT CWndGraph::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_SIZE:
      OnSize(LOWORD(lParam), HIWORD(lParam));
      return 0;
    case WM_ERASEBKGND:
      if (!m_map.IsEmpty()) return 1;
      break;
    case WM_PAINT:
      OnPaint();
      return 0;
    case UM_MAP_REBUILT:
      UpdateScrollBar();
      ::InvalidateRect(m_hWnd, nullptr, FALSE);
      if (m_pStrip) m_pStrip->CreateGrid();
      ::PostMessageA(m_hMain, UM_RANGE_CHANGED, 0, 0);
      ::PostMessageA(m_hMain, UM_VIEW_CHANGED, 0, 0);
      return 0;
    case UM_MAP_DEFRAGGED:
      ::SetCursor(m_hDefragCursor ? m_hDefragCursor : ::LoadCursor(nullptr, IDC_ARROW));
      m_hDefragCursor = nullptr;
      Refresh();
      return 0;
    case UM_MAP_MOVED: {
      const bool scrolled = EnsureVisible(static_cast<uint64_t>(lParam), false);
      if (!scrolled) ::InvalidateRect(m_hWnd, nullptr, FALSE);
      ::UpdateWindow(m_hWnd);
      if (scrolled && m_pStrip) m_pStrip->CreateGrid();
      return 0;
    }
    case WM_MOUSEMOVE: {
      const int x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
      // The system also reports a pointer that did not move (a window
      // appeared or repainted under it); only real moves change the texts.
      if (x == m_lastPoint.x && y == m_lastPoint.y) return 0;
      m_lastPoint = POINT{x, y};
      if (BusyCounter().load() > 0) return 0;
      if (wParam & MK_LBUTTON) {
        // The mouse is captured while the button is held; only points on
        // the map name a cluster.
        if (x >= 0 && y >= 0 && x < m_size.cx && y < m_size.cy) OnLeftButton(x, y, true);
        return 0;
      }
      if (!m_bTracking) {
        TRACKMOUSEEVENT tme = {sizeof(tme), TME_LEAVE, m_hWnd, 0};
        m_bTracking = ::TrackMouseEvent(&tme) != FALSE;
      }
      // Passing over the map leaves the keyboard focus where it is (the
      // user may be typing elsewhere); a click gives it to the map.
      PointerText(x, y);
      return 0;
    }
    case WM_MOUSELEAVE:
      m_bTracking = false;
      m_lastPoint = POINT{-1, -1};
      // Only the map's own pointer texts are cleared, not an operation's
      // closing status.
      if (m_bPointerText && !(::GetKeyState(VK_LBUTTON) & 0x8000) &&
          !(::GetKeyState(VK_RBUTTON) & 0x8000) && BusyCounter().load() == 0)
        Progress(PROGRESS_RESET, "");
      m_bPointerText = false;
      return 0;
    case WM_LBUTTONDOWN:
      if (!m_map.IsEmpty()) ::SetFocus(m_hWnd);
      ::SetCapture(m_hWnd);
      OnLeftButton(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam), false);
      return 0;
    case WM_LBUTTONUP:
      if (::GetCapture() == m_hWnd) ::ReleaseCapture();
      return 0;
    case WM_RBUTTONDOWN:
      if (!m_map.IsEmpty()) ::SetFocus(m_hWnd);
      OnRightButton(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
      return 0;
    case WM_XBUTTONDOWN: {
      const uint64_t left = m_map.LeftClickCluster();
      EnsureVisible(left != kNoCluster ? left : m_map.RightClickCluster(), false);
      return TRUE;
    }
    case WM_TIMER:
      if (wParam == kBalloonTimer) HideBalloon();
      return 0;
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS | DLGC_WANTALLKEYS;
    case WM_KEYDOWN: {
      MapScroll how;
      if (KeyScroll(static_cast<int>(wParam), &how)) Scroll(how);
      return 0;
    }
  }
  return ::DefWindowProcA(m_hWnd, msg, wParam, lParam);
}

}  // namespace vt
