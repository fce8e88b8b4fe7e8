// CDefragErrorDlg: asks whether a file that needs no defragmenting is moved
// anyway ("Defrag file", "Skip file", "Cancel"), with the check box
// "Repeat for remaining file selections.".
#pragma once

#include <windows.h>

#include <string>

#include "pages/defrag_prompt.h"

namespace vt {

class CDefragErrorDlg {
 public:
  explicit CDefragErrorDlg(const std::string& text) : m_prompt(text) {}
  // Modal to `owner` (the desktop when null); IDYES, IDNO or IDCANCEL.
  int DoModal(HWND owner);
  bool Repeat() const { return m_prompt.Repeat(); }

 private:
  static INT_PTR CALLBACK DialogProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
  CDefragPrompt m_prompt;
};

}  // namespace vt
