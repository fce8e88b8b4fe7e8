// CFileDlg: the "Fragmented Files" page: the list of fragmented files with
// its filter, sorting and count line, the file defrag worker, Explore and
// Properties, and the requests handed over from Explorer.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <string>
#include <vector>

#include "pages/file_page.h"

namespace vt {

class CFileDlg : private IFileDefragView, private IFileRequestView {
 public:
  explicit CFileDlg(CDefrag& engine) : m_engine(engine) {}
  HWND Create(HWND parent, HWND mainWnd);
  HWND Handle() const { return m_hWnd; }
  void Grow(int dx, int dy);

  // UM_FILL_FILE_LIST: fill, then sort (Fragments first, then as chosen).
  void Refresh();
  bool IsEmpty() const;
  // UM_FILE_DEFRAGGED: the rows of that file written again.
  void UpdateFile(const CFileItem* file);
  // UM_ENABLE_CONTROLS.
  void EnableButtons(bool enable);
  // The page became visible: a row is selected and shown in the map.
  void OnShowPage();
  // A request from the command line: "/defrag FILE" or "/analyze FILE".
  void HandleRequest(const std::string& text);

 private:
  static INT_PTR CALLBACK DialogProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
  INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  std::string FilterText() const;
  // Fills the list; false when a restart broke it off.
  bool Fill(const std::string& filter);
  void InsertRows(const std::vector<CFileRow>& rows);
  void WriteRow(int row, const CFileRow& cells);
  std::vector<size_t> ListedItems() const;
  void UpdateCountLine();
  void SortList();
  void SizeColumns();
  std::vector<int> SelectedRows() const;
  size_t RowItem(int row) const;
  void ShowSelectionInMap();
  void FilterWorker();
  void StartDefrag();
  void DefragWorker();
  int RowOfItem(size_t item) const;
  // IFileDefragView
  void OnDefragStart() override;
  void BeforeFile(size_t item) override;
  void AfterFile(size_t item) override;
  void OnDefragEnd() override;
  void RebuildMap() override;
  void OnDefragDone() override;
  // IFileRequestView
  void ClearList() override;
  void OnAnalysisStart() override;
  void OnVolumeOpened(uint64_t usedBytes) override;
  std::vector<size_t> OnAnalyzed(uint64_t usedBytes) override;
  void SelectRows(const std::vector<size_t>& rows) override;
  void OnAnalysisEnd() override;
  void ShellOnSelection(bool explore);
  void ShowRowMenu();
  void ShowModeMenu();
  void SetStatus(const std::string& text);
  void SetTitle(const std::string& text);

  CDefrag& m_engine;
  HWND m_hWnd = nullptr;
  HWND m_hMain = nullptr;
  HWND m_hList = nullptr;
  CFileSort m_sort;
  CFilterFill m_filter;
  bool m_bShowAll = false;
  bool m_bQuiet = false;          // selection changes made by the page itself
  std::vector<int> m_defragRows;  // the rows of the running batch
  std::string m_strRequest;
  CDriveData m_requestDrive;  // the drive record requests work on
};

}  // namespace vt
