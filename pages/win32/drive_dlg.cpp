#include "pages/win32/drive_dlg.h"

#include <commctrl.h>

#include <thread>

#include "app/settings_file.h"
#include "engine/globals.h"
#include "map/win32/wnd_graph.h"
#include "pages/list_columns.h"
#include "pages/win32/options_sheet.h"
#include "report/win32/complete_dlg.h"
#include "resources/resource.h"
#include "widgets/dialog_base.h"

namespace vt {

namespace {
// A function to run on the window's thread (wParam points at it).
constexpr UINT WM_DP_CALL = UM_DP_CALL;
// Posted when a checked drive has a cache file: load it (lParam the row).
constexpr UINT WM_DP_LOAD = UM_DP_LOAD;

const int kButtons[] = {IDC_REFRESH, IDC_ANALYZE, IDC_DEFRAG_DRIVE, IDC_DEFRAG_FREE};
}  // namespace

CDriveDlg::CDriveDlg(CDefrag& engine, IReportSink* report)
    : m_engine(engine), m_page(engine, *this, report) {}

HWND CDriveDlg::Create(HWND parent, HWND mainWnd) {
  m_hMain = mainWnd;
  m_dwUiThread = ::GetCurrentThreadId();
  m_hWnd = ::CreateDialogParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_DRIVE_PAGE),
                                parent, &CDriveDlg::DialogProc, reinterpret_cast<LPARAM>(this));
  return m_hWnd;
}

void CDriveDlg::RunOnUi(const std::function<void()>& fn) {
  if (::GetCurrentThreadId() == m_dwUiThread)
    fn();
  else
    ::SendMessageA(m_hWnd, WM_DP_CALL, reinterpret_cast<WPARAM>(&fn), 0);
}

// --- IDrivePageView ---------------------------------------------------------

int CDriveDlg::RowCount() {
  return static_cast<int>(::SendMessageA(m_hList, LVM_GETITEMCOUNT, 0, 0));
}

bool CDriveDlg::IsRowChecked(int row) {
  const LRESULT state = ::SendMessageA(m_hList, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK);
  return ((state & LVIS_STATEIMAGEMASK) >> 12) == 2;
}

size_t CDriveDlg::RowDrive(int row) {
  LVITEMA item = {};
  item.mask = LVIF_PARAM;
  item.iItem = row;
  ::SendMessageA(m_hList, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
  return static_cast<size_t>(item.lParam);
}

void CDriveDlg::SelectRow(int row) {
  RunOnUi([&]() {
    m_bQuiet = true;
    ListView_SetItemState(m_hList, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_EnsureVisible(m_hList, row, FALSE);
    m_bQuiet = false;
  });
}

void CDriveDlg::UpdateRow(int row) {
  RunOnUi([&]() {
    if (row < 0) return;
    const size_t index = RowDrive(row);
    if (index >= m_page.Drives().size()) return;
    for (int col = 1; col < DRIVE_COLUMN_COUNT; ++col) {
      const std::string text = DriveCellText(m_page.Drives()[index], col);
      ListView_SetItemText(m_hList, row, col, const_cast<char*>(text.c_str()));
    }
  });
}

void CDriveDlg::SetTitleText(const std::string& text) {
  const std::string title = OperationTitle(m_page.CurrentDrive(), text);
  ::SetWindowTextA(m_hMain, title.c_str());
}

void CDriveDlg::EnableControls(bool enable) {
  ::SendMessageA(m_hMain, UM_ENABLE_CONTROLS, enable ? 1 : 0, 0);
}

void CDriveDlg::SetStatus(const std::string& text) {
  ::SendMessageA(m_hMain, UM_PROGRESS, PROGRESS_RESET, 0);
  ::SendMessageA(m_hMain, UM_PROGRESS, PROGRESS_TEXT, reinterpret_cast<LPARAM>(text.c_str()));
}

void CDriveDlg::Notify(UINT message, WPARAM wParam, bool post) {
  if (post)
    ::PostMessageA(m_hMain, message, wParam, 0);
  else
    ::SendMessageA(m_hMain, message, wParam, 0);
}

bool CDriveDlg::RefreshMap() {
  if (CWndGraph* map = MapWindow()) map->Refresh();
  ::PostMessageA(m_hMain, UM_RANGE_CHANGED, 0, 0);
  ::PostMessageA(m_hMain, UM_VIEW_CHANGED, 0, 0);
  return m_engine.m_nTotalClusters > 0;
}

namespace {
BOOL CALLBACK FindFileList(HWND wnd, LPARAM found) {
  char cls[32] = {};
  ::GetClassNameA(wnd, cls, sizeof(cls));
  if (::GetDlgCtrlID(wnd) != IDC_FILE_LIST || std::string(cls) != WC_LISTVIEWA) return TRUE;
  *reinterpret_cast<HWND*>(found) = wnd;
  return FALSE;
}
}  // namespace

void CDriveDlg::EmptyFileList() {
  // Its rows are indexes into the engine's file list, which is about to
  // hold another drive's files; an empty list is filled afresh when its
  // page is shown.
  RunOnUi([&]() {
    HWND list = nullptr;
    ::EnumChildWindows(m_hMain, &FindFileList, reinterpret_cast<LPARAM>(&list));
    if (!list) return;
    ListView_DeleteAllItems(list);
    ::SetDlgItemTextA(::GetParent(list), IDC_FILES_TEXT, "");
  });
}

int CDriveDlg::ShowCompletion(const std::string& caption, const std::string& message) {
  int result = IDCANCEL;
  RunOnUi([&]() { result = static_cast<int>(CCompleteDlg(caption, message, m_hMain).DoModal()); });
  return result;
}

// --- the page ---------------------------------------------------------------

void CDriveDlg::EnableButtons(bool enable) {
  for (int id : kButtons) ::EnableWindow(::GetDlgItem(m_hWnd, id), enable);
  ::EnableWindow(::GetDlgItem(m_hWnd, IDC_OPTIONS), enable);
  ::EnableWindow(::GetDlgItem(m_hWnd, IDC_STOP), !enable);
}

void CDriveDlg::RefreshCurrentRow() {
  CDriveData* drive = m_page.CurrentDrive();
  if (!drive) return;
  const int rows = RowCount();
  for (int row = 0; row < rows; ++row)
    if (RowDrive(row) == static_cast<size_t>(m_page.Current())) m_page.UpdateStatistics(row);
}

void CDriveDlg::StartOperation(int operation) {
  if (BusyCounter().load() > 0) return;
  // Asked here, on the window's thread, so the box is active and Return
  // closes it.
  if (!m_page.ConfirmChecked()) return;
  EnableButtons(false);
  std::thread([this, operation]() { m_page.RunOperation(operation); }).detach();
}

bool CDriveDlg::CurrentDriveAnalysed() {
  CDriveData* drive = m_page.CurrentDrive();
  return drive && drive->m_nState == DRIVE_STATE_ANALYZED;
}

void CDriveDlg::AnalyzeCurrentDrive() {
  if (BusyCounter().load() > 0) return;
  const int row = m_page.FilePageAnalysisRow();
  if (row == -1) return;
  std::thread([this, row]() { m_page.AnalyzeForFilePage(row); }).detach();
}

std::string CDriveDlg::CheckedRoots() {
  std::vector<std::string> roots;
  const int rows = RowCount();
  for (int row = 0; row < rows; ++row) {
    const size_t index = RowDrive(row);
    if (IsRowChecked(row) && index < m_page.Drives().size())
      roots.push_back(m_page.Drives()[index].m_strDrive);
  }
  return SelectedDrivesText(roots);
}

void CDriveDlg::SaveSettings() {
  SettingsFile settings;
  settings.SetIncludeRemovable(m_bIncludeRemovable);
  settings.SetIncludeFloppy(m_bIncludeFloppy);
  settings.SetSelectedDrives(CheckedRoots());
}

void CDriveDlg::Refresh(bool saveChecks) {
  if (saveChecks) SettingsFile().SetSelectedDrives(CheckedRoots());
  CEnumerateOptions options;
  options.m_bIncludeRemovable = m_bIncludeRemovable;
  options.m_bIncludeFloppy = m_bIncludeFloppy;
  m_page.Enumerate(options);
  ::SetWindowTextA(m_hMain, BaseTitle(nullptr).c_str());
  FillList(false);
  m_sort.Reset();
  Sort();
}

void CDriveDlg::FillList(bool saveChecks) {
  if (saveChecks) SettingsFile().SetSelectedDrives(CheckedRoots());
  const std::string selected = SettingsFile().SelectedDrives();
  m_bQuiet = true;
  ListView_DeleteAllItems(m_hList);
  const auto& drives = m_page.Drives();
  for (size_t i = 0; i < drives.size(); ++i) {
    LVITEMA item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = static_cast<int>(i);
    item.pszText = const_cast<char*>(drives[i].m_strDrive.c_str());
    item.lParam = static_cast<LPARAM>(i);
    const int row = ListView_InsertItem(m_hList, &item);
    for (int col = 1; col < DRIVE_COLUMN_COUNT; ++col) {
      const std::string text = DriveCellText(drives[i], col);
      ListView_SetItemText(m_hList, row, col, const_cast<char*>(text.c_str()));
    }
    if (IsDriveSelected(drives[i].m_strDrive, selected)) ListView_SetCheckState(m_hList, row, TRUE);
  }
  Sort();
  for (int row = 0; row < RowCount(); ++row) {
    if (!IsRowChecked(row)) continue;
    ListView_SetItemState(m_hList, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_EnsureVisible(m_hList, row, FALSE);
    break;
  }
  m_bQuiet = false;
}

int CALLBACK CDriveDlg::CompareRows(LPARAM a, LPARAM b, LPARAM selfParam) {
  auto* self = reinterpret_cast<CDriveDlg*>(selfParam);
  const auto& drives = self->m_page.Drives();
  if (static_cast<size_t>(a) >= drives.size() || static_cast<size_t>(b) >= drives.size()) return 0;
  const CDriveData& x = drives[static_cast<size_t>(a)];
  const CDriveData& y = drives[static_cast<size_t>(b)];
  if (self->m_sort.Before(x, y)) return -1;
  if (self->m_sort.Before(y, x)) return 1;
  return 0;
}

void CDriveDlg::Sort() {
  ::SendMessageA(m_hList, LVM_SORTITEMS, reinterpret_cast<WPARAM>(this),
                 reinterpret_cast<LPARAM>(&CDriveDlg::CompareRows));
  HWND header = ListView_GetHeader(m_hList);
  for (int col = 0; col < DRIVE_COLUMN_COUNT; ++col) {
    HDITEMA hd = {};
    hd.mask = HDI_FORMAT;
    Header_GetItem(header, col, &hd);
    hd.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
    if (col == m_sort.Column()) hd.fmt |= m_sort.Ascending() ? HDF_SORTUP : HDF_SORTDOWN;
    Header_SetItem(header, col, &hd);
  }
}

void CDriveDlg::SizeColumns() {
  RECT r;
  ::GetClientRect(m_hList, &r);
  SetListColumnWidths(m_hList, FitColumns(EqualColumns(r.right - r.left, DRIVE_COLUMN_COUNT),
                                          ListColumnNeeds(m_hList, DRIVE_COLUMN_COUNT)));
}

void CDriveDlg::Grow(int dx, int dy) {
  RECT r;
  ::GetWindowRect(m_hList, &r);
  ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
  ::MoveWindow(m_hList, r.left, r.top, r.right - r.left + dx, r.bottom - r.top + dy, TRUE);
  for (int id :
       {IDC_REFRESH, IDC_ANALYZE, IDC_DEFRAG_DRIVE, IDC_DEFRAG_FREE, IDC_OPTIONS, IDC_STOP}) {
    HWND b = ::GetDlgItem(m_hWnd, id);
    ::GetWindowRect(b, &r);
    ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
    ::MoveWindow(b, r.left + (id == IDC_STOP ? dx : 0), r.top + dy, r.right - r.left,
                 r.bottom - r.top, TRUE);
  }
  SizeColumns();
}

void CDriveDlg::OnItemChanged(const NMLISTVIEW* item) {
  if (m_bQuiet || !m_bStarted || item->iItem < 0) return;
  if (!(item->uChanged & LVIF_STATE)) return;
  const UINT changed = item->uNewState ^ item->uOldState;
  if (!(changed & (LVIS_STATEIMAGEMASK | LVIS_SELECTED))) return;
  if (!(item->uNewState & LVIS_SELECTED) && !(changed & LVIS_STATEIMAGEMASK)) return;
  // Only the user's own clicks choose a drive.
  if (!(::GetKeyState(VK_LBUTTON) & 0x8000)) return;
  const int row = item->iItem;
  const size_t index = RowDrive(row);
  if (index >= m_page.Drives().size()) return;
  CDriveData& drive = m_page.Drives()[index];
  if (!IsRowChecked(row)) {
    m_engine.DeleteCache(drive);
    return;
  }
  if (m_engine.CacheExists(drive)) {
    ::PostMessageA(m_hWnd, WM_DP_LOAD, 0, row);
    return;
  }
  std::thread([this, row]() { m_page.MakeCurrent(row, true); }).detach();
}

void CDriveDlg::OnLoadRequest(int row) {
  if (BusyCounter().load() > 0) return;
  CDriveData* previous = m_page.CurrentDrive();
  if (previous && previous->m_bDirty && m_engine.CacheExists(*previous))
    m_engine.SaveDriveData(*previous);
  m_page.MakeCurrent(row, true);
}

void CDriveDlg::SetAllChecks(bool on) {
  m_bQuiet = true;
  for (int row = 0; row < RowCount(); ++row) ListView_SetCheckState(m_hList, row, on);
  m_bQuiet = false;
}

void CDriveDlg::ShowRowMenu() {
  if (BusyCounter().load() > 0) return;
  HMENU menu = ::LoadMenuA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDM_DRIVE_ROW));
  POINT pt;
  ::GetCursorPos(&pt);
  const UINT cmd = ::TrackPopupMenu(::GetSubMenu(menu, 0), TPM_RETURNCMD | TPM_NONOTIFY, pt.x, pt.y,
                                    0, m_hWnd, nullptr);
  ::DestroyMenu(menu);
  switch (cmd) {
    case ID_ROW_ANALYZE:
      StartOperation(OP_ANALYZE);
      break;
    case ID_ROW_DEFRAG_FILES:
      StartOperation(OP_DEFRAG_DRIVE);
      break;
    case ID_ROW_DEFRAG_FREE:
      StartOperation(OP_DEFRAG_FREE);
      break;
    case ID_ROW_SELECT_ALL:
      SetAllChecks(true);
      break;
    case ID_ROW_CLEAR_ALL:
      SetAllChecks(false);
      break;
  }
}

void CDriveDlg::ShowRefreshMenu() {
  HMENU menu = ::LoadMenuA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDM_REFRESH_OPTIONS));
  HMENU popup = ::GetSubMenu(menu, 0);
  ::CheckMenuItem(popup, ID_INCLUDE_REMOVABLE, m_bIncludeRemovable ? MF_CHECKED : MF_UNCHECKED);
  ::CheckMenuItem(popup, ID_INCLUDE_FLOPPY, m_bIncludeFloppy ? MF_CHECKED : MF_UNCHECKED);
  RECT r;
  ::GetWindowRect(::GetDlgItem(m_hWnd, IDC_REFRESH), &r);
  const UINT cmd =
      ::TrackPopupMenu(popup, TPM_RETURNCMD | TPM_NONOTIFY, r.left, r.bottom, 0, m_hWnd, nullptr);
  ::DestroyMenu(menu);
  if (cmd == ID_INCLUDE_REMOVABLE) m_bIncludeRemovable = !m_bIncludeRemovable;
  if (cmd == ID_INCLUDE_FLOPPY) m_bIncludeFloppy = !m_bIncludeFloppy;
}

void CDriveDlg::ShowDefragDriveMenu() {
  HMENU menu = ::LoadMenuA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDM_DEFRAG_DRIVE));
  RECT r;
  ::GetWindowRect(::GetDlgItem(m_hWnd, IDC_DEFRAG_DRIVE), &r);
  const UINT cmd = ::TrackPopupMenu(::GetSubMenu(menu, 0), TPM_RETURNCMD | TPM_NONOTIFY, r.left,
                                    r.bottom, 0, m_hWnd, nullptr);
  ::DestroyMenu(menu);
  if (cmd == ID_DEFRAG_RETRIM) StartOperation(OP_RETRIM);
}

void CDriveDlg::ShowFreeModeMenu() {
  HMENU menu = ::LoadMenuA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDM_FREE_MODE));
  HMENU popup = ::GetSubMenu(menu, 0);
  SettingsFile settings;
  const int mode = settings.DefragFreeMode();
  ::CheckMenuItem(popup, ID_FREE_DONT_FRAGMENT,
                  mode == kFreeModeMaximize ? MF_UNCHECKED : MF_CHECKED);
  ::CheckMenuItem(popup, ID_FREE_MAXIMIZE, mode == kFreeModeMaximize ? MF_CHECKED : MF_UNCHECKED);
  RECT r;
  ::GetWindowRect(::GetDlgItem(m_hWnd, IDC_DEFRAG_FREE), &r);
  const UINT cmd =
      ::TrackPopupMenu(popup, TPM_RETURNCMD | TPM_NONOTIFY, r.left, r.bottom, 0, m_hWnd, nullptr);
  ::DestroyMenu(menu);
  if (cmd == ID_FREE_DONT_FRAGMENT) settings.SetDefragFreeMode(kFreeModeDontFragment);
  if (cmd == ID_FREE_MAXIMIZE) settings.SetDefragFreeMode(kFreeModeMaximize);
}

INT_PTR CALLBACK CDriveDlg::DialogProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  CDriveDlg* self = DialogObject(wnd, msg, lParam, &CDriveDlg::m_hWnd);
  return self ? self->OnMessage(msg, wParam, lParam) : FALSE;
}

INT_PTR CDriveDlg::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_INITDIALOG: {
      m_hList = ::GetDlgItem(m_hWnd, IDC_DRIVE_LIST);
      ListView_SetExtendedListViewStyle(m_hList, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT |
                                                     LVS_EX_GRIDLINES | LVS_EX_DOUBLEBUFFER);
      for (int col = 0; col < DRIVE_COLUMN_COUNT; ++col) {
        LVCOLUMNA c = {};
        c.mask = LVCF_TEXT | LVCF_FMT | LVCF_WIDTH;
        c.fmt = IsNumericColumn(col) ? LVCFMT_RIGHT : LVCFMT_LEFT;
        c.cx = 80;
        c.pszText = const_cast<char*>(kDriveColumnTitles[col]);
        ListView_InsertColumn(m_hList, col, &c);
      }
      SizeColumns();
      SettingsFile settings;
      m_bIncludeRemovable = settings.IncludeRemovable();
      m_bIncludeFloppy = settings.IncludeFloppy();
      Refresh(false);
      EnableButtons(true);
      m_bStarted = true;
      return TRUE;
    }
    case WM_DP_CALL:
      (*reinterpret_cast<const std::function<void()>*>(wParam))();
      return TRUE;
    case WM_DP_LOAD:
      OnLoadRequest(static_cast<int>(lParam));
      return TRUE;
    case WM_NOTIFY: {
      const NMHDR* hdr = reinterpret_cast<const NMHDR*>(lParam);
      if (hdr->idFrom == IDC_DRIVE_LIST) {
        switch (hdr->code) {
          case LVN_ITEMCHANGING: {
            const auto* item = reinterpret_cast<const NMLISTVIEW*>(lParam);
            // While an operation runs the rows keep their checks and selection.
            const bool refuse =
                !m_bQuiet && BusyCounter().load() > 0 && (item->uChanged & LVIF_STATE) &&
                ((item->uNewState ^ item->uOldState) & (LVIS_STATEIMAGEMASK | LVIS_SELECTED));
            ::SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, refuse ? TRUE : FALSE);
            return TRUE;
          }
          case LVN_ITEMCHANGED:
            OnItemChanged(reinterpret_cast<const NMLISTVIEW*>(lParam));
            return TRUE;
          case LVN_COLUMNCLICK:
            if (BusyCounter().load() == 0) {
              m_sort.Click(reinterpret_cast<const NMLISTVIEW*>(lParam)->iSubItem);
              Sort();
            }
            return TRUE;
          case NM_RCLICK:
            ShowRowMenu();
            return TRUE;
        }
      } else if (hdr->code == BCN_DROPDOWN) {
        if (hdr->idFrom == IDC_REFRESH) ShowRefreshMenu();
        if (hdr->idFrom == IDC_DEFRAG_FREE) ShowFreeModeMenu();
        if (hdr->idFrom == IDC_DEFRAG_DRIVE) ShowDefragDriveMenu();
        return TRUE;
      }
      return FALSE;
    }
    case WM_COMMAND:
      if (HIWORD(wParam) != BN_CLICKED) return FALSE;
      switch (LOWORD(wParam)) {
        case IDC_REFRESH:
          if (BusyCounter().load() == 0) Refresh(true);
          return TRUE;
        case IDC_ANALYZE:
          StartOperation(OP_ANALYZE);
          return TRUE;
        case IDC_DEFRAG_DRIVE:
          StartOperation(OP_DEFRAG_DRIVE);
          return TRUE;
        case IDC_DEFRAG_FREE:
          StartOperation(OP_DEFRAG_FREE);
          return TRUE;
        case IDC_OPTIONS:
          if (BusyCounter().load() == 0) ShowOptionsSheet(m_hMain);
          return TRUE;
        case IDC_STOP:
          SetCancel(true);
          ::SendMessageA(m_hMain, UM_PROGRESS, PROGRESS_TEXT,
                         reinterpret_cast<LPARAM>(kStopWaitText));
          ::EnableWindow(::GetDlgItem(m_hWnd, IDC_STOP), FALSE);
          return TRUE;
      }
      return FALSE;
    case WM_DESTROY:
      SaveSettings();
      return FALSE;
  }
  return FALSE;
}

}  // namespace vt
