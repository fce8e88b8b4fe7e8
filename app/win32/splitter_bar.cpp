#include "app/win32/splitter_bar.h"

#include "platform/ui_sink.h"

namespace vt {

namespace {

const char kSplitterClass[] = "VantrelSplitter";

LRESULT CALLBACK SplitterProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  static int s_nStartY = 0;
  switch (msg) {
    case WM_LBUTTONDOWN:
      ::SetCapture(wnd);
      s_nStartY = static_cast<short>(HIWORD(lParam));
      return 0;
    case WM_LBUTTONUP:
      if (::GetCapture() == wnd) {
        ::ReleaseCapture();
        const int d = static_cast<short>(HIWORD(lParam)) - s_nStartY;
        if (d) ::SendMessageA(::GetParent(wnd), UM_SPLITTER_MOVED, static_cast<WPARAM>(d), 0);
      }
      return 0;
    case WM_SETCURSOR:
      ::SetCursor(::LoadCursor(nullptr, IDC_SIZENS));
      return TRUE;
    case WM_PAINT: {
      // A raised edge above and below on the button face.
      RECT r;
      ::GetClientRect(wnd, &r);
      PAINTSTRUCT ps;
      HDC dc = ::BeginPaint(wnd, &ps);
      ::FillRect(dc, &r, ::GetSysColorBrush(COLOR_BTNFACE));
      ::DrawEdge(dc, &r, EDGE_RAISED, BF_TOP | BF_BOTTOM);
      ::EndPaint(wnd, &ps);
      return 0;
    }
  }
  return ::DefWindowProcA(wnd, msg, wParam, lParam);
}

}  // namespace

HWND CreateSplitterBar(HWND parent, int x, int y, int width, int height) {
  static const bool registered = [] {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = &SplitterProc;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
    wc.lpszClassName = kSplitterClass;
    return ::RegisterClassA(&wc) != 0;
  }();
  (void)registered;
  return ::CreateWindowExA(0, kSplitterClass, "", WS_CHILD | WS_VISIBLE, x, y, width, height,
                           parent, nullptr, ::GetModuleHandleA(nullptr), nullptr);
}

}  // namespace vt
