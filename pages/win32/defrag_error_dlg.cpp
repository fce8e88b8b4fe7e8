#include "pages/win32/defrag_error_dlg.h"

#include "resources/resource.h"

namespace vt {

int CDefragErrorDlg::DoModal(HWND owner) {
  const INT_PTR rc =
      ::DialogBoxParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_DEFRAG_ERROR), owner,
                        &CDefragErrorDlg::DialogProc, reinterpret_cast<LPARAM>(this));
  // No dialog (out of resources): the batch stops, as on Cancel.
  return rc == -1 || rc == 0 ? IDCANCEL : static_cast<int>(rc);
}

INT_PTR CALLBACK CDefragErrorDlg::DialogProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_INITDIALOG) {
    ::SetWindowLongPtrA(wnd, DWLP_USER, lParam);
    auto* self = reinterpret_cast<CDefragErrorDlg*>(lParam);
    ::SetDlgItemTextA(wnd, IDC_DEFRAG_ERROR_TEXT, self->m_prompt.Text().c_str());
    // Asked from a worker while the user may be in another program; the
    // default button has the focus.
    ::SetForegroundWindow(wnd);
    ::SetFocus(::GetDlgItem(wnd, IDYES));
    return FALSE;
  }
  auto* self = reinterpret_cast<CDefragErrorDlg*>(::GetWindowLongPtrA(wnd, DWLP_USER));
  if (!self || msg != WM_COMMAND) return FALSE;
  const int id = LOWORD(wParam);
  if (id == IDC_DEFRAG_REPEAT) {
    self->m_prompt.OnRepeatClicked(::IsDlgButtonChecked(wnd, IDC_DEFRAG_REPEAT) == BST_CHECKED);
    return TRUE;
  }
  if (HIWORD(wParam) == BN_CLICKED && self->m_prompt.OnButton(id)) {
    ::EndDialog(wnd, self->m_prompt.Answer());
    return TRUE;
  }
  return FALSE;
}

}  // namespace vt
