#include "report/win32/report_dlg.h"

#include <richedit.h>

#include "app/settings_file.h"
#include "app/win32/pellworth_app.h"
#include "platform/settings_folder.h"
#include "report/log_files.h"
#include "resources/resource.h"

namespace vt {

namespace {
// Sent by the writers so the pane is redrawn on the window's thread.
constexpr UINT WM_REPORT_CHANGED = WM_APP + 40;
}  // namespace

HWND CReportDlg::Create(HWND parent) {
  m_hWnd = ::CreateDialogParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_REPORT_PAGE),
                                parent, &CReportDlg::DialogProc, reinterpret_cast<LPARAM>(this));
  return m_hWnd;
}

void CReportDlg::AddHeading(const std::string& action) {
  m_doc.AddHeading(action);
  Changed();
}
void CReportDlg::AddLine(const std::string& label, const std::string& value) {
  m_doc.AddLine(label, value);
  Changed();
}
void CReportDlg::AddNumberLine(const std::string& label, uint64_t number) {
  m_doc.AddNumberLine(label, number);
  Changed();
}
void CReportDlg::AddBold(const std::string& text) {
  m_doc.AddBold(text);
  Changed();
}
void CReportDlg::AddFileList(CGrowableArray<CFileErrors>& errors) {
  m_doc.AddFileList(errors);
  Changed();
}
void CReportDlg::ClearReport() {
  m_doc.ClearReport();
  Changed();
}

void CReportDlg::Changed() {
  if (m_hWnd) ::SendMessageA(m_hWnd, WM_REPORT_CHANGED, 0, 0);
}

void CReportDlg::Render() {
  // A new report while the day's log is shown joins the document to be saved.
  m_bLogLoaded = false;
  m_pane.StreamIn(m_doc.IsEmpty() ? std::string() : m_doc.Rtf());
  m_pane.ScrollToEnd();
}

bool CReportDlg::LoggingOn() const { return SettingsFile().SaveLogFiles(); }

void CReportDlg::SaveLog() {
  if (m_bLogLoaded || m_doc.IsEmpty()) return;
  const std::string folder = SettingsFolder();
  if (folder.empty()) return;
  CLogFiles(folder).SaveReport(m_doc);
}

void CReportDlg::OnShowPage(bool shown) {
  if (!LoggingOn()) {
    CloseViewer();
    return;
  }
  if (shown) {
    CloseViewer();
    SaveLog();
    m_doc.ClearReport();
    m_pane.StreamIn(std::string());
    m_bLogLoaded = false;
    const std::string folder = SettingsFolder();
    if (!folder.empty()) {
      CLogFiles logs(folder);
      std::string bytes;
      if (logs.ReadLog(logs.TodaysLogName(), &bytes, nullptr) == LogReadResult::Ok) {
        m_pane.StreamIn(bytes);
        m_pane.ScrollToEnd();
        m_bLogLoaded = true;
      }
    }
    FillLogList();
  } else if (m_bLogLoaded) {
    m_pane.StreamIn(std::string());
    m_bLogLoaded = false;
  }
}

void CReportDlg::Grow(int dx, int dy) {
  for (HWND w : {m_pane.Handle(), m_viewer.Handle()}) {
    if (!w) continue;
    RECT r;
    ::GetWindowRect(w, &r);
    ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
    ::MoveWindow(w, r.left, r.top, r.right - r.left + dx, r.bottom - r.top + dy, TRUE);
  }
}

void CReportDlg::FillLogList() {
  HWND list = ::GetDlgItem(m_hWnd, IDC_LOG_LIST);
  ::SendMessageA(list, CB_RESETCONTENT, 0, 0);
  const std::string folder = SettingsFolder();
  std::vector<std::string> names;
  if (!folder.empty()) names = CLogFiles(folder).ListLogs();
  for (const auto& n : names)
    ::SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(n.c_str()));
  const LRESULT count = ::SendMessageA(list, CB_GETCOUNT, 0, 0);
  if (count > 0) ::SendMessageA(list, CB_SETCURSEL, count - 1, 0);
  ::EnableWindow(::GetDlgItem(m_hWnd, IDC_DELETE_LOGS), count > 0);
  ::EnableWindow(::GetDlgItem(m_hWnd, IDC_VIEW_LOG), count > 0);
}

void CReportDlg::CloseViewer() {
  if (!m_viewer.Handle()) return;
  m_viewer.Destroy();
  ::ShowWindow(m_pane.Handle(), SW_SHOW);
  ::SetDlgItemTextA(m_hWnd, IDC_VIEW_LOG, "View log");
}

void CReportDlg::ViewSelectedLog() {
  HWND list = ::GetDlgItem(m_hWnd, IDC_LOG_LIST);
  const LRESULT sel = ::SendMessageA(list, CB_GETCURSEL, 0, 0);
  if (sel < 0) return;
  char name[MAX_PATH] = {};
  if (::SendMessageA(list, CB_GETLBTEXTLEN, sel, 0) >= static_cast<LRESULT>(sizeof(name))) return;
  ::SendMessageA(list, CB_GETLBTEXT, sel, reinterpret_cast<LPARAM>(name));
  const std::string folder = SettingsFolder();
  if (folder.empty()) return;
  CLogFiles logs(folder);
  if (logs.IsTodaysLog(name)) return;  // the pane shows it already
  std::string bytes;
  if (logs.ReadLogForViewing(name, App().Prompt(), &bytes) != LogReadResult::Ok) return;
  CloseViewer();
  RECT r;
  ::GetWindowRect(m_pane.Handle(), &r);
  ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
  if (!m_viewer.Create(m_hWnd, IDC_LOG_VIEWER, r,
                       WS_CHILD | WS_VISIBLE | WS_BORDER | WS_HSCROLL | WS_VSCROLL | ES_MULTILINE |
                           ES_AUTOVSCROLL | ES_AUTOHSCROLL))
    return;
  ::SendMessageA(m_viewer.Handle(), WM_SETFONT, ::SendMessageA(m_hWnd, WM_GETFONT, 0, 0), 0);
  ::SendMessageA(m_viewer.Handle(), EM_SETBKGNDCOLOR, 0, RGB(0xF0, 0xF0, 0xF0));
  m_viewer.StreamIn(bytes);
  ::SetFocus(m_viewer.Handle());
  ::ShowWindow(m_pane.Handle(), SW_HIDE);
  ::SetDlgItemTextA(m_hWnd, IDC_VIEW_LOG, "Close log");
}

void CReportDlg::ViewOrCloseLog() {
  if (m_viewer.Handle()) {
    CloseViewer();
    HWND list = ::GetDlgItem(m_hWnd, IDC_LOG_LIST);
    const LRESULT count = ::SendMessageA(list, CB_GETCOUNT, 0, 0);
    if (count > 0) ::SendMessageA(list, CB_SETCURSEL, count - 1, 0);
    return;
  }
  ViewSelectedLog();
}

void CReportDlg::DeleteLogs() {
  const std::string folder = SettingsFolder();
  if (folder.empty()) return;
  if (CLogFiles(folder).DeleteAllLogs(App().Prompt()) == LogDeleteResult::Cancelled) return;
  ::SendDlgItemMessageA(m_hWnd, IDC_LOG_LIST, CB_RESETCONTENT, 0, 0);
  ::EnableWindow(::GetDlgItem(m_hWnd, IDC_DELETE_LOGS), FALSE);
  ::EnableWindow(::GetDlgItem(m_hWnd, IDC_VIEW_LOG), FALSE);
}

void CReportDlg::ShowMenu() {
  HMENU menu = ::LoadMenuA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDM_REPORT));
  if (!menu) return;
  HMENU popup = ::GetSubMenu(menu, 0);
  if (m_viewer.Handle()) ::EnableMenuItem(popup, ID_CLEAR_REPORT, MF_BYCOMMAND | MF_GRAYED);
  POINT pt;
  ::GetCursorPos(&pt);
  ::SetForegroundWindow(m_hWnd);
  const UINT cmd =
      ::TrackPopupMenu(popup, TPM_NONOTIFY | TPM_RETURNCMD, pt.x + 20, pt.y, 0, m_hWnd, nullptr);
  ::PostMessageA(m_hWnd, WM_NULL, 0, 0);
  ::DestroyMenu(menu);
  if (cmd == ID_CLEAR_REPORT) {
    const std::string folder = SettingsFolder();
    if (!folder.empty()) CLogFiles(folder).DeleteTodaysLog();
    m_doc.ClearReport();
    m_pane.StreamIn(std::string());
    m_bLogLoaded = false;
  } else if (cmd == ID_COPY_REPORT) {
    HWND target = m_viewer.Handle() ? m_viewer.Handle() : m_pane.Handle();
    DWORD start = 0, end = 0;
    ::SendMessageA(target, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                   reinterpret_cast<LPARAM>(&end));
    ::SendMessageA(target, EM_SETSEL, 0, -1);
    ::SendMessageA(target, WM_COPY, 0, 0);
    ::SendMessageA(target, EM_SETSEL, start, end);
  }
}

INT_PTR CALLBACK CReportDlg::DialogProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  CReportDlg* self;
  if (msg == WM_INITDIALOG) {
    self = reinterpret_cast<CReportDlg*>(lParam);
    ::SetWindowLongPtrA(wnd, DWLP_USER, lParam);
    self->m_hWnd = wnd;
  } else {
    self = reinterpret_cast<CReportDlg*>(::GetWindowLongPtrA(wnd, DWLP_USER));
  }
  return self ? self->OnMessage(msg, wParam, lParam) : FALSE;
}

INT_PTR CReportDlg::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_INITDIALOG: {
      m_pane.Attach(::GetDlgItem(m_hWnd, IDC_REPORT_PANE));
      m_pane.SetLeftMargin(10);
      ::SendMessageA(m_pane.Handle(), EM_SETREADONLY, TRUE, 0);
      ::SendMessageA(m_pane.Handle(), EM_SETEVENTMASK, 0, ENM_MOUSEEVENTS);
      FillLogList();
      ::CheckDlgButton(m_hWnd, IDC_SAVE_LOGS, LoggingOn() ? BST_CHECKED : BST_UNCHECKED);
      Render();
      return TRUE;
    }
    case WM_REPORT_CHANGED:
      Render();
      return TRUE;
    case WM_NOTIFY: {
      const NMHDR* hdr = reinterpret_cast<const NMHDR*>(lParam);
      if (hdr->idFrom == IDC_REPORT_PANE && hdr->code == EN_MSGFILTER &&
          reinterpret_cast<const MSGFILTER*>(lParam)->msg == WM_RBUTTONDOWN) {
        ShowMenu();
        return TRUE;
      }
      return FALSE;
    }
    case WM_RBUTTONDOWN:
      ShowMenu();
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_SAVE_LOGS:
          SettingsFile().SetSaveLogFiles(::IsDlgButtonChecked(m_hWnd, IDC_SAVE_LOGS) ==
                                         BST_CHECKED);
          return TRUE;
        case IDC_VIEW_LOG:
          ViewOrCloseLog();
          return TRUE;
        case IDC_DELETE_LOGS:
          DeleteLogs();
          return TRUE;
        case IDC_LOG_LIST:
          if (HIWORD(wParam) == CBN_SELCHANGE) {
            CloseViewer();
            ViewSelectedLog();
          }
          return TRUE;
      }
      return FALSE;
  }
  return FALSE;
}

}  // namespace vt
