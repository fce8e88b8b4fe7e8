#include "cli/report_log.h"

#include <cstdio>

#include "app/settings_file.h"
#include "cli/text_out.h"
#include "platform/settings_folder.h"
#include "report/log_files.h"

namespace vt {

bool FinishReport(const CReportDocument& report, bool print, bool log) {
  if (print) PrintText(report.PlainText());
  if (!log) return true;
  SettingsFile settings;
  if (!settings.SaveLogFiles()) {
    std::fprintf(stderr, "vantrel-cli: log files are switched off (SaveLogFiles is 0)\n");
    return true;
  }
  const std::string folder = SettingsFolder();
  if (folder.empty()) {
    std::fprintf(stderr, "vantrel-cli: there is no settings folder to keep log files in\n");
    return false;
  }
  CLogFiles logs(folder);
  CLogSave saved = logs.SaveReport(report);
  if (saved.m_result == LogSaveResult::Failed) {
    std::fprintf(stderr, "vantrel-cli: the report could not be saved to %s\n",
                 saved.m_strPath.c_str());
    return false;
  }
  return true;
}

}  // namespace vt
