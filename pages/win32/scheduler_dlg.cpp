#include "pages/win32/scheduler_dlg.h"

#include <commctrl.h>
#include <objbase.h>
#include <prsht.h>
#include <shellapi.h>
#include <wincrypt.h>

#include <string>

#include "app/settings_file.h"
#include "app/win32/pellworth_app.h"
#include "pages/drive_page.h"
#include "pages/scheduled_run.h"
#include "pages/win32/options_sheet.h"
#include "resources/resource.h"
#include "schedule/scheduled_task.h"
#include "tasklib/schedule_request.h"
#include "widgets/dialog_base.h"

namespace vt {

bool CDataProtector::Protect(const std::string& clear, std::string* blob) {
  DATA_BLOB in = {static_cast<DWORD>(clear.size()),
                  reinterpret_cast<BYTE*>(const_cast<char*>(clear.data()))};
  DATA_BLOB out = {};
  if (!::CryptProtectData(&in, L"Vantrel", nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                          &out))
    return false;
  blob->assign(reinterpret_cast<const char*>(out.pbData), out.cbData);
  ::LocalFree(out.pbData);
  return true;
}

bool CDataProtector::Unprotect(const std::string& blob, std::string* clear) {
  DATA_BLOB in = {static_cast<DWORD>(blob.size()),
                  reinterpret_cast<BYTE*>(const_cast<char*>(blob.data()))};
  DATA_BLOB out = {};
  if (!::CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                            &out))
    return false;
  clear->assign(reinterpret_cast<const char*>(out.pbData), out.cbData);
  ::SecureZeroMemory(out.pbData, out.cbData);
  ::LocalFree(out.pbData);
  return true;
}

bool CWindowsScheduleService::VistaDefragActive() {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!::GetVersionExA(&version)) return false;
#pragma GCC diagnostic pop
  if (version.dwPlatformId != VER_PLATFORM_WIN32_NT || version.dwMajorVersion <= 5) return false;
  const std::string path = CPellworthApp::ProgramFolder() + kTaskLibraryName;
  HMODULE lib = ::LoadLibraryA(path.c_str());
  if (!lib) return false;
  bool active = false;
  if (auto fn = ExportAs<EnableVistaDefragProc>(::GetProcAddress(lib, kEnableVistaDefragExport))) {
    int32_t enabled = 0;
    const int32_t queryOnly = 1;
    active = SUCCEEDED(fn(&enabled, &queryOnly)) && enabled != 0;
  }
  ::FreeLibrary(lib);
  return active;
}

HRESULT CWindowsScheduleService::CreateTask(const CScheduleFields& fields, std::string* error) {
  CWindowPrompt prompt(m_hOwner);
  CScheduledTask task(prompt);
  char path[MAX_PATH * 4] = {};
  const DWORD n = ::GetModuleFileNameA(nullptr, path, sizeof(path));
  std::string program(path, n);
  char shortPath[MAX_PATH * 4] = {};
  const DWORD s = ::GetShortPathNameA(program.c_str(), shortPath, sizeof(shortPath));
  if (s > 0 && s < sizeof(shortPath)) program = shortPath;
  task.SetApplication(program);
  task.SetParameters("/auto");
  const size_t slash = program.find_last_of('\\');
  task.SetWorkingDirectory(slash == std::string::npos ? std::string() : program.substr(0, slash));
  task.SetComment("Vantrel");
  task.SetDaysOfWeek(fields.m_nDays);
  task.SetWeeksInterval(fields.m_nWeeks);
  task.SetRunOnlyIfIdle(fields.m_nIdle);
  task.SetTriggerKind(kTriggerWeekly);
  task.SetStart(fields.m_stStart);
  task.SetAccount(fields.m_strAccount);
  task.SetPassword(fields.m_strPassword);
  const HRESULT hr = task.CreateTask("Vantrel", false);
  if (hr != 0) *error = task.GetErrorText();
  return hr;
}

void CWindowsScheduleService::RemoveTask() {
  CWindowPrompt prompt(m_hOwner);
  CScheduledTask task(prompt);
  task.RemoveTask("Vantrel");
}

INT_PTR CALLBACK CSchedulerDlg::Proc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* self = PageObject<CSchedulerDlg>(wnd, msg, lParam);
  return self ? self->OnMessage(wnd, msg, wParam, lParam) : FALSE;
}

void CSchedulerDlg::OnInit() {
  // The fixed drives, through the volume layer (real drives, or the image
  // volumes the program was started on).
  std::vector<CScheduleDriveItem> items;
  const UINT oldMode = ::SetErrorMode(SEM_FAILCRITICALERRORS);
  for (const CDriveData& drive :
       EnumerateDrives(App().Volumes(), CEnumerateOptions(), App().Prompt())) {
    CScheduleDriveItem item;
    item.m_nIndex = DriveLetterIndex(drive);
    SHFILEINFOA info = {};
    if (::SHGetFileInfoA(drive.m_strDrive.c_str(), 0, &info, sizeof(info), 0x4201) ||
        ::SHGetFileInfoA(drive.m_strDrive.c_str(), 0, &info, sizeof(info), 0x4601))
      item.m_strText = info.szDisplayName;
    // An unlabelled volume's name starts with a blank before "(C:)".
    item.m_strText.erase(0, item.m_strText.find_first_not_of(' '));
    if (item.m_strText.empty()) item.m_strText = drive.m_strDrive;
    items.push_back(item);
  }
  ::SetErrorMode(oldMode);
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  m_page.Load(SettingsFile(), m_protector, items, now);

  ::CheckDlgButton(m_hWnd, IDC_SCHEDULE_ON, m_page.On() ? BST_CHECKED : BST_UNCHECKED);
  m_days.Attach(::GetDlgItem(m_hWnd, IDC_SCHEDULE_DAYS));
  for (int day = 0; day < 7; ++day) m_days.AddItem(kWeekdayNames[day], day, m_page.DayChecked(day));
  m_days.Show(m_page.ShownDay());
  ::SetDlgItemTextA(m_hWnd, IDC_SCHEDULE_ACCOUNT, m_page.Account().c_str());
  ::SetDlgItemTextA(m_hWnd, IDC_SCHEDULE_PASSWORD, m_page.Password().c_str());
  ::SetDlgItemTextA(m_hWnd, IDC_SCHEDULE_RECUR, m_page.RecurText().c_str());
  ::CheckDlgButton(m_hWnd, IDC_SCHEDULE_IDLE, m_page.Idle() ? BST_CHECKED : BST_UNCHECKED);
  SYSTEMTIME start = m_page.Start();
  ::SendDlgItemMessageA(m_hWnd, IDC_SCHEDULE_TIME, DTM_SETSYSTEMTIME, GDT_VALID,
                        reinterpret_cast<LPARAM>(&start));
  m_drives.Attach(::GetDlgItem(m_hWnd, IDC_SCHEDULE_DRIVES));
  for (const auto& drive : m_page.Drives())
    m_drives.AddItem(drive.m_strText.c_str(), drive.m_nIndex, drive.m_bChecked);
  m_drives.ShowFirstChecked();
  HWND spin = ::GetDlgItem(m_hWnd, IDC_SCHEDULE_RECUR_SPIN);
  ::SendMessageA(spin, UDM_SETBUDDY,
                 reinterpret_cast<WPARAM>(::GetDlgItem(m_hWnd, IDC_SCHEDULE_RECUR)), 0);
  ::SendMessageA(spin, UDM_SETRANGE32, 1, 52);
  EnableControls();
  m_bInitialised = true;
}

void CSchedulerDlg::EnableControls() {
  const bool on = ::IsDlgButtonChecked(m_hWnd, IDC_SCHEDULE_ON) == BST_CHECKED;
  for (int id : {IDC_SCHEDULE_DAYS, IDC_SCHEDULE_DRIVES, IDC_SCHEDULE_IDLE, IDC_SCHEDULE_PASSWORD,
                 IDC_SCHEDULE_RECUR, IDC_SCHEDULE_ACCOUNT, IDC_SCHEDULE_TIME})
    ::EnableWindow(::GetDlgItem(m_hWnd, id), on);
}

void CSchedulerDlg::ReadControls() {
  auto text = [this](int id) {
    char buffer[1024] = {};
    ::GetDlgItemTextA(m_hWnd, id, buffer, sizeof(buffer));
    return std::string(buffer);
  };
  m_page.SetOn(::IsDlgButtonChecked(m_hWnd, IDC_SCHEDULE_ON) == BST_CHECKED);
  for (int day = 0; day < 7; ++day) m_page.SetDayChecked(day, m_days.IsChecked(day));
  auto& drives = m_page.Drives();
  for (int i = 0; i < m_drives.Count() && static_cast<size_t>(i) < drives.size(); ++i)
    drives[i].m_bChecked = m_drives.IsChecked(i);
  m_page.SetIdle(::IsDlgButtonChecked(m_hWnd, IDC_SCHEDULE_IDLE) == BST_CHECKED);
  m_page.SetRecurText(text(IDC_SCHEDULE_RECUR));
  SYSTEMTIME start = {};
  if (::SendDlgItemMessageA(m_hWnd, IDC_SCHEDULE_TIME, DTM_GETSYSTEMTIME, 0,
                            reinterpret_cast<LPARAM>(&start)) == GDT_VALID)
    m_page.SetStart(start);
  m_page.SetAccount(text(IDC_SCHEDULE_ACCOUNT));
  m_page.SetPassword(text(IDC_SCHEDULE_PASSWORD));
}

BOOL CSchedulerDlg::Apply() {
  ReadControls();
  SettingsFile settings;
  int focus = 0;
  const HRESULT com = ::CoInitialize(nullptr);
  // Its boxes belong to the sheet, which stays modal over the main window.
  HWND sheet = ::GetParent(m_hWnd);
  CWindowPrompt prompt(sheet);
  m_service.SetOwner(sheet);
  const int accepted = m_page.Apply(settings, m_service, m_protector, prompt, &focus);
  if (SUCCEEDED(com)) ::CoUninitialize();
  // ApplySchedule unchecks the switch when the task could not be made.
  ::CheckDlgButton(m_hWnd, IDC_SCHEDULE_ON, m_page.On() ? BST_CHECKED : BST_UNCHECKED);
  EnableControls();
  if (!accepted && focus) ::SetFocus(::GetDlgItem(m_hWnd, focus));
  return accepted != 0;
}

INT_PTR CSchedulerDlg::OnMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (PageHelp(msg, wParam, lParam, "SchedulerTab.htm")) return TRUE;
  switch (msg) {
    case WM_INITDIALOG:
      m_hWnd = wnd;
      OnInit();
      return TRUE;
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      return m_days.DrawItem(item) || m_drives.DrawItem(item);
    }
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      if (id == IDC_SCHEDULE_DAYS && HIWORD(wParam) == CBN_CLOSEUP) {
        for (int day = 0; day < 7; ++day) m_page.SetDayChecked(day, m_days.IsChecked(day));
        m_days.Show(m_page.ShownDay());
      }
      if (id == IDC_SCHEDULE_DRIVES && HIWORD(wParam) == CBN_CLOSEUP) m_drives.ShowFirstChecked();
      if (m_bInitialised) {
        switch (id) {
          case IDC_SCHEDULE_ON:
          case IDC_SCHEDULE_ACCOUNT:
          case IDC_SCHEDULE_PASSWORD:
          case IDC_SCHEDULE_RECUR:
          case IDC_SCHEDULE_DAYS:
          case IDC_SCHEDULE_DRIVES:
          case IDC_SCHEDULE_TIME:
          case IDC_SCHEDULE_IDLE:
            m_page.Touch();
            break;
          default:
            break;
        }
        EnableControls();
      }
      return FALSE;
    }
    case WM_NOTIFY: {
      const NMHDR* hdr = reinterpret_cast<const NMHDR*>(lParam);
      if (hdr->idFrom == IDC_SCHEDULE_TIME && hdr->code == DTN_DATETIMECHANGE && m_bInitialised)
        m_page.Touch();
      if (hdr->code == PSN_APPLY) {
        ::SetWindowLongPtrA(wnd, DWLP_MSGRESULT,
                            Apply() ? PSNRET_NOERROR : PSNRET_INVALID_NOCHANGEPAGE);
        return TRUE;
      }
      return FALSE;
    }
    default:
      return FALSE;
  }
}

}  // namespace vt
