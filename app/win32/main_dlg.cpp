#include "app/win32/main_dlg.h"

#include <windows.h>
#include <commctrl.h>

#include <memory>

#include "app/settings_file.h"
#include "app/startup.h"
#include "app/win32/main_dlg_parts.h"
#include "app/win32/pellworth_app.h"
#include "app/win32/splitter_bar.h"
#include "engine/globals.h"
#include "pages/drive_page.h"
#include "platform/win32/win32_window_placement.h"
#include "report/win32/report_dlg.h"
#include "resources/resource.h"

namespace vt {

namespace {

const char* kTabTitles[] = {"Drives", "Fragmented Files", "Report", "Help"};
constexpr int kStartWidth = 840;
// Polls for the end of the operation that asked for a free-space pass.
constexpr UINT_PTR kFreeSpaceTimer = 1;

}  // namespace

CMainDlg::CMainDlg(CSharedWindows& shared)
    : m_shared(shared),
      m_drivePage(shared.m_drivePage),
      m_map(shared.m_map),
      m_strip(shared.m_strip),
      m_graph(shared.m_graph),
      m_filePage(shared.m_filePage) {}

INT_PTR CMainDlg::Run() { return RunModal(nullptr, IDD_MAIN); }

const char* CMainDlg::HelpTopic() const {
  // F1: the help topic of the page shown.
  static const char* const kTopics[] = {"DrivesTab.htm", "FilesTab.htm", "ReportTab.htm",
                                        "HelpTab.htm"};
  return m_nTab >= 0 && m_nTab < 4 ? kTopics[m_nTab] : "index.htm";
}

void CMainDlg::SetIcons() {
  HINSTANCE inst = ::GetModuleHandleA(nullptr);
  for (int big = 0; big < 2; ++big) {
    HICON icon =
        static_cast<HICON>(::LoadImageA(inst, MAKEINTRESOURCEA(IDI_VANTREL), IMAGE_ICON,
                                        ::GetSystemMetrics(big ? SM_CXICON : SM_CXSMICON),
                                        ::GetSystemMetrics(big ? SM_CYICON : SM_CYSMICON), 0));
    ::SendMessageA(m_hWnd, WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon));
  }
}

void CMainDlg::OnInit() {
  HINSTANCE inst = ::GetModuleHandleA(nullptr);
  SetIcons();
  SetTextUtf8(m_hWnd, kMessageCaption);
  App().SetMainWindow(m_hWnd);
  App().Engine().SetProgressWindow(m_hWnd);
  m_hBackground = ::CreateSolidBrush(MainBackground());

  m_status.Create(m_hWnd);
  CreatePages();
  // The controls are laid out for the template's size from here on, so the
  // saved position's resize moves them by its change only.
  RECT client;
  ::GetClientRect(m_hWnd, &client);
  m_layout.Start(client.right, client.bottom);
  CWin32WindowPlacement placement(m_hWnd);
  SettingsFile().RestoreWindowPosition(placement);

  // The splitter bar takes the placeholder's place, across the whole width.
  HWND holder = Item(IDC_SPLITTER);
  const RECT hr = ItemRect(holder);
  ::ShowWindow(holder, SW_HIDE);
  ::GetClientRect(m_hWnd, &client);
  m_hSplitter = CreateSplitterBar(m_hWnd, 0, hr.top, client.right, Scale(5));
  UINT lines = 3;
  ::SystemParametersInfoA(SPI_GETWHEELSCROLLLINES, 0, &lines, 0);
  m_nWheelLines = lines < 1 ? 3 : static_cast<int>(lines);

  m_hBand =
      static_cast<HBITMAP>(::LoadImageA(inst, MAKEINTRESOURCEA(IDB_BAND), IMAGE_BITMAP, 0, 0, 0));
  m_legend.Attach(m_hWnd);
  Layout(client.right, client.bottom);
  // Wide enough for every column title of the drive list at the start.
  RECT window;
  ::GetWindowRect(m_hWnd, &window);
  if (window.right - window.left < kStartWidth)
    ::SetWindowPos(m_hWnd, nullptr, 0, 0, kStartWidth, window.bottom - window.top,
                   SWP_NOMOVE | SWP_NOZORDER);

  ::SendMessageA(Item(IDC_BLOCK_SLIDER), TBM_SETRANGE, TRUE,
                 MAKELONG(kMinBlockSize, kMaxBlockSize));
  ::SendMessageA(Item(IDC_BLOCK_SLIDER), TBM_SETPAGESIZE, 0, 1);
  m_nBlockSize = SettingsFile().BlockSize();
  m_map.SetBlockSize(m_nBlockSize);
  m_graph.Create(m_hWnd, Item(IDC_MAP_FRAME), Item(IDC_MAP_SCROLL), &m_strip);
  m_strip.Create(m_hWnd, Item(IDC_OVERVIEW_FRAME), &m_graph);
  SetMapWindow(&m_graph);
  m_graph.SetRelayout([this]() {
    m_nBlockSize = m_map.BlockSize();
    LayoutMap();
  });
  App().Engine().SetMapHost(&m_shared.m_mapHost);
  LayoutMap();
  OnRangeChanged();
  OnViewChanged();

  ::SetWindowPos(m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  ::PostMessageA(m_hWnd, UM_START_COMMAND, 0, 0);
}

void CMainDlg::CreatePages() {
  m_hTabs = Item(IDC_TABS);
  m_pages[TAB_REPORT] = App().ReportPage().Create(m_hWnd);
  m_pages[TAB_FILES] = m_filePage.Create(m_hWnd, m_hWnd);
  m_pages[TAB_DRIVES] = m_drivePage.Create(m_hWnd, m_hWnd);
  m_pages[TAB_HELP] = m_helpPage.Create(m_hWnd);
  for (int i = 0; i < 4; ++i) {
    TCITEMA item = {};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<char*>(kTabTitles[i]);
    TabCtrl_InsertItem(m_hTabs, i, &item);
  }
  // Each page fills the tab control's display area.
  RECT r = ItemRect(m_hTabs);
  TabCtrl_AdjustRect(m_hTabs, FALSE, &r);
  for (HWND page : m_pages) {
    ::ShowWindow(page, SW_HIDE);
    ::SetWindowPos(page, HWND_TOP, r.left, r.top, r.right - r.left, r.bottom - r.top, 0);
  }
  ShowTab(TAB_DRIVES);
}

// The pages' shown state is the tab logic's, not the windows' visibility,
// which reads false for every page until the main window is first shown.
void CMainDlg::ShowTab(int index) {
  TabCtrl_SetCurSel(m_hTabs, index);
  bool hide[4];
  const bool show = m_tabPages.Select(index, hide);
  for (int i = 0; i < 4; ++i) {
    if (!hide[i]) continue;
    ::ShowWindow(m_pages[i], SW_HIDE);
    if (i == TAB_REPORT) App().ReportPage().OnShowPage(false);
  }
  if (show) {
    ::ShowWindow(m_pages[index], SW_SHOW);
    if (index == TAB_REPORT) App().ReportPage().OnShowPage(true);
  }
  m_nTab = index;
}

void CMainDlg::OnTabChange() {
  const int selected = TabCtrl_GetCurSel(m_hTabs);
  const int tab = TabAfterChange(selected, m_nTab, BusyCounter().load());
  if (tab != selected) {
    TabCtrl_SetCurSel(m_hTabs, tab);
    return;
  }
  if (tab == TAB_FILES && !m_drivePage.CurrentDriveAnalysed()) {
    const int answer = App().Prompt().ShowMessage(
        "The current drive needs to be analyzed, do\nyou wish to do this now?",
        MB_YESNO | MB_ICONQUESTION);
    ShowTab(TAB_DRIVES);
    if (answer == IDYES) m_drivePage.AnalyzeCurrentDrive();
    return;
  }
  ShowTab(tab);
  if (tab == TAB_FILES) {
    if (m_filePage.IsEmpty())
      ::PostMessageA(m_hWnd, UM_FILL_FILE_LIST, 0, 0);
    else
      m_filePage.OnShowPage();
  }
}

void CMainDlg::OpenFilesRequest(const std::string& text) {
  ShowTab(TAB_FILES);
  m_filePage.HandleRequest(text);
}

// The second copy waits in SendMessage until this returns: its text is
// kept and handled from a posted message, so the copy ends at once and any
// box that follows is owned by this window.
void CMainDlg::OnCopyData(const COPYDATASTRUCT* data) {
  const std::string text = ReadHandOffBlock(data->lpData, data->cbData);
  const HandOffAction action = ChooseHandOffAction(text, BusyCounter().load());
  if (action == HandOffAction::Nothing) return;
  if (action == HandOffAction::OpenFilesPage) m_strHandOff = text;
  ::PostMessageA(m_hWnd, UM_HANDOFF_MESSAGE, static_cast<WPARAM>(action), 0);
}

void CMainDlg::OnHandOffMessage(int action) {
  switch (static_cast<HandOffAction>(action)) {
    case HandOffAction::SchedulerMessage:
      App().Prompt().ShowMessage(kSchedulerRunningText, MB_OK | MB_ICONERROR);
      break;
    case HandOffAction::BusyMessage:
      App().Prompt().ShowMessage(kWaitForOperationText, MB_OK | MB_ICONERROR);
      break;
    case HandOffAction::OpenFilesPage: {
      const std::string text = m_strHandOff;
      m_strHandOff.clear();
      if (BusyCounter().load() > 0)
        App().Prompt().ShowMessage(kWaitForOperationText, MB_OK | MB_ICONERROR);
      else
        OpenFilesRequest(text);
      break;
    }
    case HandOffAction::Nothing:
      break;
  }
}

// Posted by a file defragmentation that is still running (it holds the
// busy counter): the pass starts as soon as that operation has ended.
void CMainDlg::OnDefragFreeNow() {
  ShowTab(TAB_DRIVES);
  m_freeSpace.Request();
  if (m_freeSpace.Poll(BusyCounter().load()))
    m_drivePage.StartOperation(OP_DEFRAG_FREE);
  else
    ::SetTimer(m_hWnd, kFreeSpaceTimer, 100, nullptr);
}

void CMainDlg::OnTimer(UINT_PTR id) {
  if (id != kFreeSpaceTimer) return;
  if (!m_freeSpace.Pending()) {
    ::KillTimer(m_hWnd, kFreeSpaceTimer);
    return;
  }
  if (!m_freeSpace.Poll(BusyCounter().load())) return;
  ::KillTimer(m_hWnd, kFreeSpaceTimer);
  ShowTab(TAB_DRIVES);
  m_drivePage.StartOperation(OP_DEFRAG_FREE);
}

void CMainDlg::OnDestroy() {
  SetCancel(true);
  m_freeSpace.Drop();
  ::KillTimer(m_hWnd, kFreeSpaceTimer);
  SettingsFile settings;
  CWin32WindowPlacement placement(m_hWnd);
  settings.SaveWindowPosition(placement);
  settings.SetBlockSize(m_map.BlockSize());
  App().Engine().SetMapHost(nullptr);
  SetMapWindow(nullptr);
  if (settings.SaveLogFiles()) App().ReportPage().SaveLog();
  if (m_hBand) ::DeleteObject(m_hBand);
  if (m_hBackground) ::DeleteObject(m_hBackground);
  App().SetMainWindow(nullptr);
}

INT_PTR CMainDlg::OnCommand(WPARAM wParam) {
  switch (LOWORD(wParam)) {
    case IDC_COMPRESSED:
      m_graph.SetCompressed(::IsDlgButtonChecked(m_hWnd, IDC_COMPRESSED) == BST_CHECKED);
      OnViewChanged();
      return TRUE;
    case IDCANCEL:
      SetCancel(true);
      ::EndDialog(m_hWnd, IDCANCEL);
      return TRUE;
  }
  return FALSE;
}

INT_PTR CMainDlg::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_INITDIALOG:
      OnInit();
      return FALSE;
    case WM_ERASEBKGND:
      PaintBackground(reinterpret_cast<HDC>(wParam));
      return Result(1);
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      return OnControlColour(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_DRAWITEM:
      return m_legend.DrawSwatch(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
    case WM_SIZE:
      if (wParam != SIZE_MINIMIZED) Layout(LOWORD(lParam), HIWORD(lParam));
      return TRUE;
    case WM_GETMINMAXINFO:
      OnMinMaxInfo(reinterpret_cast<MINMAXINFO*>(lParam));
      return TRUE;
    case UM_SPLITTER_MOVED:
      OnSplitter(static_cast<int>(wParam));
      return TRUE;
    case WM_NOTIFY: {
      const NMHDR* hdr = reinterpret_cast<const NMHDR*>(lParam);
      if (hdr->idFrom == IDC_TABS && hdr->code == TCN_SELCHANGE) OnTabChange();
      return TRUE;
    }
    case WM_HSCROLL:
      if (reinterpret_cast<HWND>(lParam) == Item(IDC_BLOCK_SLIDER)) OnSlider(wParam);
      return TRUE;
    case WM_MOUSEWHEEL: {
      const int turn = static_cast<short>(HIWORD(wParam));
      m_graph.OnWheel(turn > 0 ? -m_nWheelLines : m_nWheelLines);
      return TRUE;
    }
    case WM_VSCROLL:
      if (reinterpret_cast<HWND>(lParam) == Item(IDC_MAP_SCROLL)) m_graph.OnScroll(LOWORD(wParam));
      return TRUE;
    case WM_COMMAND:
      return OnCommand(wParam);
    case WM_TIMER:
      OnTimer(static_cast<UINT_PTR>(wParam));
      return TRUE;
    case WM_CLOSE:
      SetCancel(true);
      ::EndDialog(m_hWnd, IDCANCEL);
      return TRUE;
    case WM_DESTROY:
      OnDestroy();
      return FALSE;
    case WM_COPYDATA:
      OnCopyData(reinterpret_cast<const COPYDATASTRUCT*>(lParam));
      return Result(TRUE);
    case UM_HANDOFF_MESSAGE:
      OnHandOffMessage(static_cast<int>(wParam));
      return TRUE;
    case UM_DRIVE_UPDATE:
      m_drivePage.RefreshCurrentRow();
      return TRUE;
    case UM_FILL_FILE_LIST:
      m_filePage.Refresh();
      return TRUE;
    case UM_DEFRAG_FREE_NOW:
      OnDefragFreeNow();
      return TRUE;
    case UM_RANGE_CHANGED:
      OnRangeChanged();
      return TRUE;
    case UM_VIEW_CHANGED:
      OnViewChanged();
      return TRUE;
    case UM_SHOW_REPORT:
      if (::IsIconic(m_hWnd)) ::ShowWindow(m_hWnd, SW_RESTORE);
      ShowTab(TAB_REPORT);
      return TRUE;
    case UM_FILE_DEFRAGGED:
      m_filePage.UpdateFile(reinterpret_cast<const CFileItem*>(lParam));
      return TRUE;
    case UM_PROGRESS:
      m_status.OnProgress(wParam, lParam);
      return TRUE;
    case UM_SET_COMPRESSED:
      m_graph.SetCompressed(wParam != 0);
      OnViewChanged();
      return TRUE;
    case UM_START_COMMAND:
      ::SetWindowPos(m_hWnd, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
      if (BusyCounter().load() == 0 && !App().CommandLine().empty())
        OpenFilesRequest(App().CommandLine());
      if (!App().VolumeError().empty())
        App().Prompt().ShowMessage(App().VolumeError(), MB_OK | MB_ICONERROR);
      return TRUE;
    case UM_ENABLE_CONTROLS:
      m_drivePage.EnableButtons(wParam != 0);
      m_filePage.EnableButtons(wParam != 0);
      return TRUE;
  }
  return FALSE;
}

void RunMainDialog(CSharedWindows& shared) {
  auto dlg = std::make_unique<CMainDlg>(shared);
  dlg->Run();
}

}  // namespace vt
