// The "Scheduler" page of the options sheet: the weekly unattended defrag,
// its days, weeks, start time, idle condition, drives and account; saved to
// the settings file and turned into the scheduled task "Vantrel".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/settings_file.h"
#include "base/winshapes.h"
#include "platform/ui_sink.h"

namespace vt {

constexpr int kIdcScheduleOn = 2160;
constexpr int kIdcScheduleDays = 2149;
constexpr int kIdcScheduleDrives = 2150;
constexpr int kIdcScheduleIdle = 2161;
constexpr int kIdcScheduleRecur = 2166;
constexpr int kIdcScheduleTime = 2168;
constexpr int kIdcScheduleAccount = 2167;
constexpr int kIdcSchedulePassword = 2163;
constexpr int kIdcScheduleRecurSpin = 1011;

extern const char* const kWeekdayNames[7];

constexpr const char* kNoDaysText = "Please schedule the days you want to defragment your drives.";
constexpr const char* kBadRecurText = "Valid recurring numbers are 1 through 52.";
constexpr const char* kNoDrivesText = "Please select the drives to defragment";
constexpr const char* kVistaDefragNote =
    "Note:  Windows Vista automatically includes a disk defragmentation utility that runs in the "
    "background.   It is recommended that you do not run both defrag utilities using the Task "
    "Scheduler.\n\nDo you wish to continue?";
constexpr const char* kCheckServiceText =
    "\n\nPlease verify that the Task Scheduler Service is enabled.";
constexpr const char* kCheckAccountText = "\n\nPlease verify the Account and Password entries.";
// The password could not be protected: neither the task nor the settings
// take it, so the two keep agreeing.
constexpr const char* kPasswordNotSavedText =
    "The password could not be protected for saving. The scheduled task was not changed.";

// The password is kept protected by the user's data-protection key:
// "protected:" and the protected bytes in hexadecimal. Anything else is a
// clear-text value of an older version.
constexpr const char* kProtectedMarker = "protected:";

class ISecretProtector {
 public:
  virtual ~ISecretProtector() = default;
  virtual bool Protect(const std::string& clear, std::string* blob) = 0;
  virtual bool Unprotect(const std::string& blob, std::string* clear) = 0;
};

// The stored form of a password; empty stays empty. False when it could not
// be protected (nothing is then stored).
bool StorePassword(const std::string& clear, ISecretProtector& protector, std::string* stored);
// The password from its stored form; a value without the marker is clear
// text. False when protected bytes cannot be read back (damaged, or another
// user's): the password is then empty.
bool ReadStoredPassword(const std::string& stored, ISecretProtector& protector, std::string* clear);

// The start time as stored: "%H,%M,%S,". Reading takes each number in the
// manner of atoi and skips past the next comma.
std::string FormatStartTime(int hour, int minute, int second);
void ParseStartTime(const std::string& text, int* hour, int* minute, int* second);

// A comma-terminated list of decimal indices ("2,3,"), read in the manner of
// atoi: a last number without its comma is dropped.
std::vector<int> ParseIndexList(const std::string& text);

// The task the page asks for.
struct CScheduleFields {
  int32_t m_nDays = 0;
  int32_t m_nWeeks = 0;
  int32_t m_nIdle = 0;
  SYSTEMTIME m_stStart = {};  // seconds and milliseconds 0
  std::string m_strAccount;
  std::string m_strPassword;
};

// The task scheduler as the page sees it.
class IScheduleService {
 public:
  virtual ~IScheduleService() = default;
  // Windows Vista or later, and its own defragmenter scheduled.
  virtual bool VistaDefragActive() = 0;
  // 0 when created; otherwise *error says why (empty: the user was told).
  virtual HRESULT CreateTask(const CScheduleFields& fields, std::string* error) = 0;
  virtual void RemoveTask() = 0;
};

struct CScheduleDriveItem {
  std::string m_strText;
  int m_nIndex = 0;
  bool m_bChecked = false;
};

class CSchedulerPage {
 public:
  // drives: the fixed drives' display texts and indices, in list order;
  // today: the date and time the picker starts from.
  void Load(const SettingsFile& settings, ISecretProtector& protector,
            const std::vector<CScheduleDriveItem>& drives, const SYSTEMTIME& today);

  bool On() const { return m_bOn; }
  void SetOn(bool on) { m_bOn = on; }
  bool DayChecked(int day) const { return (m_nDays >> day) & 1; }
  void SetDayChecked(int day, bool on);
  // The day the closed list shows: the first ticked one, none (-1) when no
  // day is ticked.
  int ShownDay() const;
  std::vector<CScheduleDriveItem>& Drives() { return m_drives; }
  bool Idle() const { return m_bIdle; }
  void SetIdle(bool on) { m_bIdle = on; }
  const std::string& RecurText() const { return m_strRecur; }
  void SetRecurText(const std::string& text) { m_strRecur = text; }
  const SYSTEMTIME& Start() const { return m_stStart; }
  void SetStart(const SYSTEMTIME& start) { m_stStart = start; }
  const std::string& Account() const { return m_strAccount; }
  void SetAccount(const std::string& text) { m_strAccount = text; }
  const std::string& Password() const { return m_strPassword; }
  void SetPassword(const std::string& text) { m_strPassword = text; }

  // The controls other than the switch are usable exactly while it is on.
  bool ControlsEnabled() const { return m_bOn; }
  // A control was touched after the page was shown.
  void Touch() { m_bModified = true; }
  bool Modified() const { return m_bModified; }

  // The sheet's OK: 1 lets it close; 0 keeps it open (*focus: the control
  // at fault, or 0). Every key is written as soon as its value passed; a
  // switch whose task could not be made is stored as off.
  int Apply(SettingsFile& settings, IScheduleService& service, ISecretProtector& protector,
            IPrompt& prompt, int* focus);

  // Creates or removes the task; false (switch unchecked) when it failed.
  bool ApplySchedule(const SettingsFile& settings, IScheduleService& service, IPrompt& prompt);

 private:
  bool m_bOn = false;
  int m_nDays = 0;
  std::vector<CScheduleDriveItem> m_drives;
  bool m_bIdle = true;
  std::string m_strRecur = "1";
  SYSTEMTIME m_stStart = {};
  std::string m_strAccount;
  std::string m_strPassword;
  bool m_bModified = false;
};

}  // namespace vt
