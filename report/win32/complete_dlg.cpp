#include "report/win32/complete_dlg.h"

#include "engine/globals.h"
#include "pages/drive_page.h"
#include "resources/resource.h"

namespace vt {

INT_PTR CCompleteDlg::DoModal() { return RunModal(m_hParent, IDD_COMPLETE); }

INT_PTR CCompleteDlg::OnMessage(UINT msg, WPARAM wParam, LPARAM) {
  HWND wnd = m_hWnd;
  switch (msg) {
    case WM_INITDIALOG:
      SetTextUtf8(wnd, CompletionCaptionShown(m_strCaption, IsCancelled()));
      SetItemTextUtf8(wnd, IDC_COMPLETE_TEXT, m_strMessage);
      ::SetForegroundWindow(wnd);
      return TRUE;
    case WM_ERASEBKGND: {
      RECT r;
      ::GetClientRect(wnd, &r);
      ::FillRect(reinterpret_cast<HDC>(wParam), &r,
                 static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
      return TRUE;
    }
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC:
      ::SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
      return reinterpret_cast<INT_PTR>(::GetStockObject(WHITE_BRUSH));
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        ::EndDialog(wnd, LOWORD(wParam));
        return TRUE;
      }
      break;
  }
  return FALSE;
}

}  // namespace vt
