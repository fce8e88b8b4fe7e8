#include "report/win32/complete_dlg.h"

#include "engine/globals.h"
#include "pages/drive_page.h"
#include "resources/resource.h"

namespace vt {

INT_PTR CCompleteDlg::DoModal() {
  return ::DialogBoxParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_COMPLETE), m_hParent,
                           &CCompleteDlg::DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CCompleteDlg::DialogProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_INITDIALOG: {
      auto* self = reinterpret_cast<CCompleteDlg*>(lParam);
      ::SetWindowTextA(wnd, CompletionCaptionShown(self->m_strCaption, IsCancelled()).c_str());
      ::SetDlgItemTextA(wnd, IDC_COMPLETE_TEXT, self->m_strMessage.c_str());
      ::SetForegroundWindow(wnd);
      return TRUE;
    }
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
