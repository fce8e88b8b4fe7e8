#include "report/report_page.h"

#include "report/log_files.h"

namespace vt {

CReportPage::CReportPage(IReportPageHost& host, IReportClock& clock)
    : m_host(host), m_clock(clock), m_doc(clock) {}

void CReportPage::Init() { FillLogList(); }

void CReportPage::OnReportChanged() {
  if (m_bLogLoaded) m_strLogBytes.clear();
  m_bLogLoaded = false;
  ++m_nPaneVersion;
}

std::string CReportPage::PaneBytes() const {
  if (m_bLogLoaded) return m_strLogBytes;
  return m_doc.IsEmpty() ? std::string() : m_doc.Rtf();
}

void CReportPage::SaveLog() {
  if (!m_host.LoggingOn() || m_bLogLoaded || m_doc.IsEmpty()) return;
  const std::string folder = m_host.LogFolder();
  if (folder.empty()) return;
  CLogFiles(folder, m_clock).SaveReport(m_doc);
}

void CReportPage::LoadTodaysLog() {
  const std::string folder = m_host.LogFolder();
  if (folder.empty()) return;
  CLogFiles logs(folder, m_clock);
  std::string bytes;
  if (logs.ReadLog(logs.TodaysLogName(), &bytes, nullptr) != LogReadResult::Ok) return;
  m_strLogBytes = std::move(bytes);
  m_bLogLoaded = true;
}

void CReportPage::OnShowPage(bool shown) {
  if (!m_host.LoggingOn()) {
    CloseViewer();
    return;
  }
  if (shown) {
    CloseViewer();
    SaveLog();
    m_doc.ClearReport();
    m_bLogLoaded = false;
    m_strLogBytes.clear();
    LoadTodaysLog();
    ++m_nPaneVersion;
    FillLogList();
  } else if (m_bLogLoaded) {
    // The loaded log is only on show; the next report starts an empty pane.
    m_bLogLoaded = false;
    m_strLogBytes.clear();
    ++m_nPaneVersion;
  }
}

void CReportPage::FillLogList() {
  const std::string folder = m_host.LogFolder();
  m_logs = folder.empty() ? std::vector<std::string>() : CLogFiles(folder, m_clock).ListLogs();
  // The newest date, listed last.
  m_nSelected = m_logs.empty() ? -1 : static_cast<int>(m_logs.size()) - 1;
  ++m_nListVersion;
}

void CReportPage::CloseViewer() {
  if (!m_bViewer) return;
  m_bViewer = false;
  m_strViewerBytes.clear();
  ++m_nViewerVersion;
}

void CReportPage::ViewSelectedLog() {
  if (m_nSelected < 0 || m_nSelected >= static_cast<int>(m_logs.size())) return;
  const std::string folder = m_host.LogFolder();
  if (folder.empty()) return;
  CLogFiles logs(folder, m_clock);
  const std::string& name = m_logs[static_cast<size_t>(m_nSelected)];
  if (logs.IsTodaysLog(name)) return;  // the pane shows it already
  std::string bytes;
  if (logs.ReadLogForViewing(name, m_host.Prompt(), &bytes) != LogReadResult::Ok) return;
  m_bViewer = true;
  m_strViewerBytes = std::move(bytes);
  ++m_nViewerVersion;
}

void CReportPage::ViewOrCloseLog() {
  if (m_bViewer) {
    CloseViewer();
    m_nSelected = m_logs.empty() ? -1 : static_cast<int>(m_logs.size()) - 1;
    ++m_nListVersion;
    return;
  }
  ViewSelectedLog();
}

void CReportPage::OnLogSelected(int index) {
  m_nSelected = index >= 0 && index < static_cast<int>(m_logs.size()) ? index : -1;
  CloseViewer();
  ViewSelectedLog();
}

void CReportPage::DeleteLogs() {
  const std::string folder = m_host.LogFolder();
  if (folder.empty()) return;
  if (CLogFiles(folder, m_clock).DeleteAllLogs(m_host.Prompt()) == LogDeleteResult::Cancelled)
    return;
  // The pane stays as it is; the list and its buttons go.
  m_logs.clear();
  m_nSelected = -1;
  ++m_nListVersion;
}

void CReportPage::ClearReportCommand() {
  if (!ClearReportEnabled()) return;
  const std::string folder = m_host.LogFolder();
  if (!folder.empty()) CLogFiles(folder, m_clock).DeleteTodaysLog();
  m_doc.ClearReport();
  m_bLogLoaded = false;
  m_strLogBytes.clear();
  ++m_nPaneVersion;
}

}  // namespace vt
