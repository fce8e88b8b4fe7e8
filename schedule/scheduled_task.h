// CScheduledTask: one scheduled task, created in or deleted from the Windows
// Task Scheduler. Before Windows Vista it drives Task Scheduler 1.0 itself;
// later it hands the work to Brakwater.dll (Task Scheduler 2.0). The choice
// is made at construction.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "base/winshapes.h"
#include "platform/ui_sink.h"
#include "tasklib/schedule_request.h"

struct ITaskScheduler;

namespace vt {

// Makes the Task Scheduler 1.0 object.
typedef HRESULT (*TaskSchedulerFactory)(ITaskScheduler** scheduler);

// What construction learns from the system, and where it looks for things.
struct ScheduleEnvironment {
  DWORD platformId = 2;  // VER_PLATFORM_WIN32_NT
  DWORD majorVersion = 6;
  // Folder that holds Brakwater.dll, with its trailing backslash: the
  // program's own, never the search path.
  std::string libraryFolder;
  TaskSchedulerFactory createScheduler = nullptr;

  // The running system: GetVersionEx, the program's folder, CoCreateInstance.
  static ScheduleEnvironment Current();
};

// The fields of a Task Scheduler 1.0 trigger this class fills; everything
// else in the record stays zero.
struct ScheduleTrigger {
  WORD beginYear = 0, beginMonth = 0, beginDay = 0;
  WORD endYear = 0, endMonth = 0, endDay = 0;
  WORD startHour = 0, startMinute = 0;
  DWORD flags = 0;         // TASK_TRIGGER_FLAG_HAS_END_DATE
  int type = 0;            // TASK_TIME_TRIGGER_*
  WORD daysInterval = 0;   // daily
  WORD weeksInterval = 0;  // weekly
  WORD daysOfTheWeek = 0;  // weekly
  DWORD monthDays = 0;     // monthly by date
  WORD months = 0;         // monthly by date
};

// Trigger kinds.
enum : int32_t {
  kTriggerOnce = 1,
  kTriggerDaily = 2,
  kTriggerWeekly = 3,
  kTriggerMonthly = 4,
};

// The system's message text made one line: line feeds become blanks,
// carriage returns go.
std::string OneLineSystemText(const std::string& text);

class CScheduledTask {
 public:
  // Reads the running system.
  explicit CScheduledTask(IPrompt& prompt);
  CScheduledTask(IPrompt& prompt, const ScheduleEnvironment& environment);

  void SetStart(const SYSTEMTIME& start) { m_stStart = start; }
  // From a date-and-time value: local time, seconds and milliseconds 0.
  void SetStartTime(std::time_t when);
  void SetEnd(const SYSTEMTIME& end) { m_stEnd = end; }
  void SetTriggerKind(int32_t kind) { m_nTriggerKind = kind; }
  void SetApplication(const std::string& text) { m_strApplication = text; }
  void SetParameters(const std::string& text) { m_strParameters = text; }
  void SetWorkingDirectory(const std::string& text) { m_strWorkingDirectory = text; }
  void SetAccount(const std::string& text) { m_strAccount = text; }
  void SetPassword(const std::string& text) { m_strPassword = text; }
  void SetComment(const std::string& text) { m_strComment = text; }
  void SetDaysOfWeek(int32_t mask) { m_nDaysOfWeek = mask; }
  void SetWeeksInterval(int32_t weeks) { m_nWeeksInterval = weeks; }
  void SetRunOnlyIfIdle(int32_t idle) { m_nRunOnlyIfIdle = idle; }

  const SYSTEMTIME& GetStart() const { return m_stStart; }
  bool IsNT() const { return m_bIsNT != 0; }
  bool UsesLibrary() const { return m_bUseLibrary != 0; }

  // 0 when the task was created; otherwise GetErrorText says why (an empty
  // text means the user has already been told).
  HRESULT CreateTask(const std::string& name, bool failIfExists);
  // Deletes the task; with the library, always "Vantrel" and its folder.
  HRESULT RemoveTask(const std::string& name);
  std::string GetErrorText() const { return m_strErrorText; }

  // The Task Scheduler 1.0 task flags for this task; ntVersion is whether
  // GetVersion reports the NT platform.
  DWORD TaskFlags(bool ntVersion) const;
  // The Task Scheduler 1.0 trigger for this task.
  ScheduleTrigger Trigger() const;

 private:
  void SetError(const std::string& text, HRESULT code);
  HRESULT CreateWithScheduler(const std::string& name, bool failIfExists);
  HRESULT RemoveWithScheduler(const std::string& name);
  HRESULT CallLibrary(int32_t remove);

  SYSTEMTIME m_stStart = {};
  SYSTEMTIME m_stEnd = {};
  int32_t m_nTriggerKind = 0;
  std::string m_strApplication;
  std::string m_strParameters;
  std::string m_strWorkingDirectory;
  std::string m_strAccount;
  std::string m_strPassword;
  std::string m_strComment;
  int32_t m_nDaysOfWeek = 0;
  int32_t m_nWeeksInterval = 0;
  int32_t m_nRunOnlyIfIdle = 1;
  std::string m_strErrorText;
  int32_t m_bIsNT = 0;
  int32_t m_bUseLibrary = 0;

  IPrompt& m_prompt;
  ScheduleEnvironment m_environment;
};

}  // namespace vt
