// The record the main program hands to Brakwater.dll's ScheduleTask, and the
// names both sides use to find the library and its exports.
//
// The layout is fixed between the two deliverables: in the 32-bit build every
// field, pointers included, is 4 bytes wide and they follow each other without
// gaps, 56 bytes in all.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include "base/winshapes.h"
#endif

namespace vt {

#ifdef _WIN32
typedef wchar_t ScheduleChar;
#else
typedef char16_t ScheduleChar;  // UTF-16 on every system
#endif

struct ScheduleTaskRequest {
  int32_t remove;                        // nonzero: delete task and folder, ignore the rest
  const ScheduleChar* application;       // program the task starts
  const ScheduleChar* arguments;         // may be null: no arguments
  const ScheduleChar* workingDirectory;  // may be null: no start-in folder
  const ScheduleChar* account;           // may be null
  const ScheduleChar* password;          // may be null
  uint32_t daysOfWeek;                   // low 16 bits: bit 0 Sunday ... bit 6 Saturday
  uint32_t weeksInterval;                // low 16 bits: every N weeks
  uint32_t runOnlyIfIdle;                // low 16 bits, as a boolean
  uint32_t year;                         // first run, local time
  uint32_t month;
  uint32_t day;
  uint32_t hour;
  uint32_t minute;
};

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(ScheduleTaskRequest) == 56,
              "ScheduleTaskRequest is 56 bytes in 32-bit builds");
static_assert(offsetof(ScheduleTaskRequest, application) == 4, "application");
static_assert(offsetof(ScheduleTaskRequest, arguments) == 8, "arguments");
static_assert(offsetof(ScheduleTaskRequest, workingDirectory) == 12, "workingDirectory");
static_assert(offsetof(ScheduleTaskRequest, account) == 16, "account");
static_assert(offsetof(ScheduleTaskRequest, password) == 20, "password");
static_assert(offsetof(ScheduleTaskRequest, daysOfWeek) == 24, "daysOfWeek");
static_assert(offsetof(ScheduleTaskRequest, weeksInterval) == 28, "weeksInterval");
static_assert(offsetof(ScheduleTaskRequest, runOnlyIfIdle) == 32, "runOnlyIfIdle");
static_assert(offsetof(ScheduleTaskRequest, year) == 36, "year");
static_assert(offsetof(ScheduleTaskRequest, month) == 40, "month");
static_assert(offsetof(ScheduleTaskRequest, day) == 44, "day");
static_assert(offsetof(ScheduleTaskRequest, hour) == 48, "hour");
static_assert(offsetof(ScheduleTaskRequest, minute) == 52, "minute");
#endif

// File name of the library and the names of its exports.
constexpr const char* kTaskLibraryName = "Brakwater.dll";
constexpr const char* kScheduleTaskExport = "ScheduleTask";
constexpr const char* kEnableVistaDefragExport = "EnableVistaDefrag";

#ifdef _WIN32
// ScheduleTask(request): S_OK when the task was registered (or removed).
typedef HRESULT(WINAPI* ScheduleTaskProc)(const ScheduleTaskRequest* request);
// EnableVistaDefrag(enabled, queryOnly): queries or switches the system's own
// scheduled defragmentation.
typedef HRESULT(WINAPI* EnableVistaDefragProc)(int32_t* enabled, const int32_t* queryOnly);

// GetProcAddress's answer as the export's own type.
template <class Proc>
Proc ExportAs(FARPROC address) {
  return reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(address));
}
#endif

}  // namespace vt
