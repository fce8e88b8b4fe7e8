// CReportPage: what the "Report" page decides, apart from its window: the
// run report it collects, which log the pane or the viewer shows, what
// View Log, Close Log, Delete Logs and the report menu do, and when the
// report goes into today's log. The window moves these values to its
// controls and hands the user's actions back.
#pragma once

#include <string>
#include <vector>

#include "platform/ui_sink.h"
#include "report/report_clock.h"
#include "report/report_document.h"

namespace vt {

// What the page needs from the rest of the program.
class IReportPageHost {
 public:
  virtual ~IReportPageHost() = default;
  virtual IPrompt& Prompt() = 0;
  // The folder of the log files; empty when there is none.
  virtual std::string LogFolder() = 0;
  // The "SaveLogFiles" switch.
  virtual bool LoggingOn() = 0;
  virtual void SetLoggingOn(bool on) = 0;
};

constexpr const char* kViewLogText = "View log";
constexpr const char* kCloseLogText = "Close log";

class CReportPage {
 public:
  explicit CReportPage(IReportPageHost& host, IReportClock& clock = HostReportClock());

  // The report the operations write (from any thread).
  CReportDocument& Document() { return m_doc; }
  const CReportDocument& Document() const { return m_doc; }

  // The window was created: the log list is filled.
  void Init();
  // Something was written to the report: the pane shows the report again,
  // and a day's log loaded into it no longer stands for it.
  void OnReportChanged();
  // Adds the report to today's log, with logging on, unless the pane shows
  // that log already or the report is empty.
  void SaveLog();
  // The tab control showed or hid the page.
  void OnShowPage(bool shown);
  void SetLoggingOn(bool on) { m_host.SetLoggingOn(on); }
  // "View Log" / "Close log".
  void ViewOrCloseLog();
  // The user picked entry `index` of the log list.
  void OnLogSelected(int index);
  void DeleteLogs();
  // "Clear report": today's log goes whatever the switch says, and the pane empties.
  void ClearReportCommand();
  void CloseViewer();

  // The values the window shows.
  bool LoggingOn() { return m_host.LoggingOn(); }
  const std::vector<std::string>& Logs() const { return m_logs; }
  int SelectedLog() const { return m_nSelected; }
  bool LogButtonsEnabled() const { return !m_logs.empty(); }
  bool ViewerShown() const { return m_bViewer; }
  const std::string& ViewerBytes() const { return m_strViewerBytes; }
  const char* ViewButtonText() const { return m_bViewer ? kCloseLogText : kViewLogText; }
  // The bytes the pane streams in: today's log while it is loaded, else the report.
  std::string PaneBytes() const;
  bool LogLoaded() const { return m_bLogLoaded; }
  // The report menu: "Clear report" is grey while a past log is shown, and
  // "Copy to clipboard" copies what is shown.
  bool ClearReportEnabled() const { return !m_bViewer; }
  // Each changes whenever the thing it names must be shown again.
  unsigned PaneVersion() const { return m_nPaneVersion; }
  unsigned ViewerVersion() const { return m_nViewerVersion; }
  unsigned ListVersion() const { return m_nListVersion; }

 private:
  void FillLogList();
  void ViewSelectedLog();
  void LoadTodaysLog();

  IReportPageHost& m_host;
  IReportClock& m_clock;
  CReportDocument m_doc;
  std::vector<std::string> m_logs;
  int m_nSelected = -1;
  bool m_bLogLoaded = false;
  std::string m_strLogBytes;  // today's log while it is loaded
  bool m_bViewer = false;
  std::string m_strViewerBytes;
  unsigned m_nPaneVersion = 0;
  unsigned m_nViewerVersion = 0;
  unsigned m_nListVersion = 0;
};

}  // namespace vt
