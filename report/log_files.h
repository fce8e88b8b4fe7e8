// The daily RTF log files in the settings folder: saving a report into
// today's file, the list of logs, reading one for viewing, deleting all.
#pragma once

#include <string>
#include <vector>

#include "platform/ui_sink.h"
#include "report/report_clock.h"

namespace vt {

class CReportDocument;

enum class LogSaveResult {
  Nothing,   // the report is empty
  Created,   // a new file holds the whole document
  Appended,  // the report's body was added to the stored document
  Failed,    // the file could not be opened or written; no message
};

struct CLogSave {
  LogSaveResult m_result = LogSaveResult::Nothing;
  std::string m_strPath;
};

enum class LogReadResult { Ok, Empty, Unreadable, BadName };
enum class LogDeleteResult { Cancelled, Deleted, Failed };

class CLogFiles {
 public:
  // folder: normally SettingsFolder().
  explicit CLogFiles(std::string folder, IReportClock& clock = HostReportClock());
  virtual ~CLogFiles() = default;

  const std::string& Folder() const { return m_strFolder; }
  // "%Y-%m-%d.rtf" of today's local date.
  std::string TodaysLogName();
  std::string TodaysLogPath();
  // Whether a listed name is today's log (ignoring case).
  bool IsTodaysLog(const std::string& name);

  // Adds a report to today's log, one file a day. A missing or empty file
  // gets the whole document; a stored one grows by the new body, written
  // over its closing brace and line end. The day's whole new log is written
  // to a temporary file in the folder, flushed and renamed over the old
  // one, so a failed save leaves what was logged as it was. Split files of
  // the day left by earlier versions ("%Y-%m-%d_2.rtf", "_3", ...) are
  // merged in and removed.
  CLogSave SaveLog(const std::string& rtf, const std::string& plainText);
  CLogSave SaveReport(const CReportDocument& report);

  // Names of the "*.rtf" files in the folder, sorted (the newest date last).
  std::vector<std::string> ListLogs() const;

  // Reads a listed log whole. The name must be a plain file name.
  LogReadResult ReadLog(const std::string& name, std::string* bytes, std::string* path) const;
  // The same, and an empty log shows "<full path> is empty." (error icon).
  LogReadResult ReadLogForViewing(const std::string& name, IPrompt& prompt, std::string* bytes);

  // Asks "Delete all log files?" and deletes every log; the first that
  // cannot be deleted shows "Could not delete file <name>" and ends it.
  LogDeleteResult DeleteAllLogs(IPrompt& prompt);
  // "Clear report" removes today's file whatever the log switch says.
  bool DeleteTodaysLog();

 protected:
  virtual bool RemoveFile(const std::string& path);

 private:
  std::string m_strFolder;
  IReportClock& m_clock;
};

constexpr const char* kDeleteLogsQuestion = "Delete all log files?";

}  // namespace vt
