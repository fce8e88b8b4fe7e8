#include "report/log_files.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "base/text.h"
#include "platform/plain_files.h"
#include "platform/settings_folder.h"
#include "report/report_document.h"
#include "report/rtf_text.h"

namespace vt {

namespace {

constexpr int kMaxFilesPerDay = 1000;
constexpr uint64_t kMaxLogBytes = 512ull * 1024 * 1024;

class CFile {
 public:
  CFile(const char* path, const char* mode) : m_f(std::fopen(path, mode)) {}
  explicit CFile(std::FILE* f) : m_f(f) {}
  ~CFile() { Close(); }
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;
  std::FILE* Get() const { return m_f; }
  bool Close() {
    if (!m_f) return true;
    const bool ok = std::fclose(m_f) == 0;
    m_f = nullptr;
    return ok;
  }

 private:
  std::FILE* m_f;
};

bool EndsWithRtf(const std::string& name) {
  if (name.size() <= 4) return false;
  std::string ext = name.substr(name.size() - 4);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".rtf";
}

bool IsPlainName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find_first_of("/\\:") == std::string::npos;
}

bool ReadWhole(const std::string& path, std::string* bytes) {
  bytes->clear();
  CFile file(OpenPlainFileForReading(path));
  if (!file.Get() || !SeekPlainFile(file.Get(), 0, SEEK_END)) return false;
  const int64_t size = TellPlainFile(file.Get());
  if (size < 0 || static_cast<uint64_t>(size) > kMaxLogBytes) return false;
  if (!SeekPlainFile(file.Get(), 0, SEEK_SET)) return false;
  bytes->resize(static_cast<size_t>(size));
  return size == 0 || std::fread(&(*bytes)[0], 1, bytes->size(), file.Get()) == bytes->size();
}

// A stored document grows by the body of the next one: over its closing
// brace and line end when it ends with them, else (a log cut short) after
// its last byte, where a reader still finds the text.
std::string AppendRtfBody(const std::string& stored, const std::string& next) {
  const std::string body = RtfBodyForAppend(next);
  size_t keep = stored.size();
  if (keep >= 3 && stored.compare(keep - 3, 3, "}\r\n") == 0)
    keep -= 3;
  else if (keep >= 2 && stored.compare(keep - 2, 2, "}\n") == 0)
    keep -= 2;
  return stored.substr(0, keep) + body;
}

}  // namespace

CLogFiles::CLogFiles(std::string folder, IReportClock& clock)
    : m_strFolder(std::move(folder)), m_clock(clock) {}

std::string CLogFiles::TodaysLogName() { return IsoDate(m_clock.LocalTime()) + ".rtf"; }

std::string CLogFiles::TodaysLogPath() { return JoinPath(m_strFolder, TodaysLogName()); }

bool CLogFiles::IsTodaysLog(const std::string& name) { return EqualsNoCase(name, TodaysLogName()); }

CLogSave CLogFiles::SaveLog(const std::string& rtf, const std::string& plainText) {
  CLogSave result;
  if (plainText.empty() || rtf.empty()) return result;
  const std::string day = IsoDate(m_clock.LocalTime());
  const std::string path = JoinPath(m_strFolder, day + ".rtf");
  result.m_strPath = path;
  result.m_result = LogSaveResult::Failed;

  // The day's log as it will be: what is stored, the day's older split
  // files ("_2", "_3", ... of earlier versions) merged in, then this report.
  std::string merged;
  std::vector<std::string> absorbed;
  bool stored = false;
  for (int n = 1; n <= kMaxFilesPerDay; ++n) {
    const std::string name = n == 1 ? day + ".rtf" : day + "_" + std::to_string(n) + ".rtf";
    const std::string part = JoinPath(m_strFolder, name);
    if (!PlainFileExists(part)) {
      if (n == 1) continue;
      break;
    }
    std::string bytes;
    // A log that exists but cannot be read is skipped without a message,
    // and nothing is written over it.
    if (!ReadWhole(part, &bytes)) return result;
    if (n > 1) absorbed.push_back(part);
    if (bytes.empty()) continue;
    merged = stored ? AppendRtfBody(merged, bytes) : bytes;
    stored = true;
  }
  merged = stored ? AppendRtfBody(merged, rtf) : rtf;

  // A whole new file beside the old one, flushed, then renamed over it: a
  // failed save leaves the old log as it was.
  const std::string temp = path + ".tmp";
  {
    CFile out(temp.c_str(), "wb");
    if (!out.Get()) return result;
    const bool written = std::fwrite(merged.data(), 1, merged.size(), out.Get()) == merged.size() &&
                         FlushPlainFile(out.Get());
    if (!out.Close() || !written) {
      std::remove(temp.c_str());
      return result;
    }
  }
  if (!MovePlainFileOver(temp, path)) {
    std::remove(temp.c_str());
    return result;
  }
  for (const std::string& part : absorbed) std::remove(part.c_str());
  result.m_result = stored ? LogSaveResult::Appended : LogSaveResult::Created;
  return result;
}

CLogSave CLogFiles::SaveReport(const CReportDocument& report) {
  const std::vector<CTextRun> runs = report.Runs();
  std::string plain;
  for (const CTextRun& r : runs) plain += r.m_strText;
  return SaveLog(RenderRtf(runs), plain);
}

std::vector<std::string> CLogFiles::ListLogs() const {
  std::vector<std::string> names;
  for (const std::string& name : PlainFilesIn(m_strFolder))
    if (EndsWithRtf(name)) names.push_back(name);
  std::sort(names.begin(), names.end());
  return names;
}

LogReadResult CLogFiles::ReadLog(const std::string& name, std::string* bytes,
                                 std::string* path) const {
  bytes->clear();
  if (!IsPlainName(name)) return LogReadResult::BadName;
  const std::string full = JoinPath(m_strFolder, name);
  if (path) *path = full;
  CFile file(full.c_str(), "rb");
  if (!file.Get()) return LogReadResult::Unreadable;
  if (!SeekPlainFile(file.Get(), 0, SEEK_END)) return LogReadResult::Unreadable;
  const int64_t size = TellPlainFile(file.Get());
  if (size < 0 || static_cast<uint64_t>(size) > kMaxLogBytes) return LogReadResult::Unreadable;
  if (size == 0) return LogReadResult::Empty;
  if (!SeekPlainFile(file.Get(), 0, SEEK_SET)) return LogReadResult::Unreadable;
  bytes->resize(static_cast<size_t>(size));
  if (std::fread(&(*bytes)[0], 1, bytes->size(), file.Get()) != bytes->size()) {
    bytes->clear();
    return LogReadResult::Unreadable;
  }
  return LogReadResult::Ok;
}

LogReadResult CLogFiles::ReadLogForViewing(const std::string& name, IPrompt& prompt,
                                           std::string* bytes) {
  std::string path;
  const LogReadResult r = ReadLog(name, bytes, &path);
  if (r == LogReadResult::Empty) prompt.ShowMessage(path + " is empty.", MB_OK | MB_ICONERROR);
  return r;
}

LogDeleteResult CLogFiles::DeleteAllLogs(IPrompt& prompt) {
  if (prompt.ShowMessage(kDeleteLogsQuestion, MB_YESNO) != IDYES) return LogDeleteResult::Cancelled;
  // A bound on the loop, in case a deletion reports success and the file stays.
  size_t rounds = ListLogs().size() + 1;
  while (rounds-- > 0) {
    const std::vector<std::string> names = ListLogs();
    if (names.empty()) return LogDeleteResult::Deleted;
    if (!RemoveFile(JoinPath(m_strFolder, names.front()))) {
      prompt.ShowMessage("Could not delete file " + names.front(), MB_OK | MB_ICONERROR);
      return LogDeleteResult::Failed;
    }
  }
  return ListLogs().empty() ? LogDeleteResult::Deleted : LogDeleteResult::Failed;
}

bool CLogFiles::DeleteTodaysLog() {
  const std::string path = TodaysLogPath();
  return !PlainFileExists(path) || RemoveFile(path);
}

bool CLogFiles::RemoveFile(const std::string& path) { return DeletePlainFile(path); }

}  // namespace vt
