// CCompleteDlg: the white dialog that says a drive operation has finished
// and offers "View Report" (IDOK) or "Close" (IDCANCEL).
#pragma once

#include <windows.h>

#include <string>

#include "widgets/dialog_base.h"

namespace vt {

class CCompleteDlg : public CDialogBase {
 public:
  CCompleteDlg(const std::string& caption, const std::string& message, HWND parent)
      : m_strCaption(caption), m_strMessage(message), m_hParent(parent) {}
  INT_PTR DoModal();

 private:
  INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
  std::string m_strCaption;
  std::string m_strMessage;
  HWND m_hParent;
};

}  // namespace vt
