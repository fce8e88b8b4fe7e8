// CDriveDlg: the "Drives" page. It shows the drive list and its buttons,
// forwards the user's choices to the drive page's controller and runs the
// controller's workers on threads of their own.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>

#include "pages/drive_page.h"

namespace vt {

class CDriveDlg : public IDrivePageView {
 public:
  explicit CDriveDlg(CDefrag& engine, IReportSink* report);
  HWND Create(HWND parent, HWND mainWnd);
  HWND Handle() const { return m_hWnd; }

  // Enables the page's buttons (Stop the other way) after an operation.
  void EnableButtons(bool enable);
  // UM_DRIVE_UPDATE: the current row's statistics again.
  void RefreshCurrentRow();
  // Starts the worker with an operation code (0, 1, 2).
  void StartOperation(int operation);
  // Analyses the current drive on a new thread (the main window's question).
  void AnalyzeCurrentDrive();
  bool CurrentDriveAnalysed();
  void Grow(int dx, int dy);
  // Saves the check marks and the enumeration options.
  void SaveSettings();

  // IDrivePageView, called from the workers.
  int RowCount() override;
  bool IsRowChecked(int row) override;
  size_t RowDrive(int row) override;
  void SelectRow(int row) override;
  void UpdateRow(int row) override;
  void SetTitleText(const std::string& text) override;
  void EnableControls(bool enable) override;
  void SetStatus(const std::string& text) override;
  void Notify(UINT message, WPARAM wParam, bool post) override;
  bool RefreshMap() override;
  void EmptyFileList() override;
  int ShowCompletion(const std::string& caption, const std::string& message) override;

 private:
  static INT_PTR CALLBACK DialogProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
  INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  void RunOnUi(const std::function<void()>& fn);
  void Refresh(bool saveChecks);
  void FillList(bool saveChecks);
  void Sort();
  void SizeColumns();
  void OnItemChanged(const NMLISTVIEW* item);
  void OnLoadRequest(int row);
  void ShowRowMenu();
  void ShowRefreshMenu();
  void ShowFreeModeMenu();
  void ShowDefragDriveMenu();  // "Retrim" for the checked drives
  void SetAllChecks(bool on);
  std::string CheckedRoots();
  static int CALLBACK CompareRows(LPARAM a, LPARAM b, LPARAM self);

  HWND m_hWnd = nullptr;
  HWND m_hMain = nullptr;
  HWND m_hList = nullptr;
  DWORD m_dwUiThread = 0;
  CDefrag& m_engine;
  CDrivePage m_page;
  CDriveSort m_sort;
  bool m_bStarted = false;  // the page has finished starting
  bool m_bQuiet = false;    // list changes made by the page itself
  bool m_bIncludeRemovable = false;
  bool m_bIncludeFloppy = false;
};

}  // namespace vt
