#include "pages/scheduler_page.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vt {

const char* const kWeekdayNames[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                      "Thursday", "Friday", "Saturday"};

namespace {

// atoi: blanks, a sign, digits; nothing else counts.
int LeadingInt(const char* p) { return static_cast<int>(std::strtol(p, nullptr, 10)); }

}  // namespace

bool StorePassword(const std::string& clear, ISecretProtector& protector, std::string* stored) {
  stored->clear();
  if (clear.empty()) return true;
  std::string blob;
  if (!protector.Protect(clear, &blob)) return false;
  static const char kHex[] = "0123456789abcdef";
  *stored = kProtectedMarker;
  for (unsigned char c : blob) {
    stored->push_back(kHex[c >> 4]);
    stored->push_back(kHex[c & 15]);
  }
  return true;
}

bool ReadStoredPassword(const std::string& stored, ISecretProtector& protector,
                        std::string* clear) {
  clear->clear();
  const size_t markerLength = std::strlen(kProtectedMarker);
  if (stored.compare(0, markerLength, kProtectedMarker) != 0) {
    *clear = stored;
    return true;
  }
  const std::string hex = stored.substr(markerLength);
  if (hex.size() % 2 != 0) return false;
  std::string blob;
  for (size_t i = 0; i < hex.size(); i += 2) {
    int value = 0;
    for (size_t k = 0; k < 2; ++k) {
      const char c = hex[i + k];
      int digit;
      if (c >= '0' && c <= '9')
        digit = c - '0';
      else if (c >= 'a' && c <= 'f')
        digit = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F')
        digit = c - 'A' + 10;
      else
        return false;
      value = value * 16 + digit;
    }
    blob.push_back(static_cast<char>(value));
  }
  return protector.Unprotect(blob, clear);
}

std::string FormatStartTime(int hour, int minute, int second) {
  char text[32];
  std::snprintf(text, sizeof(text), "%02d,%02d,%02d,", hour, minute, second);
  return text;
}

void ParseStartTime(const std::string& text, int* hour, int* minute, int* second) {
  int* parts[3] = {hour, minute, second};
  const char* p = text.c_str();
  for (int* part : parts) {
    *part = LeadingInt(p);
    const char* comma = std::strchr(p, ',');
    // Without a further comma the rest reads from the end of the text: 0.
    p = comma ? comma + 1 : p + std::strlen(p);
  }
}

std::vector<int> ParseIndexList(const std::string& text) {
  std::vector<int> out;
  const char* p = text.c_str();
  for (;;) {
    const int value = LeadingInt(p);
    const char* comma = std::strchr(p, ',');
    if (!comma) break;
    out.push_back(value);
    p = comma + 1;
  }
  return out;
}

void CSchedulerPage::Load(const SettingsFile& settings, ISecretProtector& protector,
                          const std::vector<CScheduleDriveItem>& drives, const SYSTEMTIME& today) {
  m_bOn = settings.AutoDefrag();
  m_nDays = settings.AutoDefragDays();
  m_strAccount = settings.AutoDefragAccount();
  ReadStoredPassword(settings.AutoDefragPassword(), protector, &m_strPassword);
  m_strRecur = settings.AutoDefragRecurText();
  m_bIdle = settings.AutoDefragIdle();
  m_stStart = today;
  const std::string start = settings.AutoDefragStartTime();
  if (!start.empty()) {
    int h = 0, m = 0, s = 0;
    ParseStartTime(start, &h, &m, &s);
    // The picker takes only a time of day; a stored value out of range
    // keeps the current time instead of an invalid one.
    if (h >= 0 && h < 24 && m >= 0 && m < 60 && s >= 0 && s < 60) {
      m_stStart.wHour = static_cast<WORD>(h);
      m_stStart.wMinute = static_cast<WORD>(m);
      m_stStart.wSecond = static_cast<WORD>(s);
      m_stStart.wMilliseconds = 0;
    }
  }
  m_drives = drives;
  const std::vector<int> chosen = ParseIndexList(settings.AutoDefragDrives());
  for (auto& drive : m_drives) {
    drive.m_bChecked = false;
    for (int index : chosen)
      if (index == drive.m_nIndex) drive.m_bChecked = true;
  }
  m_bModified = false;
}

void CSchedulerPage::SetDayChecked(int day, bool on) {
  if (day < 0 || day > 6) return;
  if (on)
    m_nDays |= 1 << day;
  else
    m_nDays &= ~(1 << day);
}

int CSchedulerPage::ShownDay() const {
  for (int day = 0; day < 7; ++day)
    if (DayChecked(day)) return day;
  return -1;
}

int CSchedulerPage::Apply(SettingsFile& settings, IScheduleService& service,
                          ISecretProtector& protector, IPrompt& prompt, int* focus) {
  if (focus) *focus = 0;
  settings.SetAutoDefrag(m_bOn);
  if (!m_bOn) {
    ApplySchedule(settings, service, prompt);
    return 1;
  }
  if (!m_bModified) return 1;
  std::string stored;
  if (!StorePassword(m_strPassword, protector, &stored)) {
    // Neither the task nor the settings get a password that cannot be kept.
    prompt.ShowMessage(kPasswordNotSavedText, MB_OK | MB_ICONERROR);
    if (focus) *focus = kIdcSchedulePassword;
    return 0;
  }
  settings.SetAutoDefragIdle(m_bIdle);
  if (m_nDays == 0) {
    prompt.ShowMessage(kNoDaysText, MB_OK | MB_ICONERROR);
    if (focus) *focus = kIdcScheduleDays;
    return 0;
  }
  settings.SetAutoDefragDays(m_nDays);
  int32_t weeks = 0;
  // Text that is not a number reads as 0.
  if (!ParseInt32(m_strRecur, &weeks)) weeks = LeadingInt(m_strRecur.c_str());
  if (weeks < 1 || weeks > 52) {
    prompt.ShowMessage(kBadRecurText, MB_OK | MB_ICONERROR);
    if (focus) *focus = kIdcScheduleRecur;
    return 0;
  }
  settings.SetAutoDefragRecur(weeks);
  settings.SetAutoDefragStartTime(
      FormatStartTime(m_stStart.wHour, m_stStart.wMinute, m_stStart.wSecond));
  settings.SetAutoDefragAccount(m_strAccount);
  settings.SetAutoDefragPassword(stored);
  std::string drives;
  for (const auto& drive : m_drives)
    if (drive.m_bChecked) drives += std::to_string(drive.m_nIndex) + ",";
  if (drives.empty()) {
    prompt.ShowMessage(kNoDrivesText, MB_OK | MB_ICONERROR);
    if (focus) *focus = kIdcScheduleDrives;
    return 0;
  }
  settings.SetAutoDefragDrives(drives);
  const bool made = ApplySchedule(settings, service, prompt);
  if (!m_bOn) settings.SetAutoDefrag(false);
  return made ? 1 : 0;
}

bool CSchedulerPage::ApplySchedule(const SettingsFile& settings, IScheduleService& service,
                                   IPrompt& prompt) {
  if (!m_bOn) {
    service.RemoveTask();
    return true;
  }
  if (service.VistaDefragActive() && prompt.ShowMessage(kVistaDefragNote, MB_YESNO) != IDYES) {
    m_bOn = false;
    return false;
  }
  CScheduleFields fields;
  fields.m_nDays = settings.AutoDefragDays();
  fields.m_nWeeks = settings.AutoDefragRecur();
  fields.m_nIdle = settings.AutoDefragIdle() ? 1 : 0;
  fields.m_stStart = m_stStart;
  fields.m_stStart.wSecond = 0;
  fields.m_stStart.wMilliseconds = 0;
  fields.m_strAccount = m_strAccount;
  fields.m_strPassword = m_strPassword;
  std::string error;
  if (service.CreateTask(fields, &error) != 0) {
    m_bOn = false;
    // An empty text: the user has been told already (the library is missing).
    if (error.empty()) return false;
    std::string text = error + kCheckServiceText;
    if (!m_strAccount.empty() || !m_strPassword.empty()) text += kCheckAccountText;
    prompt.ShowMessage(text, MB_OK | MB_ICONERROR);
    return false;
  }
  return true;
}

}  // namespace vt
