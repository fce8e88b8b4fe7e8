// CSchedulerDlg: the "Scheduler" page of the options sheet, over the
// CSchedulerPage controller.
#pragma once

#include <windows.h>

#include "pages/scheduler_page.h"
#include "widgets/check_combo.h"

namespace vt {

// The password kept with the user's data-protection key (CryptProtectData).
class CDataProtector : public ISecretProtector {
 public:
  bool Protect(const std::string& clear, std::string* blob) override;
  bool Unprotect(const std::string& blob, std::string* clear) override;
};

// The task "Vantrel" through Task Scheduler 1.0 or Brakwater.dll, as the
// Windows version says.
class CWindowsScheduleService : public IScheduleService {
 public:
  // The window that owns the task library's messages (the options sheet).
  void SetOwner(HWND owner) { m_hOwner = owner; }
  bool VistaDefragActive() override;
  HRESULT CreateTask(const CScheduleFields& fields, std::string* error) override;
  void RemoveTask() override;

 private:
  HWND m_hOwner = nullptr;
};

class CSchedulerDlg {
 public:
  static INT_PTR CALLBACK Proc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);

 private:
  INT_PTR OnMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
  void OnInit();
  void EnableControls();
  void ReadControls();
  BOOL Apply();

  HWND m_hWnd = nullptr;
  CSchedulerPage m_page;
  CCheckCombo m_days;
  CCheckCombo m_drives;
  CDataProtector m_protector;
  CWindowsScheduleService m_service;
  bool m_bInitialised = false;
};

}  // namespace vt
