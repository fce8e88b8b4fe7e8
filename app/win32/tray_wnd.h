// CSysTray: the scheduled run's only window, an invisible tool window with
// an icon in the notification area. Its menu offers "Cancel Defrag"; the
// worker defragments the chosen drives and closes it, which ends the
// program.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "pages/scheduled_run.h"

namespace vt {

class CSysTray : public IScheduledRunView {
 public:
  CSysTray();
  ~CSysTray() override;
  CSysTray(const CSysTray&) = delete;
  CSysTray& operator=(const CSysTray&) = delete;

  // The invisible window; false when it cannot be made.
  bool Create();
  HWND Handle() const { return m_hWnd; }
  // Shell_NotifyIcon NIM_ADD with icon 128 and the tip "Vantrel".
  bool AddIcon();
  // The hidden report page, then the worker thread.
  void StartScheduledRun();

  // From the worker: the tip, and NIM_MODIFY while the icon exists.
  void SetTip(const std::string& text) override;

 private:
  static LRESULT CALLBACK WindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
  void OnTrayMessage(LPARAM mouse);
  static DWORD WINAPI Worker(LPVOID self);

  HWND m_hWnd = nullptr;
  NOTIFYICONDATAA m_nid = {};
  bool m_bIconAdded = false;
  HANDLE m_hThread = nullptr;
};

// The registered message of the tray icon ("VTRTaskbarMsg").
UINT TaskbarMessage();

}  // namespace vt
