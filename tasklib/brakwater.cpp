// Brakwater.dll: the exports over the Task Scheduler 2.0 work. The library
// keeps no state between calls.
#include <type_traits>

#include "tasklib/task_service.h"

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

HRESULT WINAPI ScheduleTask(const vt::ScheduleTaskRequest* request) {
  return vt::RunScheduleTask(request, vt::CreateTaskService);
}

HRESULT WINAPI EnableVistaDefrag(int32_t* enabled, const int32_t* queryOnly) {
  return vt::RunEnableVistaDefrag(enabled, queryOnly, vt::CreateTaskService);
}

}  // extern "C"

// The exports keep the shape the main program calls them through.
static_assert(std::is_same<decltype(&ScheduleTask), vt::ScheduleTaskProc>::value, "ScheduleTask");
static_assert(std::is_same<decltype(&EnableVistaDefrag), vt::EnableVistaDefragProc>::value,
              "EnableVistaDefrag");
