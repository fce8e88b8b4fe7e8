// CReportDlg: the "Report" page. It is the run report's sink for every
// operation (worker threads write through it; the pane is redrawn on the
// window's thread), keeps the day's log file and shows older logs.
#pragma once

#include <windows.h>

#include <string>

#include "report/report_document.h"
#include "widgets/rich_edit_gs.h"

namespace vt {

class CReportDlg : public IReportSink {
 public:
  CReportDlg() = default;

  // Creates the page (template 106) as a child of the tab control's owner.
  HWND Create(HWND parent);
  HWND Handle() const { return m_hWnd; }

  void AddHeading(const std::string& action) override;
  void AddLine(const std::string& label, const std::string& value) override;
  void AddNumberLine(const std::string& label, uint64_t number) override;
  void AddBold(const std::string& text) override;
  void AddFileList(CGrowableArray<CFileErrors>& errors) override;
  void ClearReport() override;

  // Adds the report to today's log unless the pane shows that log already.
  void SaveLog();
  // The page was shown or hidden by the tab control.
  void OnShowPage(bool shown);
  // The main window grew by dx, dy.
  void Grow(int dx, int dy);
  const CReportDocument& Document() const { return m_doc; }

 private:
  static INT_PTR CALLBACK DialogProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
  INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  void Changed();
  void Render();
  void FillLogList();
  void ViewOrCloseLog();
  void ViewSelectedLog();
  void CloseViewer();
  void DeleteLogs();
  void ShowMenu();
  bool LoggingOn() const;

  HWND m_hWnd = nullptr;
  CReportDocument m_doc;
  CRichEditCtrlGS m_pane;
  CRichEditCtrlGS m_viewer;
  bool m_bLogLoaded = false;
};

}  // namespace vt
