// The Task Scheduler 2.0 work of Brakwater.dll, with the service object made
// by a factory so that the same sequence of calls can run against the real
// service or a stand-in.
#pragma once

#include <cstdint>

#include "base/winshapes.h"
#include "tasklib/schedule_request.h"
#include "tasklib/weekly_trigger.h"

namespace vt {

// Makes an unconnected Task Scheduler service object.
typedef HRESULT (*TaskServiceFactory)(ITaskService** service);

// The system's Task Scheduler service, as an in-process server.
HRESULT CreateTaskService(ITaskService** service);

// Creates (or, with remove set, deletes) the task "Vantrel" in the folder
// "\Norvane Utilities". Initialises COM on the calling thread for the call.
HRESULT RunScheduleTask(const ScheduleTaskRequest* request, TaskServiceFactory factory);

// Queries or switches the built-in "ScheduledDefrag" task.
HRESULT RunEnableVistaDefrag(int32_t* enabled, const int32_t* queryOnly,
                             TaskServiceFactory factory);

// Fixed names of the scheduled task.
constexpr const wchar_t* kTaskFolderPath = L"\\Norvane Utilities";
constexpr const wchar_t* kTaskFolderName = L"Norvane Utilities";
// Administrators and Local System only: the tasks in this folder run as
// Local System at the highest run level, so no other user may change them.
constexpr const wchar_t* kTaskFolderSddl = L"D:(A;;FA;;;BA)(A;;FA;;;SY)";
constexpr const wchar_t* kTaskName = L"Vantrel";
constexpr const wchar_t* kTaskAuthor = L"Vantrel";
constexpr const wchar_t* kPrincipalId = L"LocalSystem";
constexpr const wchar_t* kTriggerId = L"Defrag Options";
constexpr const wchar_t* kSystemDefragFolder = L"\\Microsoft\\Windows\\Defrag";
constexpr const wchar_t* kSystemDefragTask = L"ScheduledDefrag";

}  // namespace vt
