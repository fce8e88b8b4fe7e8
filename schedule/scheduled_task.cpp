// The parts of CScheduledTask that need no Task Scheduler: its values, the
// error text, the flags and the trigger it asks for, and which path it takes.
#include "schedule/scheduled_task.h"

#include <cstdio>

#include "platform/local_time.h"

namespace vt {

namespace {
constexpr DWORD kPlatformNT = 2;  // VER_PLATFORM_WIN32_NT

// Task Scheduler 1.0 task flags.
constexpr DWORD kFlagInteractive = 0x0001;
constexpr DWORD kFlagStartOnlyIfIdle = 0x0010;
constexpr DWORD kFlagKillOnIdleEnd = 0x0020;
constexpr DWORD kFlagDontStartIfOnBatteries = 0x0040;
constexpr DWORD kFlagKillIfGoingOnBatteries = 0x0080;
constexpr DWORD kFlagRestartOnIdleResume = 0x0800;
constexpr DWORD kFlagRunOnlyIfLoggedOn = 0x2000;

// Task Scheduler 1.0 trigger types and flags.
constexpr int kTimeTriggerOnce = 0;
constexpr int kTimeTriggerDaily = 1;
constexpr int kTimeTriggerWeekly = 2;
constexpr int kTimeTriggerMonthlyDate = 3;
constexpr DWORD kTriggerFlagHasEndDate = 0x1;

constexpr HRESULT kFail = static_cast<HRESULT>(0x80004005);  // E_FAIL
}  // namespace

std::string OneLineSystemText(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\r') continue;
    out += c == '\n' ? ' ' : c;
  }
  return out;
}

CScheduledTask::CScheduledTask(IPrompt& prompt)
    : CScheduledTask(prompt, ScheduleEnvironment::Current()) {}

CScheduledTask::CScheduledTask(IPrompt& prompt, const ScheduleEnvironment& environment)
    : m_prompt(prompt), m_environment(environment) {
  m_bIsNT = environment.platformId == kPlatformNT ? 1 : 0;
  m_bUseLibrary = (m_bIsNT && environment.majorVersion > 5) ? 1 : 0;
  SetError("", 0);
}

void CScheduledTask::SetStartTime(std::time_t when) {
  std::tm local = {};
  if (!ToLocalCalendar(when, &local)) return;
  m_stStart = {};
  m_stStart.wYear = static_cast<WORD>(local.tm_year + 1900);
  m_stStart.wMonth = static_cast<WORD>(local.tm_mon + 1);
  m_stStart.wDayOfWeek = static_cast<WORD>(local.tm_wday);
  m_stStart.wDay = static_cast<WORD>(local.tm_mday);
  m_stStart.wHour = static_cast<WORD>(local.tm_hour);
  m_stStart.wMinute = static_cast<WORD>(local.tm_min);
  m_stStart.wSecond = 0;
  m_stStart.wMilliseconds = 0;
}

void CScheduledTask::SetError(const std::string& text, HRESULT code) {
  char number[16];
  std::snprintf(number, sizeof(number), "0x%08X", static_cast<unsigned>(code));
  m_strErrorText = text + "\n\nError code: " + number;
}

DWORD CScheduledTask::TaskFlags(bool ntVersion) const {
  DWORD flags = kFlagDontStartIfOnBatteries | kFlagKillIfGoingOnBatteries;
  if (m_strAccount.empty()) flags |= kFlagRunOnlyIfLoggedOn;
  if (m_nRunOnlyIfIdle)
    flags |= kFlagStartOnlyIfIdle | kFlagKillOnIdleEnd | kFlagRestartOnIdleResume;
  if (ntVersion) flags |= kFlagInteractive;
  return flags;
}

ScheduleTrigger CScheduledTask::Trigger() const {
  ScheduleTrigger t;
  t.beginYear = m_stStart.wYear;
  t.beginMonth = m_stStart.wMonth;
  t.beginDay = m_stStart.wDay;
  t.startHour = m_stStart.wHour;
  t.startMinute = m_stStart.wMinute;
  if (m_stEnd.wYear != 0) {
    t.flags = kTriggerFlagHasEndDate;
    t.endYear = m_stEnd.wYear;
    t.endMonth = m_stEnd.wMonth;
    t.endDay = m_stEnd.wDay;
  }
  switch (m_nTriggerKind) {
    case kTriggerOnce:
      t.type = kTimeTriggerOnce;
      break;
    case kTriggerDaily:
      t.type = kTimeTriggerDaily;
      t.daysInterval = 1;
      break;
    case kTriggerWeekly:
      t.type = kTimeTriggerWeekly;
      t.weeksInterval = static_cast<WORD>(m_nWeeksInterval);
      t.daysOfTheWeek = static_cast<WORD>(m_nDaysOfWeek);
      break;
    case kTriggerMonthly:
      t.type = kTimeTriggerMonthlyDate;
      // A day outside 1..31 names no day; the scheduler then refuses the
      // trigger instead of running on some other day.
      if (m_stStart.wDay >= 1 && m_stStart.wDay <= 31) t.monthDays = 1u << (m_stStart.wDay - 1);
      t.months = 0xFFF;
      break;
    default:
      break;
  }
  return t;
}

HRESULT CScheduledTask::CreateTask(const std::string& name, bool failIfExists) {
  SetError("", 0);
  if (m_bUseLibrary) return CallLibrary(0);
  if (m_stStart.wYear == 0 || name.empty() || m_strApplication.empty()) return kFail;
  return CreateWithScheduler(name, failIfExists);
}

HRESULT CScheduledTask::RemoveTask(const std::string& name) {
  // No creation's error text stands for the removal's.
  m_strErrorText.clear();
  if (m_bUseLibrary) return CallLibrary(1);
  if (name.empty()) return kFail;
  return RemoveWithScheduler(name);
}

}  // namespace vt
