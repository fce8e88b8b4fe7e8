#include "report/win32/report_dlg.h"

#include <richedit.h>

#include "app/settings_file.h"
#include "platform/settings_folder.h"
#include "resources/resource.h"
#include "widgets/dialog_base.h"

namespace vt {

namespace {
// Sent by the writers so the pane is redrawn on the window's thread.
constexpr UINT WM_REPORT_CHANGED = UM_REPORT_CHANGED;
}  // namespace

std::string CReportDlg::CHost::LogFolder() { return SettingsFolder(); }
bool CReportDlg::CHost::LoggingOn() { return SettingsFile().SaveLogFiles(); }
void CReportDlg::CHost::SetLoggingOn(bool on) { SettingsFile().SetSaveLogFiles(on); }

CReportDlg::CReportDlg(IPrompt& prompt) : m_host(prompt), m_page(m_host) {}

HWND CReportDlg::Create(HWND parent) {
  m_hWnd = ::CreateDialogParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_REPORT_PAGE),
                                parent, &CReportDlg::DialogProc, reinterpret_cast<LPARAM>(this));
  return m_hWnd;
}

void CReportDlg::AddHeading(const std::string& action) {
  m_page.Document().AddHeading(action);
  Changed();
}
void CReportDlg::AddStoppedHeading(const std::string& action) {
  m_page.Document().AddStoppedHeading(action);
  Changed();
}
void CReportDlg::AddFailedHeading(const std::string& action) {
  m_page.Document().AddFailedHeading(action);
  Changed();
}
void CReportDlg::AddLine(const std::string& label, const std::string& value) {
  m_page.Document().AddLine(label, value);
  Changed();
}
void CReportDlg::AddNumberLine(const std::string& label, uint64_t number) {
  m_page.Document().AddNumberLine(label, number);
  Changed();
}
void CReportDlg::AddBold(const std::string& text) {
  m_page.Document().AddBold(text);
  Changed();
}
void CReportDlg::AddFileList(CGrowableArray<CFileErrors>& errors) {
  m_page.Document().AddFileList(errors);
  Changed();
}
void CReportDlg::ClearReport() {
  m_page.Document().ClearReport();
  Changed();
}

void CReportDlg::Changed() {
  if (m_hWnd) ::SendMessageA(m_hWnd, WM_REPORT_CHANGED, 0, 0);
}

void CReportDlg::SaveLog() { m_page.SaveLog(); }

void CReportDlg::OnShowPage(bool shown) {
  m_page.OnShowPage(shown);
  Show();
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

void CReportDlg::Show() {
  if (!m_hWnd) return;
  if (m_nPaneShown != m_page.PaneVersion()) {
    m_nPaneShown = m_page.PaneVersion();
    m_pane.StreamIn(m_page.PaneBytes());
    m_pane.ScrollToEnd();
  }
  if (m_nListShown != m_page.ListVersion()) {
    m_nListShown = m_page.ListVersion();
    HWND list = ::GetDlgItem(m_hWnd, IDC_LOG_LIST);
    ::SendMessageA(list, CB_RESETCONTENT, 0, 0);
    for (const std::string& n : m_page.Logs())
      ::SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(n.c_str()));
    ::SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(m_page.SelectedLog()), 0);
  }
  ::EnableWindow(::GetDlgItem(m_hWnd, IDC_DELETE_LOGS), m_page.LogButtonsEnabled());
  ::EnableWindow(::GetDlgItem(m_hWnd, IDC_VIEW_LOG), m_page.LogButtonsEnabled());
  if (m_nViewerShown != m_page.ViewerVersion()) {
    m_nViewerShown = m_page.ViewerVersion();
    ShowViewer();
  }
}

void CReportDlg::ShowViewer() {
  if (m_viewer.Handle()) m_viewer.Destroy();
  if (m_page.ViewerShown()) {
    RECT r;
    ::GetWindowRect(m_pane.Handle(), &r);
    ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
    if (m_viewer.Create(m_hWnd, IDC_LOG_VIEWER, r,
                        WS_CHILD | WS_VISIBLE | WS_BORDER | WS_HSCROLL | WS_VSCROLL | ES_MULTILINE |
                            ES_AUTOVSCROLL | ES_AUTOHSCROLL)) {
      ::SendMessageA(m_viewer.Handle(), WM_SETFONT, ::SendMessageA(m_hWnd, WM_GETFONT, 0, 0), 0);
      ::SendMessageA(m_viewer.Handle(), EM_SETBKGNDCOLOR, 0, RGB(0xF0, 0xF0, 0xF0));
      // Its right clicks come to the page as the pane's do.
      ::SendMessageA(m_viewer.Handle(), EM_SETEVENTMASK, 0, ENM_MOUSEEVENTS);
      m_viewer.StreamIn(m_page.ViewerBytes());
      ::SetFocus(m_viewer.Handle());
      ::ShowWindow(m_pane.Handle(), SW_HIDE);
    } else {
      m_page.CloseViewer();
      m_nViewerShown = m_page.ViewerVersion();
    }
  }
  if (!m_viewer.Handle()) ::ShowWindow(m_pane.Handle(), SW_SHOW);
  ::SetDlgItemTextA(m_hWnd, IDC_VIEW_LOG, m_page.ViewButtonText());
}

void CReportDlg::CopyShownText() {
  HWND target = m_viewer.Handle() ? m_viewer.Handle() : m_pane.Handle();
  DWORD start = 0, end = 0;
  ::SendMessageA(target, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
  ::SendMessageA(target, EM_SETSEL, 0, -1);
  ::SendMessageA(target, WM_COPY, 0, 0);
  ::SendMessageA(target, EM_SETSEL, start, end);
}

void CReportDlg::ShowMenu() {
  HMENU menu = ::LoadMenuA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDM_REPORT));
  if (!menu) return;
  HMENU popup = ::GetSubMenu(menu, 0);
  if (!m_page.ClearReportEnabled())
    ::EnableMenuItem(popup, ID_CLEAR_REPORT, MF_BYCOMMAND | MF_GRAYED);
  POINT pt;
  ::GetCursorPos(&pt);
  ::SetForegroundWindow(m_hWnd);
  const UINT cmd =
      ::TrackPopupMenu(popup, TPM_NONOTIFY | TPM_RETURNCMD, pt.x + 20, pt.y, 0, m_hWnd, nullptr);
  ::PostMessageA(m_hWnd, WM_NULL, 0, 0);
  ::DestroyMenu(menu);
  if (cmd == ID_CLEAR_REPORT) {
    m_page.ClearReportCommand();
    Show();
  } else if (cmd == ID_COPY_REPORT) {
    CopyShownText();
  }
}

INT_PTR CALLBACK CReportDlg::DialogProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  CReportDlg* self = DialogObject(wnd, msg, lParam, &CReportDlg::m_hWnd);
  return self ? self->OnMessage(msg, wParam, lParam) : FALSE;
}

INT_PTR CReportDlg::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_INITDIALOG: {
      m_pane.Attach(::GetDlgItem(m_hWnd, IDC_REPORT_PANE));
      m_pane.SetLeftMargin(10);
      ::SendMessageA(m_pane.Handle(), EM_SETREADONLY, TRUE, 0);
      ::SendMessageA(m_pane.Handle(), EM_SETEVENTMASK, 0, ENM_MOUSEEVENTS);
      m_page.Init();
      ::CheckDlgButton(m_hWnd, IDC_SAVE_LOGS, m_page.LoggingOn() ? BST_CHECKED : BST_UNCHECKED);
      Show();
      return TRUE;
    }
    case WM_REPORT_CHANGED:
      m_page.OnReportChanged();
      Show();
      return TRUE;
    case WM_NOTIFY: {
      const NMHDR* hdr = reinterpret_cast<const NMHDR*>(lParam);
      if ((hdr->idFrom == IDC_REPORT_PANE || hdr->idFrom == IDC_LOG_VIEWER) &&
          hdr->code == EN_MSGFILTER &&
          reinterpret_cast<const MSGFILTER*>(lParam)->msg == WM_RBUTTONDOWN) {
        ShowMenu();
        // The control itself does nothing more with the click.
        ::SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, 1);
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
          m_page.SetLoggingOn(::IsDlgButtonChecked(m_hWnd, IDC_SAVE_LOGS) == BST_CHECKED);
          return TRUE;
        case IDC_VIEW_LOG:
          m_page.ViewOrCloseLog();
          Show();
          return TRUE;
        case IDC_DELETE_LOGS:
          m_page.DeleteLogs();
          Show();
          return TRUE;
        case IDC_LOG_LIST:
          if (HIWORD(wParam) == CBN_SELCHANGE) {
            m_page.OnLogSelected(
                static_cast<int>(::SendDlgItemMessageA(m_hWnd, IDC_LOG_LIST, CB_GETCURSEL, 0, 0)));
            Show();
          }
          return TRUE;
      }
      return FALSE;
  }
  return FALSE;
}

}  // namespace vt
