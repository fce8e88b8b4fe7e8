#include "app/win32/status_bar.h"

#include <commctrl.h>

#include <algorithm>

#include "app/main_window_logic.h"
#include "app/win32/pellworth_app.h"
#include "engine/globals.h"
#include "pages/operation_scope.h"
#include "resources/resource.h"
#include "widgets/dialog_base.h"

namespace vt {

namespace {

const char kProgressClass[] = "VantrelProgress";

// The progress bar's state; its text is the window's own (UTF-16 inside),
// so other programs can read it.
struct CProgressState {
  uint64_t range = 0;
  uint64_t position = 0;
  bool shown = false;
};

CProgressState* State(HWND wnd) {
  return reinterpret_cast<CProgressState*>(::GetWindowLongPtrW(wnd, GWLP_USERDATA));
}

LRESULT CALLBACK ProgressProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  CProgressState* state = State(wnd);
  switch (msg) {
    case WM_NCCREATE:
      ::SetWindowLongPtrW(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new CProgressState));
      break;
    case WM_NCDESTROY:
      delete state;
      ::SetWindowLongPtrW(wnd, GWLP_USERDATA, 0);
      break;
    case WM_SETTEXT:
      ::InvalidateRect(wnd, nullptr, TRUE);
      break;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = ::BeginPaint(wnd, &ps);
      RECT r;
      ::GetClientRect(wnd, &r);
      ::FillRect(dc, &r, ::GetSysColorBrush(COLOR_BTNFACE));
      if (state && state->shown && state->range) {
        RECT bar = r;
        const uint64_t pos = state->position > state->range ? state->range : state->position;
        bar.right = r.left + static_cast<LONG>((r.right - r.left) * pos / state->range);
        HBRUSH b = ::CreateSolidBrush(RGB(6, 176, 37));
        ::FillRect(dc, &bar, b);
        ::DeleteObject(b);
      }
      wchar_t text[512] = {};
      ::GetWindowTextW(wnd, text, 512);
      ::SetBkMode(dc, TRANSPARENT);
      HGDIOBJ old = ::SelectObject(dc, ::GetStockObject(DEFAULT_GUI_FONT));
      r.left += 4;
      ::DrawTextW(dc, text, -1, &r, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
      ::SelectObject(dc, old);
      ::EndPaint(wnd, &ps);
      return 0;
    }
  }
  return ::DefWindowProcW(wnd, msg, wParam, lParam);
}

}  // namespace

void CStatusBar::Create(HWND parent) {
  HINSTANCE inst = ::GetModuleHandleA(nullptr);
  static const bool registered = [inst] {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = &ProgressProc;
    wc.hInstance = inst;
    wc.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
    wc.lpszClassName = L"VantrelProgress";
    return ::RegisterClassW(&wc) != 0;
  }();
  (void)registered;
  m_hBar = ::CreateWindowExW(
      0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0, parent,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_STATUS_BAR)), inst, nullptr);
  m_hProgress =
      ::CreateWindowExA(0, kProgressClass, "", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, m_hBar,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_PROGRESS)), inst, nullptr);
}

void CStatusBar::Layout(int clientWidth) {
  m_nClientWidth = clientWidth;
  ::SendMessageW(m_hBar, WM_SIZE, 0, 0);
  const int dpi = WindowDpi(m_hBar);
  int edges[3];
  StatusPaneEdges(clientWidth, ::GetSystemMetrics(SM_CXVSCROLL) + ScaleForDpi(216, dpi) - 216,
                  edges, std::max(ScaleForDpi(100, dpi), m_nMiddleWidth));
  ::SendMessageW(m_hBar, SB_SETPARTS, 3, reinterpret_cast<LPARAM>(edges));
  RECT pane;
  ::SendMessageW(m_hBar, SB_GETRECT, 0, reinterpret_cast<LPARAM>(&pane));
  ::MoveWindow(m_hProgress, pane.left + 1, pane.top + 1, pane.right - pane.left - 2,
               pane.bottom - pane.top - 2, TRUE);
}

void CStatusBar::SetPane(int pane, const std::string& text) {
  if (pane == 1) {
    // Pane 1 grows to its text ("60.0 KB / 38.0 MB") and keeps that width.
    const int need = TextWidthUtf8(m_hBar, text) + ScaleForDpi(12, WindowDpi(m_hBar));
    if (need > m_nMiddleWidth) {
      m_nMiddleWidth = need;
      if (m_nClientWidth) Layout(m_nClientWidth);
    }
  }
  SetStatusTextUtf8(m_hBar, pane, text);
}

void CStatusBar::SetBarText(const std::string& text) { SetTextUtf8(m_hProgress, text); }

void CStatusBar::Invalidate() { ::InvalidateRect(m_hProgress, nullptr, TRUE); }

void CStatusBar::OnProgress(WPARAM code, LPARAM arg) {
  CProgressState* state = State(m_hProgress);
  if (!state) return;
  const char* text = reinterpret_cast<const char*>(arg);
  switch (code) {
    case PROGRESS_RESET:
      state->range = state->position = 0;
      state->shown = false;
      SetBarText("");
      for (int i = 0; i < 3; ++i) SetPane(i, "");
      Invalidate();
      break;
    case PROGRESS_TEXT:
      SetBarText(text ? text : "");
      break;
    case PROGRESS_RANGE:
      state->range = *reinterpret_cast<const uint64_t*>(arg);
      state->position = 0;
      state->shown = true;
      Invalidate();
      break;
    case PROGRESS_POSITION:
      state->position = *reinterpret_cast<const uint64_t*>(arg);
      Invalidate();
      break;
    case PROGRESS_PERCENT: {
      std::string percent;
      const uint64_t value = *reinterpret_cast<const uint64_t*>(arg);
      if (ProgressPercent(value, state->range, &percent)) {
        SetPane(1, percent);
        state->position = value;
        Invalidate();
      }
      break;
    }
    case PROGRESS_THROUGHPUT: {
      SetPane(2, ThroughputNow(App().Engine(), CurrentDrive()));
      SetPane(1, text ? text : "");
      break;
    }
    case PROGRESS_PANE_TEXT:
      SetPane(1, text ? text : "");
      break;
    case PROGRESS_REPAINT:
      ::UpdateWindow(m_hProgress);
      break;
  }
}

}  // namespace vt
