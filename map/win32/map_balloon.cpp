#include "map/win32/map_balloon.h"

#include <algorithm>

namespace vt {

namespace {

const char kBalloonClass[] = "VantrelMapBalloon";
constexpr int kPadding = 8;  // around the text, in 96-DPI pixels
constexpr int kTitleGap = 4;

}  // namespace

int ScaleToDpi(int pixels, int dpi) { return ::MulDiv(pixels, dpi, 96); }

CMapBalloon::~CMapBalloon() {
  if (m_hWnd) ::DestroyWindow(m_hWnd);
  if (m_hFont) ::DeleteObject(m_hFont);
  if (m_hTitleFont) ::DeleteObject(m_hTitleFont);
}

bool CMapBalloon::Create(HWND owner) {
  HINSTANCE inst = ::GetModuleHandleA(nullptr);
  WNDCLASSA wc = {};
  wc.style = CS_DROPSHADOW;
  wc.lpfnWndProc = &CMapBalloon::WndProc;
  wc.hInstance = inst;
  wc.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
  wc.lpszClassName = kBalloonClass;
  ::RegisterClassA(&wc);
  m_hOwner = owner;
  m_hWnd = ::CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, kBalloonClass, "",
                             WS_POPUP | WS_BORDER, 0, 0, 0, 0, owner, nullptr, inst, this);
  return m_hWnd != nullptr;
}

void CMapBalloon::MakeFonts() {
  const int dpi = WindowDpi(m_hOwner);
  if (m_hFont && dpi == m_nFontDpi) return;
  if (m_hFont) ::DeleteObject(m_hFont);
  if (m_hTitleFont) ::DeleteObject(m_hTitleFont);
  NONCLIENTMETRICSA ncm = {};
  ncm.cbSize = sizeof(ncm);
  LOGFONTA lf = {};
  if (::SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof(ncm), &ncm, 0)) {
    lf = ncm.lfStatusFont;
    // The system's metrics are for the system's DPI; the balloon follows its owner's.
    HDC dc = ::GetDC(nullptr);
    const int systemDpi = ::GetDeviceCaps(dc, LOGPIXELSY);
    ::ReleaseDC(nullptr, dc);
    if (systemDpi > 0) lf.lfHeight = ::MulDiv(lf.lfHeight, dpi, systemDpi);
  } else {
    lf.lfHeight = -ScaleToDpi(12, dpi);
    lstrcpyA(lf.lfFaceName, "Tahoma");
  }
  m_hFont = ::CreateFontIndirectA(&lf);
  lf.lfWeight = FW_BOLD;
  m_hTitleFont = ::CreateFontIndirectA(&lf);
  m_nFontDpi = dpi;
}

SIZE CMapBalloon::Measure(RECT* titleRect, RECT* bodyRect) {
  const int dpi = m_nFontDpi;
  const int pad = ScaleToDpi(kPadding, dpi);
  HDC dc = ::GetDC(m_hWnd);
  HGDIOBJ old = ::SelectObject(dc, m_hTitleFont);
  RECT t = {0, 0, 0, 0};
  if (!m_strTitle.empty())
    ::DrawTextA(dc, m_strTitle.c_str(), -1, &t, DT_CALCRECT | DT_NOPREFIX | DT_SINGLELINE);
  ::SelectObject(dc, m_hFont);
  RECT b = {0, 0, 0, 0};
  if (!m_strBody.empty())
    ::DrawTextA(dc, m_strBody.c_str(), -1, &b, DT_CALCRECT | DT_NOPREFIX | DT_EXPANDTABS);
  ::SelectObject(dc, old);
  ::ReleaseDC(m_hWnd, dc);
  const int gap = m_strTitle.empty() ? 0 : ScaleToDpi(kTitleGap, dpi);
  ::OffsetRect(&t, pad, pad);
  ::OffsetRect(&b, pad, t.bottom + gap);
  *titleRect = t;
  *bodyRect = b;
  RECT frame = {0, 0, std::max(t.right, b.right) + pad, b.bottom + pad};
  ::AdjustWindowRectEx(&frame, WS_POPUP | WS_BORDER, FALSE, WS_EX_TOOLWINDOW);
  return SIZE{frame.right - frame.left, frame.bottom - frame.top};
}

void CMapBalloon::Show(POINT screen, const std::string& title, const std::string& body) {
  if (!m_hWnd) return;
  m_strTitle = title;
  m_strBody = body;
  ::SetWindowTextA(m_hWnd, title.c_str());
  MakeFonts();
  RECT t, b;
  const SIZE size = Measure(&t, &b);
  // Kept on the owner's monitor, below and right of the point where it fits.
  MONITORINFO mi = {};
  mi.cbSize = sizeof(mi);
  int x = screen.x, y = screen.y;
  if (::GetMonitorInfoA(::MonitorFromWindow(m_hOwner, MONITOR_DEFAULTTONEAREST), &mi)) {
    if (x + size.cx > mi.rcWork.right) x = std::max<int>(mi.rcWork.left, x - size.cx);
    if (y + size.cy > mi.rcWork.bottom) y = std::max<int>(mi.rcWork.top, y - size.cy);
  }
  ::SetWindowPos(m_hWnd, HWND_TOPMOST, x, y, size.cx, size.cy, SWP_NOACTIVATE | SWP_SHOWWINDOW);
  ::InvalidateRect(m_hWnd, nullptr, TRUE);
}

void CMapBalloon::Hide() {
  if (m_hWnd) ::ShowWindow(m_hWnd, SW_HIDE);
}

void CMapBalloon::OnPaint() {
  PAINTSTRUCT ps;
  HDC dc = ::BeginPaint(m_hWnd, &ps);
  RECT client;
  ::GetClientRect(m_hWnd, &client);
  ::FillRect(dc, &client, ::GetSysColorBrush(COLOR_INFOBK));
  RECT t, b;
  Measure(&t, &b);
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, ::GetSysColor(COLOR_INFOTEXT));
  HGDIOBJ old = ::SelectObject(dc, m_hTitleFont);
  ::DrawTextA(dc, m_strTitle.c_str(), -1, &t, DT_NOPREFIX | DT_SINGLELINE);
  ::SelectObject(dc, m_hFont);
  ::DrawTextA(dc, m_strBody.c_str(), -1, &b, DT_NOPREFIX | DT_EXPANDTABS);
  ::SelectObject(dc, old);
  ::EndPaint(m_hWnd, &ps);
}

LRESULT CALLBACK CMapBalloon::WndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTA*>(lParam);
    ::SetWindowLongPtrA(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    static_cast<CMapBalloon*>(cs->lpCreateParams)->m_hWnd = wnd;
  }
  auto* self = reinterpret_cast<CMapBalloon*>(::GetWindowLongPtrA(wnd, GWLP_USERDATA));
  return self ? self->OnMessage(msg, wParam, lParam) : ::DefWindowProcA(wnd, msg, wParam, lParam);
}

LRESULT CMapBalloon::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_MOUSEACTIVATE:
      return MA_NOACTIVATE;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
      Hide();  // a click on it closes it
      return 0;
    case WM_PAINT:
      OnPaint();
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_NCDESTROY: {
      HWND wnd = m_hWnd;
      m_hWnd = nullptr;  // gone with its owner
      return ::DefWindowProcA(wnd, msg, wParam, lParam);
    }
  }
  return ::DefWindowProcA(m_hWnd, msg, wParam, lParam);
}

}  // namespace vt
