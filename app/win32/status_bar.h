// The main window's status bar: three panes and, in pane 0, the progress
// bar with its text drawn over it. UM_PROGRESS lands here.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace vt {

class CStatusBar {
 public:
  void Create(HWND parent);
  HWND Handle() const { return m_hBar; }
  // The panes for the parent's client width, the progress bar over pane 0.
  void Layout(int clientWidth);
  // One UM_PROGRESS code with its argument (a text or the address of a u64).
  void OnProgress(WPARAM code, LPARAM arg);

 private:
  void SetPane(int pane, const std::string& text);
  void SetBarText(const std::string& text);
  void Invalidate();

  HWND m_hBar = nullptr;
  HWND m_hProgress = nullptr;
  int m_nClientWidth = 0;
  int m_nMiddleWidth = 0;  // what pane 1's text needs
};

}  // namespace vt
