#include "app/settings_file.h"

#include <climits>
#include <mutex>
#include <shared_mutex>

#include "app/ini_text.h"
#include "base/text.h"
#include "platform/settings_folder.h"

namespace vt {

namespace {

// Writers of one process read, change and replace the file in turn, so that
// two keys written at once by two threads both survive.
// Where the system cannot replace a file while it is open (Windows), this
// process's readers also step aside while a writer renames; others are
// waited out by the writer. Elsewhere readers need no lock: a rename
// replaces the file whole.
std::shared_mutex g_fileLock;
class CReadGuard {
 public:
  explicit CReadGuard(std::shared_mutex& lock) : m_lock(lock), m_bLocked(ReplaceWaitsForReaders()) {
    if (m_bLocked) m_lock.lock_shared();
  }
  ~CReadGuard() {
    if (m_bLocked) m_lock.unlock_shared();
  }
  CReadGuard(const CReadGuard&) = delete;
  CReadGuard& operator=(const CReadGuard&) = delete;

 private:
  std::shared_mutex& m_lock;
  const bool m_bLocked;
};
using CWriteGuard = std::unique_lock<std::shared_mutex>;

bool HasLineBreakOrNul(const std::string& text) {
  return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

bool ValidName(const char* name) {
  if (!name || !*name) return false;
  const std::string text = name;
  return !HasLineBreakOrNul(text) && text.find('=') == std::string::npos && text[0] != '[' &&
         TrimProfileBlanks(text) == text;
}

bool ParseDecimal(const std::string& text, bool allowNegative, long long low, long long high,
                  long long* value) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (negative && !allowNegative) return false;
  const size_t digits = i;
  long long magnitude = 0;
  while (i < n && text[i] >= '0' && text[i] <= '9') {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > (1LL << 33)) return false;  // well past any 32-bit value
    ++i;
  }
  if (i == digits) return false;
  while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (i != n) return false;
  const long long result = negative ? -magnitude : magnitude;
  if (result < low || result > high) return false;
  *value = result;
  return true;
}

}  // namespace

bool ParseInt32(const std::string& text, int32_t* value) {
  long long v = 0;
  if (!ParseDecimal(text, true, INT32_MIN, INT32_MAX, &v)) return false;
  *value = static_cast<int32_t>(v);
  return true;
}

bool ParseUInt32(const std::string& text, uint32_t* value) {
  long long v = 0;
  if (!ParseDecimal(text, false, 0, UINT32_MAX, &v)) return false;
  *value = static_cast<uint32_t>(v);
  return true;
}

std::string StripProfileQuotes(const std::string& value) {
  if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
    return value.substr(1, value.size() - 2);
  return value;
}

std::vector<std::string> SplitTerminatedList(const std::string& text) {
  std::vector<std::string> items;
  size_t start = 0;
  for (size_t comma = text.find(','); comma != std::string::npos; comma = text.find(',', start)) {
    items.push_back(text.substr(start, comma - start));
    start = comma + 1;
  }
  return items;
}

std::string JoinTerminatedList(const std::vector<std::string>& items) {
  std::string text;
  for (const auto& item : items) {
    text += item;
    text += ',';
  }
  return text;
}

bool ParseWindowRect(const std::string& text, CWindowRect* rect) {
  int32_t values[4];
  size_t start = 0;
  for (int i = 0; i < 4; ++i) {
    if (start > text.size()) return false;
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    if (!ParseInt32(text.substr(start, comma - start), &values[i])) return false;
    start = comma + 1;
  }
  rect->left = values[0];
  rect->top = values[1];
  rect->right = values[2];
  rect->bottom = values[3];
  return true;
}

std::string FormatWindowRect(const CWindowRect& rect) {
  return Format("%d,%d,%d,%d", static_cast<int>(rect.left), static_cast<int>(rect.top),
                static_cast<int>(rect.right), static_cast<int>(rect.bottom));
}

SettingsFile::SettingsFile() {
  const std::string folder = SettingsFolder();
  if (!folder.empty()) m_strPath = JoinPath(folder, kSettingsFileName);
}

SettingsFile::SettingsFile(std::string path) : m_strPath(std::move(path)) {}

FileReadResult SettingsFile::Probe(std::string* error) const {
  if (m_strPath.empty()) {
    *error = "no settings folder";
    return FILE_READ_UNREADABLE;
  }
  std::string bytes;
  return ReadWholeFile(m_strPath, kMaxSettingsFileBytes, &bytes, error);
}

bool SettingsFile::ReadValue(const char* section, const char* key, size_t bufferChars,
                             std::string* value) const {
  if (m_strPath.empty() || !section || !key || bufferChars == 0) return false;
  std::string bytes;
  std::string error;
  {
    CReadGuard guard(g_fileLock);
    if (ReadWholeFile(m_strPath, kMaxSettingsFileBytes, &bytes, &error) != FILE_READ_OK)
      return false;
  }
  CIniText ini;
  ini.Parse(bytes);
  std::string raw;
  if (!ini.Find(section, key, &raw)) return false;
  std::string text = StripProfileQuotes(raw);
  // What a C string buffer would hold.
  const size_t nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  if (text.size() > bufferChars - 1) text.resize(bufferChars - 1);
  *value = std::move(text);
  return true;
}

bool SettingsFile::WriteValue(const char* section, const char* key, const std::string& value) {
  m_strError.clear();
  if (m_strPath.empty()) {
    m_strError = "there is no settings folder";
    return false;
  }
  if (!ValidName(section) || !ValidName(key)) {
    m_strError = "not a usable section or key name";
    return false;
  }
  if (HasLineBreakOrNul(value)) {
    m_strError = "a value cannot hold a line break or a NUL character";
    return false;
  }
  CWriteGuard guard(g_fileLock);
  std::string bytes;
  std::string error;
  const FileReadResult read = ReadWholeFile(m_strPath, kMaxSettingsFileBytes, &bytes, &error);
  if (read == FILE_READ_UNREADABLE) {
    // Rewriting a file we cannot read would lose what it holds.
    m_strError = "cannot read " + m_strPath + ": " + error;
    return false;
  }
  CIniText ini;
  ini.Parse(bytes);
  if (ini.IsLossy()) {
    m_strError = m_strPath + " holds characters that rewriting it would lose";
    return false;
  }
  if (!ini.Set(section, key, value)) return true;  // already stored
  if (!ReplaceFileAtomically(m_strPath, ini.Serialize(), &error)) {
    m_strError = "cannot write " + m_strPath + ": " + error;
    return false;
  }
  return true;
}

int SettingsFile::GetInt(const char* key, int def) const {
  std::string text;
  int32_t value = 0;
  if (!ReadValue(kSettingsSection, key, kTextBufferChars, &text) || !ParseInt32(text, &value))
    return def;
  return value;
}

uint32_t SettingsFile::GetUInt(const char* key, uint32_t def) const {
  std::string text;
  uint32_t value = 0;
  if (!ReadValue(kSettingsSection, key, kTextBufferChars, &text) || !ParseUInt32(text, &value))
    return def;
  return value;
}

bool SettingsFile::SetInt(const char* key, int value) {
  return WriteValue(kSettingsSection, key, Format("%d", value));
}

std::string SettingsFile::GetString(const char* key, const std::string& def) const {
  std::string text;
  if (!ReadValue(kSettingsSection, key, kTextBufferChars, &text)) return def;
  return text;
}

bool SettingsFile::SetString(const char* key, const std::string& text) {
  // "%c%s%c" with the double quote on both sides.
  return WriteValue(kSettingsSection, key, '"' + text + '"');
}

bool SettingsFile::SaveWindowPosition(IWindowPlacementHost& window) {
  if (window.IsMinimized()) return false;
  CWindowPlacement placement;
  if (!window.GetPlacement(&placement)) return false;
  return WriteValue(kPositionSection, kPositionKey, FormatWindowRect(placement.m_rcNormal));
}

bool SettingsFile::RestoreWindowPosition(IWindowPlacementHost& window) const {
  std::string text;
  if (!ReadValue(kPositionSection, kPositionKey, kPositionBufferChars, &text) || text.empty())
    return false;
  CWindowRect rect;
  if (!ParseWindowRect(text, &rect)) return false;
  // A rectangle without area would give a window nobody can reach.
  if (rect.right <= rect.left || rect.bottom <= rect.top) return false;
  CWindowRect screen;
  if (!window.GetScreenRect(&screen)) return false;
  if (rect.left < screen.left || rect.right > screen.right) return false;
  if (rect.top < screen.top || rect.bottom > screen.bottom) return false;
  CWindowPlacement placement;
  if (!window.GetPlacement(&placement)) return false;
  placement.m_rcNormal = rect;
  if (!window.IsVisible()) placement.m_nShowCmd = kShowHidden;
  return window.SetPlacement(placement);
}

void SettingsFile::ApplyProcessSettings(IProcessControl& process) const {
  const int processors = Processors();
  const int priority = ProcessorPriority();
  if (priority != 0) process.SetPriorityClass(static_cast<DWORD>(priority));
  // The mask names processors 0 to 31 as the options page lists them.
  if (processors != -1) process.SetAffinityMask(static_cast<uint32_t>(processors));
}

void SettingsFile::ResetProcessSettings(IProcessControl& process) {
  uint64_t all = 0;
  if (process.GetSystemAffinityMask(&all)) process.SetAffinityMask(all);
  process.SetPriorityClass(kPriorityNormal);
}

}  // namespace vt
