#include "pages/win32/file_dlg.h"

#include <thread>

#include "app/settings_file.h"
#include "engine/globals.h"
#include "map/win32/wnd_graph.h"
#include "pages/drive_page.h"
#include "pages/list_columns.h"
#include "resources/resource.h"
#include "widgets/dialog_base.h"

namespace vt {

namespace {

const int kButtons[] = {IDC_FILE_DEFRAG, IDC_FILE_PROPERTIES, IDC_FILE_EXPLORE};
const int kAlignment[FCOL_COUNT] = {LVCFMT_LEFT,  LVCFMT_RIGHT, LVCFMT_RIGHT, LVCFMT_RIGHT,
                                    LVCFMT_RIGHT, LVCFMT_RIGHT, LVCFMT_LEFT};

struct CSortContext {
  const CDefrag* engine;
  int column;
  bool ascending;
};

int CALLBACK CompareRows(LPARAM a, LPARAM b, LPARAM param) {
  const auto* c = reinterpret_cast<const CSortContext*>(param);
  return CompareFileRows(*c->engine, static_cast<size_t>(a), static_cast<size_t>(b), c->column,
                         c->ascending);
}

}  // namespace

HWND CFileDlg::Create(HWND parent, HWND mainWnd) {
  m_hMain = mainWnd;
  m_hWnd = ::CreateDialogParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_FILES_PAGE),
                                parent, &CFileDlg::DialogProc, reinterpret_cast<LPARAM>(this));
  return m_hWnd;
}

INT_PTR CALLBACK CFileDlg::DialogProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  CFileDlg* self = DialogObject(wnd, msg, lParam, &CFileDlg::m_hWnd);
  return self ? self->OnMessage(msg, wParam, lParam) : FALSE;
}

void CFileDlg::Grow(int dx, int dy) {
  auto move = [&](int id, int x, int y, int w, int h) {
    HWND c = ::GetDlgItem(m_hWnd, id);
    RECT r;
    ::GetWindowRect(c, &r);
    ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
    ::MoveWindow(c, r.left + x, r.top + y, r.right - r.left + w, r.bottom - r.top + h, TRUE);
  };
  move(IDC_FILE_LIST, 0, 0, dx, dy);
  for (int id : {IDC_FILE_DEFRAG, IDC_FILE_PROPERTIES, IDC_FILE_EXPLORE, IDC_FILE_FILTER_LABEL,
                 IDC_FILE_FILTER, IDC_FILES_TEXT})
    move(id, 0, dy, 0, 0);
  move(IDC_FILE_STOP, dx, dy, 0, 0);
  SizeColumns();
}

void CFileDlg::SizeColumns() {
  if (!m_hList) return;
  RECT r;
  ::GetClientRect(m_hList, &r);
  // The design's split, with room moved to the columns whose texts it cuts.
  SetListColumnWidths(m_hList, FitColumns(FileListColumns(r.right - r.left, FCOL_COUNT),
                                          ListColumnNeeds(m_hList, FCOL_COUNT)));
}

std::string CFileDlg::FilterText() const {
  HWND edit = ::GetDlgItem(m_hWnd, IDC_FILE_FILTER);
  const int n = ::GetWindowTextLengthA(edit);
  std::string s(static_cast<size_t>(n) + 1, '\0');
  s.resize(static_cast<size_t>(::GetWindowTextA(edit, &s[0], n + 1)));
  return s;
}

bool CFileDlg::IsEmpty() const { return ::SendMessageA(m_hList, LVM_GETITEMCOUNT, 0, 0) == 0; }

size_t CFileDlg::RowItem(int row) const {
  LVITEMA item = {};
  item.mask = LVIF_PARAM;
  item.iItem = row;
  if (!::SendMessageA(m_hList, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return SIZE_MAX;
  return static_cast<size_t>(item.lParam);
}

std::vector<int> CFileDlg::SelectedRows() const {
  std::vector<int> rows;
  int row = -1;
  while ((row = static_cast<int>(::SendMessageA(m_hList, LVM_GETNEXTITEM, row, LVNI_SELECTED))) >=
         0)
    rows.push_back(row);
  return rows;
}

void CFileDlg::SetStatus(const std::string& text) {
  ::SendMessageA(m_hMain, UM_PROGRESS, PROGRESS_RESET, 0);
  ::SendMessageA(m_hMain, UM_PROGRESS, PROGRESS_TEXT, reinterpret_cast<LPARAM>(text.c_str()));
}

void CFileDlg::SetTitle(const std::string& text) {
  ::SetWindowTextA(m_hMain, OperationTitle(CurrentDrive(), text).c_str());
}

void CFileDlg::WriteRow(int row, const CFileRow& cells) {
  const std::string* texts[FCOL_COUNT] = {
      &cells.m_strName,   &cells.m_strSize,      &cells.m_strFragments, &cells.m_strClusters,
      &cells.m_strDegree, &cells.m_strLastWrite, &cells.m_strFolder};
  for (int c = 0; c < FCOL_COUNT; ++c) {
    LVITEMA item = {};
    item.iSubItem = c;
    item.pszText = const_cast<char*>(texts[c]->c_str());
    ::SendMessageA(m_hList, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
  }
}

void CFileDlg::InsertRows(const std::vector<CFileRow>& rows) {
  m_bQuiet = true;
  int at = 0;
  for (const CFileRow& r : rows) {
    LVITEMA item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = at;
    item.pszText = const_cast<char*>(r.m_strName.c_str());
    item.lParam = static_cast<LPARAM>(r.m_nItem);
    const int row = static_cast<int>(
        ::SendMessageA(m_hList, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    if (row >= 0) WriteRow(row, r);
    ++at;
  }
  m_bQuiet = false;
}

std::vector<size_t> CFileDlg::ListedItems() const {
  std::vector<size_t> items;
  const int n = static_cast<int>(::SendMessageA(m_hList, LVM_GETITEMCOUNT, 0, 0));
  for (int row = 0; row < n; ++row) items.push_back(RowItem(row));
  return items;
}

void CFileDlg::UpdateCountLine() {
  ::SetDlgItemTextA(m_hWnd, IDC_FILES_TEXT, FragmentedCountText(m_engine, ListedItems()).c_str());
}

bool CFileDlg::Fill(const std::string& filter) {
  CDriveData* drive = CurrentDrive();
  if (!m_hList || !drive) return true;
  SetStatus("Updating fragmented file list....");
  const bool ntfs = drive->m_strFileSystem == "NTFS";
  m_bQuiet = true;
  ::SendMessageA(m_hList, LVM_DELETEALLITEMS, 0, 0);
  m_bQuiet = false;
  uint64_t range = m_engine.m_files.GetSize();
  ::SendMessageA(m_hMain, UM_PROGRESS, PROGRESS_RANGE, reinterpret_cast<LPARAM>(&range));
  ::SendMessageA(m_hList, WM_SETREDRAW, FALSE, 0);
  bool stopped = false;
  std::vector<CFileRow> rows = CollectFileRows(
      m_engine, ntfs, m_bShowAll, filter,
      [&](size_t i) {
        if (i % 100 == 0) {
          uint64_t position = i;
          ::SendMessageA(m_hMain, UM_PROGRESS, PROGRESS_POSITION,
                         reinterpret_cast<LPARAM>(&position));
        }
        return !m_filter.Restarting();
      },
      &stopped);
  if (stopped) {
    ::SendMessageA(m_hList, WM_SETREDRAW, TRUE, 0);
    return false;
  }
  if (m_sort.Column() >= 0) SortFileRows(m_engine, rows, m_sort.Column(), m_sort.Ascending());
  InsertRows(rows);
  UpdateCountLine();
  ::SendMessageA(m_hMain, UM_PROGRESS, PROGRESS_RESET, 0);
  ::SendMessageA(m_hList, WM_SETREDRAW, TRUE, 0);
  ::InvalidateRect(m_hList, nullptr, TRUE);
  return true;
}

void CFileDlg::SortList() {
  if (m_sort.Column() < 0) return;
  CSortContext context = {&m_engine, m_sort.Column(), m_sort.Ascending()};
  ::SendMessageA(m_hList, LVM_SORTITEMS, reinterpret_cast<WPARAM>(&context),
                 reinterpret_cast<LPARAM>(&CompareRows));
  HWND header = reinterpret_cast<HWND>(::SendMessageA(m_hList, LVM_GETHEADER, 0, 0));
  for (int c = 0; c < FCOL_COUNT; ++c) {
    HDITEMA h = {};
    h.mask = HDI_FORMAT;
    ::SendMessageA(header, HDM_GETITEMA, c, reinterpret_cast<LPARAM>(&h));
    h.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
    if (c == m_sort.Column()) h.fmt |= m_sort.Ascending() ? HDF_SORTUP : HDF_SORTDOWN;
    ::SendMessageA(header, HDM_SETITEMA, c, reinterpret_cast<LPARAM>(&h));
  }
}

void CFileDlg::Refresh() {
  m_sort.BeforeRefresh();
  Fill(FilterText());
  SortList();
  SizeColumns();
}

void CFileDlg::UpdateFile(const CFileItem* file) {
  if (!file) return;
  const std::string name = file->m_strName;
  const std::string path = m_engine.GetItemPath(*file);
  const int n = static_cast<int>(::SendMessageA(m_hList, LVM_GETITEMCOUNT, 0, 0));
  for (int row = 0; row < n; ++row) {
    const size_t item = RowItem(row);
    if (item >= m_engine.m_files.GetSize()) continue;
    const CFileItem& f = m_engine.m_files[item];
    if (f.m_strName != name || m_engine.GetItemPath(f) != path) continue;
    CFileRow cells;
    if (MakeFileRow(m_engine, item, &cells)) WriteRow(row, cells);
  }
  UpdateCountLine();
}

void CFileDlg::EnableButtons(bool enable) {
  const bool selected = !SelectedRows().empty();
  for (int id : kButtons) ::EnableWindow(::GetDlgItem(m_hWnd, id), enable && selected);
  ::EnableWindow(::GetDlgItem(m_hWnd, IDC_FILE_STOP), !enable);
}

void CFileDlg::ShowSelectionInMap() {
  std::vector<size_t> items;
  for (int row : SelectedRows()) items.push_back(RowItem(row));
  if (CWndGraph* map = MapWindow()) map->ShowFiles(items);
}

void CFileDlg::OnShowPage() {
  if (SelectedRows().size() == 1 || IsEmpty()) return;
  m_bQuiet = true;
  ListView_SetItemState(m_hList, -1, 0, LVIS_SELECTED);
  ListView_SetItemState(m_hList, 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  m_bQuiet = false;
  EnableButtons(BusyCounter().load() == 0);
  ShowSelectionInMap();
}

void CFileDlg::FilterWorker() {
  m_filter.Run([this]() { return FilterText(); }, [this](const std::string& t) { Fill(t); },
               [this]() { SortList(); });
}

void CFileDlg::StartDefrag() {
  if (BusyCounter().load() > 0 || SelectedRows().empty()) return;
  EnableButtons(false);
  std::thread([this]() { DefragWorker(); }).detach();
}

void CFileDlg::DefragWorker() {
  const int mode = SettingsFile().DefragFileMode();
  m_defragRows = SelectedRows();
  std::vector<size_t> items;
  for (int row : m_defragRows) items.push_back(RowItem(row));
  RunFileDefrag(m_engine, items, mode == 1 ? OuterTrack : BestFit, *this);
}

int CFileDlg::RowOfItem(size_t item) const {
  const int n = static_cast<int>(::SendMessageA(m_hList, LVM_GETITEMCOUNT, 0, 0));
  for (int row : m_defragRows)
    if (row < n && RowItem(row) == item) return row;
  return -1;
}

void CFileDlg::OnDefragStart() {
  SetTitle("Defragging File");
  ::SendMessageA(m_hMain, UM_ENABLE_CONTROLS, 0, 0);
  ::EnableWindow(m_hList, FALSE);
  if (CWndGraph* map = MapWindow())
    if (map->Geometry().Compressed()) ::SendMessageA(m_hMain, UM_SET_COMPRESSED, 0, 0);
}

void CFileDlg::BeforeFile(size_t item) {
  ::SendMessageA(m_hList, LVM_ENSUREVISIBLE, RowOfItem(item), FALSE);
}

void CFileDlg::AfterFile(size_t item) {
  CFileRow cells;
  const int row = RowOfItem(item);
  if (row >= 0 && MakeFileRow(m_engine, item, &cells)) WriteRow(row, cells);
  UpdateCountLine();
}

void CFileDlg::OnDefragEnd() {
  m_bQuiet = true;
  ListView_SetItemState(m_hList, -1, 0, LVIS_SELECTED);
  m_bQuiet = false;
  SetStatus("Finished");
  ::EnableWindow(m_hList, TRUE);
  ::SendMessageA(m_hMain, UM_ENABLE_CONTROLS, 1, 0);
  UpdateCountLine();
}

void CFileDlg::RebuildMap() {
  if (CWndGraph* map = MapWindow()) map->Refresh();
}

void CFileDlg::OnDefragDone() { SetTitle(""); }

void CFileDlg::HandleRequest(const std::string& text) {
  m_strRequest = text;
  std::thread([this, text]() {
    // The defragmentation is an operation of its own, after the analysis.
    if (!RunFileRequest(m_engine, m_requestDrive, text, *this).empty()) DefragWorker();
  }).detach();
}

void CFileDlg::ClearList() {
  m_bQuiet = true;
  ::SendMessageA(m_hList, LVM_DELETEALLITEMS, 0, 0);
  m_bQuiet = false;
  ::SetDlgItemTextA(m_hWnd, IDC_FILES_TEXT, "");
}

void CFileDlg::OnAnalysisStart() { SetTitle("Analyzing Volume"); }

void CFileDlg::OnVolumeOpened(uint64_t usedBytes) {
  ::SendMessageA(m_hMain, UM_PROGRESS, PROGRESS_RANGE, reinterpret_cast<LPARAM>(&usedBytes));
  ::SendMessageA(m_hMain, UM_SET_COMPRESSED, 1, 0);
  ::PostMessageA(m_hMain, UM_VIEW_CHANGED, 0, 0);
  ::SendMessageA(m_hMain, UM_ENABLE_CONTROLS, 0, 0);
}

std::vector<size_t> CFileDlg::OnAnalyzed(uint64_t usedBytes) {
  ::SendMessageA(m_hMain, UM_PROGRESS, PROGRESS_PERCENT, reinterpret_cast<LPARAM>(&usedBytes));
  if (CWndGraph* map = MapWindow()) map->Refresh();
  m_bShowAll = true;
  m_sort.BeforeRefresh();
  Fill("");
  SortList();
  SizeColumns();
  m_bShowAll = false;
  SetStatus("Analyze complete.");
  return ListedItems();
}

void CFileDlg::SelectRows(const std::vector<size_t>& rows) {
  m_bQuiet = true;
  ListView_SetItemState(m_hList, -1, 0, LVIS_SELECTED);
  for (size_t row : rows)
    ListView_SetItemState(m_hList, static_cast<int>(row), LVIS_SELECTED, LVIS_SELECTED);
  m_bQuiet = false;
}

void CFileDlg::OnAnalysisEnd() {
  ::SendMessageA(m_hMain, UM_ENABLE_CONTROLS, 1, 0);
  SetTitle("");
}

void CFileDlg::ShellOnSelection(bool explore) {
  const std::vector<int> rows = SelectedRows();
  if (rows.size() != 1) return;
  const size_t item = RowItem(rows[0]);
  if (item >= m_engine.m_files.GetSize()) return;
  const CFileItem& f = m_engine.m_files[item];
  if (::GetFileAttributesA(m_engine.GetItemPath(f).c_str()) == INVALID_FILE_ATTRIBUTES) return;
  ShellOnPath(m_hMain, ShellTargetPath(m_engine, f, explore), explore);
}

void CFileDlg::ShowRowMenu() {
  POINT pt;
  ::GetCursorPos(&pt);
  LVHITTESTINFO hit = {};
  hit.pt = pt;
  ::ScreenToClient(m_hList, &hit.pt);
  const int row =
      static_cast<int>(::SendMessageA(m_hList, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
  HMENU menu = ::LoadMenuA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDM_FILE_ROW));
  if (!menu) return;
  const int cmd = ::TrackPopupMenu(::GetSubMenu(menu, 0), TPM_RIGHTBUTTON | TPM_RETURNCMD, pt.x,
                                   pt.y, 0, m_hWnd, nullptr);
  ::DestroyMenu(menu);
  if (cmd == ID_FILE_ROW_DEFRAG) {
    StartDefrag();
  } else if ((cmd == ID_FILE_ROW_EXPLORE || cmd == ID_FILE_ROW_PROPERTIES) && row >= 0) {
    ListView_SetItemState(m_hList, -1, 0, LVIS_SELECTED);
    ListView_SetItemState(m_hList, row, LVIS_SELECTED, LVIS_SELECTED);
    ShellOnSelection(cmd == ID_FILE_ROW_EXPLORE);
  }
}

void CFileDlg::ShowModeMenu() {
  HMENU menu = ::LoadMenuA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDM_FILE_MODE));
  if (!menu) return;
  HMENU popup = ::GetSubMenu(menu, 0);
  const int mode = SettingsFile().DefragFileMode();
  ::CheckMenuItem(popup, mode == 1 ? ID_FILE_MODE_OUTER : ID_FILE_MODE_BEST_FIT,
                  MF_BYCOMMAND | MF_CHECKED);
  RECT r;
  ::GetWindowRect(::GetDlgItem(m_hWnd, IDC_FILE_DEFRAG), &r);
  const int cmd = ::TrackPopupMenu(popup, TPM_RETURNCMD, r.left, r.bottom, 0, m_hWnd, nullptr);
  ::DestroyMenu(menu);
  if (cmd == ID_FILE_MODE_BEST_FIT || cmd == ID_FILE_MODE_OUTER)
    SettingsFile().SetDefragFileMode(cmd == ID_FILE_MODE_OUTER ? 1 : 0);
}

INT_PTR CFileDlg::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_INITDIALOG: {
      m_hList = ::GetDlgItem(m_hWnd, IDC_FILE_LIST);
      ::SendMessageA(m_hList, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                     LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
      for (int c = 0; c < FCOL_COUNT; ++c) {
        LVCOLUMNA col = {};
        col.mask = LVCF_TEXT | LVCF_FMT | LVCF_WIDTH;
        col.fmt = kAlignment[c];
        col.cx = 80;
        col.pszText = const_cast<char*>(kFileColumnTitles[c]);
        ::SendMessageA(m_hList, LVM_INSERTCOLUMNA, c, reinterpret_cast<LPARAM>(&col));
      }
      SizeColumns();
      ::SetDlgItemTextA(m_hWnd, IDC_FILES_TEXT, "");
      return TRUE;
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_FILE_DEFRAG:
          if (HIWORD(wParam) == BN_CLICKED) StartDefrag();
          return TRUE;
        case IDC_FILE_PROPERTIES:
          ShellOnSelection(false);
          return TRUE;
        case IDC_FILE_EXPLORE:
          ShellOnSelection(true);
          return TRUE;
        case IDC_FILE_STOP:
          SetCancel(true);
          return TRUE;
        case IDC_FILE_FILTER:
          if (HIWORD(wParam) == EN_CHANGE) {
            std::thread([this]() {
              ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
              FilterWorker();
            }).detach();
          }
          return TRUE;
      }
      break;
    case WM_NOTIFY: {
      const NMHDR* hdr = reinterpret_cast<const NMHDR*>(lParam);
      if (hdr->idFrom == IDC_FILE_DEFRAG && hdr->code == BCN_DROPDOWN) {
        ShowModeMenu();
        return TRUE;
      }
      if (hdr->idFrom != IDC_FILE_LIST) break;
      const bool busy = BusyCounter().load() > 0;
      switch (hdr->code) {
        case LVN_COLUMNCLICK:
          if (!busy) {
            m_sort.OnHeaderClick(reinterpret_cast<const NMLISTVIEW*>(lParam)->iSubItem);
            SortList();
          }
          return TRUE;
        case LVN_ITEMCHANGED:
          if (!m_bQuiet && !busy) EnableButtons(true);
          return TRUE;
        case NM_CLICK:
          if (!busy) {
            ::SendMessageA(m_hMain, UM_SET_COMPRESSED, 0, 0);
            ShowSelectionInMap();
            // The range change this posts moves the focus; the keys (and
            // the selection's colour) stay with the list that was clicked.
            ::PostMessageA(m_hMain, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(m_hList), TRUE);
          }
          return TRUE;
        case NM_RCLICK:
          if (!busy) ShowRowMenu();
          return TRUE;
      }
      break;
    }
  }
  return FALSE;
}

}  // namespace vt
