#include "app/win32/main_dlg.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window_logic.h"
#include "app/settings_file.h"
#include "app/startup.h"
#include "app/win32/pellworth_app.h"
#include "base/text.h"
#include "engine/globals.h"
#include "map/cluster_map_host.h"
#include "map/map_colours.h"
#include "map/map_state.h"
#include "map/win32/horizontal_grid.h"
#include "map/win32/wnd_graph.h"
#include "pages/win32/drive_dlg.h"
#include "pages/win32/file_dlg.h"
#include "pages/win32/options_sheet.h"
#include "platform/win32/win32_window_placement.h"
#include "report/win32/report_dlg.h"
#include "resources/resource.h"

namespace vt {

namespace {

const COLORREF kBackground = RGB(kWindowBackground.r, kWindowBackground.g, kWindowBackground.b);
const char* kTabTitles[] = {"Drives", "Fragmented Files", "Report", "Help"};
const char kProgressClass[] = "VantrelProgress";
const int kLegendIds[] = {IDC_LEGEND_FREE,      IDC_LEGEND_UNMOVABLE, IDC_LEGEND_FRAGMENTED,
                          IDC_LEGEND_DEFRAGGED, IDC_LEGEND_SELECTED,  IDC_LEGEND_NOT_FRAGMENTED};
const char kSplitterClass[] = "VantrelSplitter";
constexpr UINT WM_SPLITTER_MOVED = WM_APP + 30;
constexpr int kStartWidth = 840;

// The progress bar: a bar with its text drawn over it. The text is the
// window's own, so other programs can read it.
struct CProgressState {
  uint64_t range = 0;
  uint64_t position = 0;
  bool shown = false;
};

LRESULT CALLBACK ProgressProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* state = reinterpret_cast<CProgressState*>(::GetWindowLongPtrA(wnd, GWLP_USERDATA));
  switch (msg) {
    case WM_NCCREATE:
      ::SetWindowLongPtrA(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new CProgressState));
      break;
    case WM_NCDESTROY:
      delete state;
      ::SetWindowLongPtrA(wnd, GWLP_USERDATA, 0);
      break;
    case WM_SETTEXT:
      ::InvalidateRect(wnd, nullptr, TRUE);
      break;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = ::BeginPaint(wnd, &ps);
      RECT r;
      ::GetClientRect(wnd, &r);
      ::FillRect(dc, &r, ::GetSysColorBrush(COLOR_BTNFACE));
      if (state && state->shown && state->range) {
        RECT bar = r;
        const uint64_t pos = state->position > state->range ? state->range : state->position;
        bar.right = r.left + static_cast<LONG>((r.right - r.left) * pos / state->range);
        HBRUSH b = ::CreateSolidBrush(RGB(6, 176, 37));
        ::FillRect(dc, &bar, b);
        ::DeleteObject(b);
      }
      char text[512] = {};
      ::GetWindowTextA(wnd, text, sizeof(text));
      ::SetBkMode(dc, TRANSPARENT);
      HGDIOBJ old = ::SelectObject(dc, ::GetStockObject(DEFAULT_GUI_FONT));
      r.left += 4;
      ::DrawTextA(dc, text, -1, &r, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
      ::SelectObject(dc, old);
      ::EndPaint(wnd, &ps);
      return 0;
    }
  }
  return ::DefWindowProcA(wnd, msg, wParam, lParam);
}

// The splitter bar: dragging it tells the parent how far it moved.
LRESULT CALLBACK SplitterProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  static int s_nStartY = 0;
  switch (msg) {
    case WM_LBUTTONDOWN:
      ::SetCapture(wnd);
      s_nStartY = static_cast<short>(HIWORD(lParam));
      return 0;
    case WM_LBUTTONUP:
      if (::GetCapture() == wnd) {
        ::ReleaseCapture();
        const int d = static_cast<short>(HIWORD(lParam)) - s_nStartY;
        if (d) ::SendMessageA(::GetParent(wnd), WM_SPLITTER_MOVED, static_cast<WPARAM>(d), 0);
      }
      return 0;
    case WM_SETCURSOR:
      ::SetCursor(::LoadCursor(nullptr, IDC_SIZENS));
      return TRUE;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = ::BeginPaint(wnd, &ps);
      RECT r;
      ::GetClientRect(wnd, &r);
      ::FillRect(dc, &r, ::GetSysColorBrush(COLOR_BTNFACE));
      ::DrawEdge(dc, &r, EDGE_RAISED, BF_TOP | BF_BOTTOM);
      ::EndPaint(wnd, &ps);
      return 0;
    }
  }
  return ::DefWindowProcA(wnd, msg, wParam, lParam);
}

// The help page: the version resource's entries and the two buttons.
INT_PTR CALLBACK HelpPageProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM);

std::string VersionEntry(const char* name) {
  char path[MAX_PATH * 4] = {};
  ::GetModuleFileNameA(nullptr, path, sizeof(path));
  DWORD handle = 0;
  const DWORD size = ::GetFileVersionInfoSizeA(path, &handle);
  if (!size) return std::string();
  std::vector<char> data(size);
  if (!::GetFileVersionInfoA(path, 0, size, data.data())) return std::string();
  char* value = nullptr;
  UINT length = 0;
  const std::string key = std::string("\\StringFileInfo\\040904e4\\") + name;
  if (!::VerQueryValueA(data.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) ||
      !value)
    return std::string();
  return std::string(value);
}

void CheckForUpdates(HWND owner) {
  const std::string dll = CPellworthApp::ProgramFolder() + "freshet.dll";
  HMODULE lib = ::LoadLibraryA(dll.c_str());
  if (!lib) {
    ::MessageBoxA(owner, "Unable to load FRESHET.DLL", kMessageCaption,
                  MB_OK | MB_SYSTEMMODAL | MB_SETFOREGROUND);
    return;
  }
  typedef int(__cdecl * CheckAndUpdate)(const char*, const char*);
  auto fn = reinterpret_cast<CheckAndUpdate>(
      reinterpret_cast<void*>(::GetProcAddress(lib, "CheckAndUpdate")));
  if (!fn) {
    ::MessageBoxA(owner, "Error getting update procedure address", kMessageCaption, MB_OK);
    ::FreeLibrary(lib);
    return;
  }
  HCURSOR old = ::SetCursor(::LoadCursor(nullptr, IDC_WAIT));
  const int result =
      fn("https://updates.norvane.example/updates/Pellworth/Pellworth.txt", "Hollyfen4821%^&*()");
  ::SetCursor(old);
  ::FreeLibrary(lib);
  if (result != 0) ::PostQuitMessage(0);
}

INT_PTR CALLBACK HelpPageProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM) {
  switch (msg) {
    case WM_INITDIALOG:
      ::SetDlgItemTextA(wnd, IDC_VERSION, VersionText(VersionEntry("FileVersion")).c_str());
      ::SetDlgItemTextA(wnd, IDC_COPYRIGHT, VersionEntry("LegalCopyright").c_str());
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDC_HELP_BUTTON) {
        ::ShellExecuteA(wnd, "open", App().HelpPath().c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        return TRUE;
      }
      if (LOWORD(wParam) == IDC_CHECK_UPDATES) {
        CheckForUpdates(::GetParent(wnd));
        return TRUE;
      }
      break;
  }
  return FALSE;
}

class CMainDlg {
 public:
  CMainDlg()
      : m_drivePage(App().Engine(), &App().ReportPage()),
        m_map(&App().Prompt()),
        m_mapHost(m_map),
        m_strip(m_map),
        m_graph(m_map, App().Engine()),
        m_filePage(App().Engine()) {}
  INT_PTR Run() {
    return ::DialogBoxParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN), nullptr,
                             &CMainDlg::Proc, reinterpret_cast<LPARAM>(this));
  }

 private:
  static INT_PTR CALLBACK Proc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    CMainDlg* self;
    if (msg == WM_INITDIALOG) {
      self = reinterpret_cast<CMainDlg*>(lParam);
      ::SetWindowLongPtrA(wnd, DWLP_USER, lParam);
      self->m_hWnd = wnd;
    } else {
      self = reinterpret_cast<CMainDlg*>(::GetWindowLongPtrA(wnd, DWLP_USER));
    }
    return self ? self->OnMessage(msg, wParam, lParam) : FALSE;
  }

  HWND Item(int id) const { return ::GetDlgItem(m_hWnd, id); }
  RECT ItemRect(HWND w) const {
    RECT r;
    ::GetWindowRect(w, &r);
    ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
    return r;
  }
  void Move(HWND w, int dx, int dy, int dw, int dh) {
    const RECT r = ItemRect(w);
    ::MoveWindow(w, r.left + dx, r.top + dy, r.right - r.left + dw, r.bottom - r.top + dh, TRUE);
  }

  void OnInit();
  void CreatePages();
  void Layout(int width, int height);
  void LayoutMap();
  void ShowTab(int index);
  void OnTabChange();
  void OnProgress(WPARAM code, LPARAM arg);
  void OnRangeChanged();
  void OnViewChanged();
  void OnHandOff(const std::string& text);
  void OpenFilesRequest(const std::string& text);
  void OnSplitter(int d);
  void PaintBackground(HDC dc);
  void DrawLegend(const DRAWITEMSTRUCT* item);
  void OnDestroy();
  INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);

  HWND m_hWnd = nullptr;
  HWND m_hTabs = nullptr;
  HWND m_hStatus = nullptr;
  HWND m_hProgress = nullptr;
  HWND m_hSplitter = nullptr;
  HWND m_hFilesPage = nullptr;
  HWND m_hHelpPage = nullptr;
  HWND m_pages[4] = {};
  CDriveDlg m_drivePage;
  // The map, its overview strip and the file page.
  ClusterMap m_map;
  CClusterMapHost m_mapHost;
  CHorizontalGrid m_strip;
  CWndGraph m_graph;
  CFileDlg m_filePage;
  int m_nTab = 0;
  int m_nWheelLines = 3;
  int m_nBandHeight = 12;
  int m_nBlockSize = 7;
  bool m_bCompressed = true;
  SIZE m_size = {0, 0};  // the client size the controls are laid out for
  HBITMAP m_hBand = nullptr;
};

void CMainDlg::OnInit() {
  HINSTANCE inst = ::GetModuleHandleA(nullptr);
  HICON big = static_cast<HICON>(::LoadImageA(inst, MAKEINTRESOURCEA(IDI_VANTREL), IMAGE_ICON,
                                              ::GetSystemMetrics(SM_CXICON),
                                              ::GetSystemMetrics(SM_CYICON), 0));
  HICON small = static_cast<HICON>(::LoadImageA(inst, MAKEINTRESOURCEA(IDI_VANTREL), IMAGE_ICON,
                                                ::GetSystemMetrics(SM_CXSMICON),
                                                ::GetSystemMetrics(SM_CYSMICON), 0));
  ::SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
  ::SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
  ::SetWindowTextA(m_hWnd, kMessageCaption);
  App().SetMainWindow(m_hWnd);
  App().Engine().SetProgressWindow(m_hWnd);

  m_hStatus = ::CreateWindowExA(
      0, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0, m_hWnd,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_STATUS_BAR)), inst, nullptr);
  m_hProgress =
      ::CreateWindowExA(0, kProgressClass, "", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, m_hStatus,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_PROGRESS)), inst, nullptr);
  CreatePages();

  CWin32WindowPlacement placement(m_hWnd);
  SettingsFile().RestoreWindowPosition(placement);

  // The splitter bar takes the placeholder's place, across the whole width.
  HWND holder = Item(IDC_SPLITTER);
  const RECT hr = ItemRect(holder);
  ::ShowWindow(holder, SW_HIDE);
  RECT client;
  ::GetClientRect(m_hWnd, &client);
  m_hSplitter = ::CreateWindowExA(0, kSplitterClass, "", WS_CHILD | WS_VISIBLE, 0, hr.top,
                                  client.right, 5, m_hWnd, nullptr, inst, nullptr);
  UINT lines = 3;
  ::SystemParametersInfoA(SPI_GETWHEELSCROLLLINES, 0, &lines, 0);
  m_nWheelLines = lines < 1 ? 3 : static_cast<int>(lines);

  m_hBand =
      static_cast<HBITMAP>(::LoadImageA(inst, MAKEINTRESOURCEA(IDB_BAND), IMAGE_BITMAP, 0, 0, 0));
  BITMAP bm = {};
  if (m_hBand && ::GetObjectA(m_hBand, sizeof(bm), &bm)) m_nBandHeight = bm.bmHeight;

  m_size.cx = client.right;
  m_size.cy = client.bottom;
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
  for (int id : kLegendIds) {
    ::SetWindowPos(Item(id), nullptr, 0, 0, 12, 12, SWP_NOMOVE | SWP_NOZORDER);
    ::EnableWindow(Item(id), FALSE);  // a swatch, not a button to press
  }
  m_graph.Create(m_hWnd, Item(IDC_MAP_FRAME), Item(IDC_MAP_SCROLL), &m_strip);
  m_strip.Create(m_hWnd, Item(IDC_OVERVIEW_FRAME), &m_graph);
  SetMapWindow(&m_graph);
  m_graph.SetRelayout([this]() {
    m_nBlockSize = m_map.BlockSize();
    LayoutMap();
  });
  App().Engine().SetMapHost(&m_mapHost);
  LayoutMap();
  OnRangeChanged();
  OnViewChanged();

  ::SetWindowPos(m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  ::PostMessageA(m_hWnd, UM_START_COMMAND, 0, 0);
}

void CMainDlg::CreatePages() {
  HINSTANCE inst = ::GetModuleHandleA(nullptr);
  m_hTabs = Item(IDC_TABS);
  m_pages[TAB_REPORT] = App().ReportPage().Create(m_hWnd);
  m_hFilesPage = m_filePage.Create(m_hWnd, m_hWnd);
  m_pages[TAB_FILES] = m_hFilesPage;
  m_pages[TAB_DRIVES] = m_drivePage.Create(m_hWnd, m_hWnd);
  m_hHelpPage =
      ::CreateDialogParamA(inst, MAKEINTRESOURCEA(IDD_HELP_PAGE), m_hWnd, &HelpPageProc, 0);
  m_pages[TAB_HELP] = m_hHelpPage;
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
    ::SetWindowPos(page, HWND_TOP, r.left, r.top, r.right - r.left, r.bottom - r.top, 0);
  }
  RECT pr;
  ::GetClientRect(m_pages[TAB_DRIVES], &pr);
  // The pages' own controls were made for the template's size.
  for (int i = 0; i < 4; ++i) {
    RECT tr;
    ::GetWindowRect(::GetWindow(m_pages[i], GW_CHILD), &tr);
  }
  ShowTab(TAB_DRIVES);
}

void CMainDlg::ShowTab(int index) {
  TabCtrl_SetCurSel(m_hTabs, index);
  for (int i = 0; i < 4; ++i) {
    if (i == index) continue;
    if (::IsWindowVisible(m_pages[i])) {
      ::ShowWindow(m_pages[i], SW_HIDE);
      if (i == TAB_REPORT) App().ReportPage().OnShowPage(false);
    }
  }
  if (!::IsWindowVisible(m_pages[index])) {
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

void CMainDlg::Layout(int width, int height) {
  const int dx = width - m_size.cx;
  const int dy = height - m_size.cy;
  m_size.cx = width;
  m_size.cy = height;
  if (dx || dy) {
    Move(m_hTabs, 0, 0, dx, 0);
    for (HWND page : m_pages) Move(page, 0, 0, dx, 0);
    m_drivePage.Grow(dx, 0);
    m_filePage.Grow(dx, 0);
    App().ReportPage().Grow(dx, 0);
    Move(Item(IDC_RANGE_TOP_RIGHT), dx, 0, 0, 0);
    Move(Item(IDC_RANGE_BOTTOM_LEFT), 0, dy, 0, 0);
    Move(Item(IDC_RANGE_BOTTOM_RIGHT), dx, dy, 0, 0);
    for (int id : {IDC_LEGEND_FREE, IDC_LEGEND_UNMOVABLE, IDC_LEGEND_FRAGMENTED,
                   IDC_LEGEND_DEFRAGGED, IDC_LEGEND_SELECTED, IDC_LEGEND_NOT_FRAGMENTED})
      Move(Item(id), dx / 2, dy, 0, 0);
    for (int id : {IDC_BLOCK_LABEL, IDC_BLOCK_SLIDER, IDC_COMPRESSED, IDC_VIEW_TEXT})
      Move(Item(id), dx / 2, 0, 0, 0);
    Move(Item(IDC_MAP_FRAME), 0, 0, 0, dy);
    Move(Item(IDC_MAP_SCROLL), 0, 0, 0, dy);
  }
  if (m_hSplitter) {
    const RECT s = ItemRect(m_hSplitter);
    ::MoveWindow(m_hSplitter, 0, s.top, width, s.bottom - s.top, TRUE);
  }
  ::SendMessageA(m_hStatus, WM_SIZE, 0, 0);
  int edges[3];
  StatusPaneEdges(width, ::GetSystemMetrics(SM_CXVSCROLL), edges);
  ::SendMessageA(m_hStatus, SB_SETPARTS, 3, reinterpret_cast<LPARAM>(edges));
  RECT pane;
  ::SendMessageA(m_hStatus, SB_GETRECT, 0, reinterpret_cast<LPARAM>(&pane));
  ::MoveWindow(m_hProgress, pane.left + 1, pane.top + 1, pane.right - pane.left - 2,
               pane.bottom - pane.top - 2, TRUE);
  LayoutMap();
  ::InvalidateRect(m_hWnd, nullptr, TRUE);
  // The selected tab's label is drawn again over the pages' new sizes.
  ::RedrawWindow(m_hTabs, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME);
}

void CMainDlg::LayoutMap() {
  RECT client;
  ::GetClientRect(m_hWnd, &client);
  const RECT split = ItemRect(m_hSplitter ? m_hSplitter : Item(IDC_SPLITTER));
  HWND strip = Item(IDC_OVERVIEW_FRAME);
  RECT sr = ItemRect(strip);
  const int stripTop = split.bottom + 2 + (ItemRect(Item(IDC_BLOCK_SLIDER)).bottom - split.bottom);
  ::MoveWindow(strip, 5, stripTop, client.right - 10, sr.bottom - sr.top, TRUE);
  sr = ItemRect(strip);
  RECT status;
  ::GetWindowRect(m_hStatus, &status);
  ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&status), 2);
  const RECT topLabel = ItemRect(Item(IDC_RANGE_TOP_LEFT));
  const RECT bottomLabel = ItemRect(Item(IDC_RANGE_BOTTOM_LEFT));
  const RECT legend = ItemRect(Item(IDC_LEGEND_FREE));
  const int h = topLabel.bottom - topLabel.top;
  // Labels and legend sit on the decorative bands above and below the map.
  ::MoveWindow(Item(IDC_RANGE_TOP_LEFT), 5, sr.bottom + 2, topLabel.right - topLabel.left, h, TRUE);
  const RECT tr = ItemRect(Item(IDC_RANGE_TOP_RIGHT));
  ::MoveWindow(Item(IDC_RANGE_TOP_RIGHT), client.right - 22 - (tr.right - tr.left), sr.bottom + 2,
               tr.right - tr.left, h, TRUE);
  const int bandTop = sr.bottom + 2 + h + 2;
  const int legendTop = status.top - 4 - (legend.bottom - legend.top);
  const int bottomLabelTop = legendTop - 2 - (bottomLabel.bottom - bottomLabel.top);
  // The swatches in one centred row, each followed by its text.
  int widths[6] = {};
  int total = 0;
  for (int i = 0; i < 6; ++i) {
    char text[64] = {};
    ::GetWindowTextA(Item(kLegendIds[i]), text, sizeof(text));
    widths[i] = 12 + 3 + LegendTextWidth(m_hWnd, text) + 16;
    total += widths[i];
  }
  int legendX = std::max(5, static_cast<int>(client.right - total) / 2);
  for (int i = 0; i < 6; ++i) {
    const RECT r = ItemRect(Item(kLegendIds[i]));
    ::MoveWindow(Item(kLegendIds[i]), legendX, legendTop, r.right - r.left, r.bottom - r.top, TRUE);
    legendX += widths[i];
  }
  ::MoveWindow(Item(IDC_RANGE_BOTTOM_LEFT), 5, bottomLabelTop, bottomLabel.right - bottomLabel.left,
               h, TRUE);
  const RECT br = ItemRect(Item(IDC_RANGE_BOTTOM_RIGHT));
  ::MoveWindow(Item(IDC_RANGE_BOTTOM_RIGHT), client.right - 22 - (br.right - br.left),
               bottomLabelTop, br.right - br.left, h, TRUE);
  const int mapBottom = bottomLabelTop - 2;
  const int sbw = ItemRect(Item(IDC_MAP_SCROLL)).right - ItemRect(Item(IDC_MAP_SCROLL)).left;
  ::MoveWindow(Item(IDC_MAP_SCROLL), client.right - sbw - 5, bandTop, sbw, mapBottom - bandTop,
               TRUE);
  const int width = MapFrameWidth(client.right - 5, sbw + 2, 5, m_nBlockSize);
  ::MoveWindow(Item(IDC_MAP_FRAME), 5, bandTop, width, mapBottom - bandTop, TRUE);
  m_graph.FitFrame();
  m_strip.FitFrame();
  // Room for the view description with its visible size.
  const RECT view = ItemRect(Item(IDC_VIEW_TEXT));
  ::SetWindowPos(Item(IDC_VIEW_TEXT), nullptr, 0, 0,
                 std::max<LONG>(client.right - 5 - view.left, 20), view.bottom - view.top,
                 SWP_NOMOVE | SWP_NOZORDER);
}

void CMainDlg::OnSplitter(int d) {
  const RECT tabs = ItemRect(m_hTabs);
  RECT client;
  ::GetClientRect(m_hWnd, &client);
  const RECT map = ItemRect(Item(IDC_MAP_FRAME));
  // The pages keep 120 pixels and the map 40.
  if (tabs.bottom - tabs.top + d < 120) d = 120 - (tabs.bottom - tabs.top);
  if (map.bottom - map.top - d < 40) d = map.bottom - map.top - 40;
  if (!d) return;
  Move(m_hTabs, 0, 0, 0, d);
  for (HWND page : m_pages) Move(page, 0, 0, 0, d);
  m_drivePage.Grow(0, d);
  m_filePage.Grow(0, d);
  App().ReportPage().Grow(0, d);
  Move(m_hSplitter, 0, d, 0, 0);
  for (int id : {IDC_BLOCK_LABEL, IDC_BLOCK_SLIDER, IDC_COMPRESSED, IDC_VIEW_TEXT})
    Move(Item(id), 0, d, 0, 0);
  LayoutMap();
  ::InvalidateRect(m_hWnd, nullptr, TRUE);
}

void CMainDlg::PaintBackground(HDC dc) {
  RECT client;
  ::GetClientRect(m_hWnd, &client);
  HBRUSH blue = ::CreateSolidBrush(kBackground);
  ::FillRect(dc, &client, blue);
  ::DeleteObject(blue);
  if (!m_hBand) return;
  HDC mem = ::CreateCompatibleDC(dc);
  HGDIOBJ old = ::SelectObject(mem, m_hBand);
  BITMAP bm = {};
  ::GetObjectA(m_hBand, sizeof(bm), &bm);
  const RECT strip = ItemRect(Item(IDC_OVERVIEW_FRAME));
  const RECT map = ItemRect(Item(IDC_MAP_FRAME));
  RECT status;
  ::GetWindowRect(m_hStatus, &status);
  ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&status), 2);
  ::SetStretchBltMode(dc, COLORONCOLOR);
  ::StretchBlt(dc, 0, strip.bottom, client.right, map.top - strip.bottom, mem, 0, 0, bm.bmWidth,
               bm.bmHeight, SRCCOPY);
  ::StretchBlt(dc, 0, map.bottom, client.right, status.top - map.bottom, mem, 0, 0, bm.bmWidth,
               bm.bmHeight, SRCCOPY);
  ::SelectObject(mem, old);
  ::DeleteDC(mem);
  // The DC may be a child's: a themed tab control has its parent paint
  // behind its selected tab, then draws the label with what is left selected.
  const int saved = ::SaveDC(dc);
  for (int id : kLegendIds) {
    char text[64] = {};
    ::GetWindowTextA(Item(id), text, sizeof(text));
    DrawLegendText(dc, ItemRect(Item(id)), text);
  }
  ::RestoreDC(dc, saved);
}

void CMainDlg::DrawLegend(const DRAWITEMSTRUCT* item) {
  static const std::map<int, int> kClass = {{IDC_LEGEND_FREE, CMC_FREE},
                                            {IDC_LEGEND_UNMOVABLE, CMC_UNMOVABLE},
                                            {IDC_LEGEND_FRAGMENTED, CMC_FRAGMENTED},
                                            {IDC_LEGEND_DEFRAGGED, CMC_DEFRAGGED},
                                            {IDC_LEGEND_SELECTED, CMC_SELECTED},
                                            {IDC_LEGEND_NOT_FRAGMENTED, CMC_NOT_FRAGMENTED}};
  auto it = kClass.find(static_cast<int>(item->CtlID));
  if (it != kClass.end()) DrawLegendButton(item, it->second, kBackground);
}

void CMainDlg::OnProgress(WPARAM code, LPARAM arg) {
  auto* state = reinterpret_cast<CProgressState*>(::GetWindowLongPtrA(m_hProgress, GWLP_USERDATA));
  switch (code) {
    case PROGRESS_RESET:
      state->range = state->position = 0;
      state->shown = false;
      ::SetWindowTextA(m_hProgress, "");
      for (int i = 0; i < 3; ++i)
        ::SendMessageA(m_hStatus, SB_SETTEXTA, i, reinterpret_cast<LPARAM>(""));
      ::InvalidateRect(m_hProgress, nullptr, TRUE);
      break;
    case PROGRESS_TEXT:
      ::SetWindowTextA(m_hProgress, reinterpret_cast<const char*>(arg));
      break;
    case PROGRESS_RANGE:
      state->range = *reinterpret_cast<const uint64_t*>(arg);
      state->position = 0;
      state->shown = true;
      ::InvalidateRect(m_hProgress, nullptr, TRUE);
      break;
    case PROGRESS_POSITION:
      state->position = *reinterpret_cast<const uint64_t*>(arg);
      ::InvalidateRect(m_hProgress, nullptr, TRUE);
      break;
    case PROGRESS_PERCENT: {
      std::string text;
      const uint64_t value = *reinterpret_cast<const uint64_t*>(arg);
      if (ProgressPercent(value, state->range, &text)) {
        ::SendMessageA(m_hStatus, SB_SETTEXTA, 1, reinterpret_cast<LPARAM>(text.c_str()));
        state->position = value;
        ::InvalidateRect(m_hProgress, nullptr, TRUE);
      }
      break;
    }
    case PROGRESS_THROUGHPUT: {
      CDefrag& engine = App().Engine();
      const CDriveData* drive = CurrentDrive();
      const std::string rate = ThroughputText(
          engine.m_dwStartTick != 0 && drive, engine.m_nMovedClusters,
          drive ? drive->m_dwBytesPerCluster : 0, engine.m_dwStartTick, ::GetTickCount());
      ::SendMessageA(m_hStatus, SB_SETTEXTA, 2, reinterpret_cast<LPARAM>(rate.c_str()));
      ::SendMessageA(m_hStatus, SB_SETTEXTA, 1, arg);
      break;
    }
    case PROGRESS_PANE_TEXT:
      ::SendMessageA(m_hStatus, SB_SETTEXTA, 1, arg);
      break;
    case PROGRESS_REPAINT:
      ::UpdateWindow(m_hProgress);
      break;
  }
}

void CMainDlg::OnRangeChanged() {
  const CVisibleRange range = m_graph.VisibleRange();
  const CMapGeometry g = m_graph.Geometry();
  const CRangeLabels labels = MakeRangeLabels(range.m_nFirst, range.m_nLast, g.ClustersPerRow(),
                                              static_cast<uint64_t>(g.VisibleRows()));
  ::SetDlgItemTextA(m_hWnd, IDC_RANGE_TOP_LEFT,
                    Format("%llu", static_cast<unsigned long long>(labels.m_nTopLeft)).c_str());
  ::SetDlgItemTextA(m_hWnd, IDC_RANGE_TOP_RIGHT,
                    Format("%llu", static_cast<unsigned long long>(labels.m_nTopRight)).c_str());
  ::SetDlgItemTextA(m_hWnd, IDC_RANGE_BOTTOM_LEFT,
                    Format("%llu", static_cast<unsigned long long>(labels.m_nBottomLeft)).c_str());
  ::SetDlgItemTextA(m_hWnd, IDC_RANGE_BOTTOM_RIGHT,
                    Format("%llu", static_cast<unsigned long long>(labels.m_nBottomRight)).c_str());
  m_strip.SetRange(range.m_nFirst, range.m_nLast);
  // The slider loses the keyboard focus; the map keeps it for its keys.
  if (::GetFocus() != m_graph.Handle()) ::SetFocus(m_hTabs);
}

void CMainDlg::OnViewChanged() {
  m_nBlockSize = m_map.BlockSize();
  m_bCompressed = m_map.IsCompressed();
  ::SetDlgItemTextA(m_hWnd, IDC_BLOCK_LABEL,
                    BlockSizeLabel(static_cast<unsigned>(m_nBlockSize)).c_str());
  ::SendMessageA(Item(IDC_BLOCK_SLIDER), TBM_SETPOS, TRUE, m_nBlockSize);
  ::CheckDlgButton(m_hWnd, IDC_COMPRESSED, m_bCompressed ? BST_CHECKED : BST_UNCHECKED);
  const CVisibleRange range = m_graph.VisibleRange();
  const CDriveData* drive = CurrentDrive();
  ::SetDlgItemTextA(
      m_hWnd, IDC_VIEW_TEXT,
      ViewDescription(m_bCompressed, static_cast<unsigned>(m_graph.Geometry().ClustersPerBlock()),
                      range.m_nFirst, range.m_nLast, drive ? drive->m_nDiskSize : 0,
                      drive ? drive->m_dwBytesPerCluster : 0)
          .c_str());
}

void CMainDlg::OpenFilesRequest(const std::string& text) {
  ShowTab(TAB_FILES);
  m_filePage.HandleRequest(text);
}

void CMainDlg::OnHandOff(const std::string& text) {
  switch (ChooseHandOffAction(text, BusyCounter().load())) {
    case HandOffAction::SchedulerMessage:
      App().Prompt().ShowMessage(kSchedulerRunningText, MB_OK | MB_ICONERROR);
      break;
    case HandOffAction::BusyMessage:
      App().Prompt().ShowMessage(kWaitForOperationText, MB_OK | MB_ICONERROR);
      break;
    case HandOffAction::OpenFilesPage:
      OpenFilesRequest(text);
      break;
    case HandOffAction::Nothing:
      break;
  }
}

void CMainDlg::OnDestroy() {
  SetCancel(true);
  SettingsFile settings;
  CWin32WindowPlacement placement(m_hWnd);
  settings.SaveWindowPosition(placement);
  settings.SetBlockSize(m_map.BlockSize());
  App().Engine().SetMapHost(nullptr);
  SetMapWindow(nullptr);
  if (settings.SaveLogFiles()) App().ReportPage().SaveLog();
  if (m_hBand) ::DeleteObject(m_hBand);
  App().SetMainWindow(nullptr);
}

INT_PTR CMainDlg::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_INITDIALOG:
      OnInit();
      return FALSE;
    case WM_HELP: {
      // F1: the help topic of the page shown.
      static const char* const kTopics[] = {"DrivesTab.htm", "FilesTab.htm", "ReportTab.htm",
                                            "HelpTab.htm"};
      OpenHelpTopic(m_nTab >= 0 && m_nTab < 4 ? kTopics[m_nTab] : "index.htm");
      return TRUE;
    }
    case WM_ERASEBKGND:
      PaintBackground(reinterpret_cast<HDC>(wParam));
      ::SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, 1);
      return TRUE;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      HWND ctl = reinterpret_cast<HWND>(lParam);
      if (::GetParent(ctl) != m_hWnd) return FALSE;
      HDC dc = reinterpret_cast<HDC>(wParam);
      ::SetTextColor(dc, RGB(255, 255, 255));
      ::SetBkColor(dc, kBackground);
      static HBRUSH s_blue = ::CreateSolidBrush(kBackground);
      return reinterpret_cast<INT_PTR>(s_blue);
    }
    case WM_DRAWITEM:
      DrawLegend(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_SIZE:
      if (wParam != SIZE_MINIMIZED) Layout(LOWORD(lParam), HIWORD(lParam));
      return TRUE;
    case WM_GETMINMAXINFO: {
      auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
      info->ptMinTrackSize.x = kMinWindowWidth;
      info->ptMinTrackSize.y = kMinWindowHeight;
      if (m_hWnd && ::IsWindow(Item(IDC_MAP_FRAME))) {
        const RECT map = ItemRect(Item(IDC_MAP_FRAME));
        RECT w;
        ::GetWindowRect(m_hWnd, &w);
        if (map.bottom - map.top <= 200 && map.bottom > map.top)
          info->ptMinTrackSize.y =
              std::max<LONG>(kMinWindowHeight, w.bottom - w.top - (map.bottom - map.top) + 60);
      }
      return TRUE;
    }
    case WM_SPLITTER_MOVED:
      OnSplitter(static_cast<int>(wParam));
      return TRUE;
    case WM_NOTIFY: {
      const NMHDR* hdr = reinterpret_cast<const NMHDR*>(lParam);
      if (hdr->idFrom == IDC_TABS && hdr->code == TCN_SELCHANGE) OnTabChange();
      return TRUE;
    }
    case WM_HSCROLL:
      if (reinterpret_cast<HWND>(lParam) == Item(IDC_BLOCK_SLIDER)) {
        m_nBlockSize = SliderPosition(LOWORD(wParam), HIWORD(wParam), m_nBlockSize);
        ::SendMessageA(Item(IDC_BLOCK_SLIDER), TBM_SETPOS, TRUE, m_nBlockSize);
        if (m_nBlockSize != m_map.BlockSize()) m_graph.SetBlockSize(m_nBlockSize);
        OnViewChanged();
      }
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
      if (LOWORD(wParam) == IDC_COMPRESSED) {
        m_graph.SetCompressed(::IsDlgButtonChecked(m_hWnd, IDC_COMPRESSED) == BST_CHECKED);
        OnViewChanged();
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        SetCancel(true);
        ::EndDialog(m_hWnd, IDCANCEL);
        return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      SetCancel(true);
      ::EndDialog(m_hWnd, IDCANCEL);
      return TRUE;
    case WM_DESTROY:
      OnDestroy();
      return FALSE;
    case WM_COPYDATA: {
      const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      OnHandOff(ReadHandOffBlock(data->lpData, data->cbData));
      ::SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, TRUE);
      return TRUE;
    }
    case UM_DRIVE_UPDATE:
      m_drivePage.RefreshCurrentRow();
      return TRUE;
    case UM_FILL_FILE_LIST:
      m_filePage.Refresh();
      return TRUE;
    case UM_DEFRAG_FREE_NOW:
      ShowTab(TAB_DRIVES);
      m_drivePage.StartOperation(2);
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
      OnProgress(wParam, lParam);
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

}  // namespace

void RunMainDialog() {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = &ProgressProc;
  wc.hInstance = ::GetModuleHandleA(nullptr);
  wc.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
  wc.lpszClassName = kProgressClass;
  ::RegisterClassA(&wc);
  wc.lpfnWndProc = &SplitterProc;
  wc.lpszClassName = kSplitterClass;
  ::RegisterClassA(&wc);
  auto dlg = std::make_unique<CMainDlg>();
  dlg->Run();
}

}  // namespace vt
