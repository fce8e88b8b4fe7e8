// CScheduledTask on a system without Windows.
#include "schedule/scheduled_task.h"

namespace vt {

// Without Windows there is no Task Scheduler to talk to.
ScheduleEnvironment ScheduleEnvironment::Current() {
  ScheduleEnvironment environment;
  environment.majorVersion = 5;  // the path that needs no library
  return environment;
}

HRESULT CScheduledTask::CreateWithScheduler(const std::string&, bool) {
  const HRESULT notImplemented = static_cast<HRESULT>(0x80004001);
  SetError("Windows Task Scheduler is not installed or is disabled.", notImplemented);
  return notImplemented;
}

HRESULT CScheduledTask::RemoveWithScheduler(const std::string&) {
  return static_cast<HRESULT>(0x80004001);
}

HRESULT CScheduledTask::CallLibrary(int32_t) { return static_cast<HRESULT>(0x80004001); }

}  // namespace vt
