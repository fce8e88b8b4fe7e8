// CReportDlg: the "Report" page. It is the run report's sink for every
// operation (worker threads write through it; the pane is redrawn on the
// window's thread) and shows what its controller (CReportPage) decides:
// the pane, the list of logs and the viewer of an older log.
#pragma once

#include <windows.h>

#include <string>

#include "report/report_page.h"
#include "widgets/rich_edit_gs.h"

namespace vt {

class CReportDlg : public IReportSink {
 public:
  // `prompt`: the program's message box, for the page's questions and errors.
  explicit CReportDlg(IPrompt& prompt);

  // Creates the page (template 106) as a child of the tab control's owner.
  HWND Create(HWND parent);
  HWND Handle() const { return m_hWnd; }

  void AddHeading(const std::string& action) override;
  void AddStoppedHeading(const std::string& action) override;
  void AddFailedHeading(const std::string& action) override;
  void AddLine(const std::string& label, const std::string& value) override;
  void AddNumberLine(const std::string& label, uint64_t number) override;
  void AddBold(const std::string& text) override;
  void AddFileList(CGrowableArray<CFileErrors>& errors) override;
  void ClearReport() override;

  // Adds the report to today's log, with logging on, unless the pane shows
  // that log already.
  void SaveLog();
  // The page was shown or hidden by the tab control.
  void OnShowPage(bool shown);
  // The main window grew by dx, dy.
  void Grow(int dx, int dy);
  const CReportDocument& Document() const { return m_page.Document(); }

 private:
  class CHost : public IReportPageHost {
   public:
    explicit CHost(IPrompt& prompt) : m_prompt(prompt) {}
    IPrompt& Prompt() override { return m_prompt; }
    std::string LogFolder() override;
    bool LoggingOn() override;
    void SetLoggingOn(bool on) override;

   private:
    IPrompt& m_prompt;
  };

  static INT_PTR CALLBACK DialogProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
  INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  void Changed();
  // Moves the controller's values into the controls that show them.
  void Show();
  void ShowViewer();
  void ShowMenu();
  void CopyShownText();

  HWND m_hWnd = nullptr;
  CHost m_host;
  CReportPage m_page;
  CRichEditCtrlGS m_pane;
  CRichEditCtrlGS m_viewer;
  unsigned m_nPaneShown = ~0u;
  unsigned m_nViewerShown = 0;
  unsigned m_nListShown = ~0u;
};

}  // namespace vt
