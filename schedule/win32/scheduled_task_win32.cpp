// The Windows side of CScheduledTask: Task Scheduler 1.0 through mstask,
// and the call into Brakwater.dll.
#include <mstask.h>

#include <string>

#include "schedule/scheduled_task.h"
#include "tasklib/com_ref.h"

namespace vt {

namespace {

HRESULT CreateTaskScheduler(ITaskScheduler** scheduler) {
  return ::CoCreateInstance(CLSID_CTaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskScheduler,
                            reinterpret_cast<void**>(scheduler));
}

// 8-bit text in the current ANSI code page as UTF-16.
std::wstring Wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  int n = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
  return out;
}

// The system message table's text for a code, in the user's language.
std::string SystemText(HRESULT code) {
  char* text = nullptr;
  DWORD n = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), LANG_USER_DEFAULT, reinterpret_cast<char*>(&text), 0,
      nullptr);
  std::string out;
  if (n != 0 && text) out.assign(text, n);
  if (text) ::LocalFree(text);
  return OneLineSystemText(out);
}

void FillTrigger(const ScheduleTrigger& from, TASK_TRIGGER* to) {
  *to = TASK_TRIGGER();
  to->cbTriggerSize = sizeof(TASK_TRIGGER);
  to->wBeginYear = from.beginYear;
  to->wBeginMonth = from.beginMonth;
  to->wBeginDay = from.beginDay;
  to->wEndYear = from.endYear;
  to->wEndMonth = from.endMonth;
  to->wEndDay = from.endDay;
  to->wStartHour = from.startHour;
  to->wStartMinute = from.startMinute;
  to->rgFlags = from.flags;
  to->TriggerType = static_cast<TASK_TRIGGER_TYPE>(from.type);
  switch (to->TriggerType) {
    case TASK_TIME_TRIGGER_DAILY:
      to->Type.Daily.DaysInterval = from.daysInterval;
      break;
    case TASK_TIME_TRIGGER_WEEKLY:
      to->Type.Weekly.WeeksInterval = from.weeksInterval;
      to->Type.Weekly.rgfDaysOfTheWeek = from.daysOfTheWeek;
      break;
    case TASK_TIME_TRIGGER_MONTHLYDATE:
      to->Type.MonthlyDate.rgfDays = from.monthDays;
      to->Type.MonthlyDate.rgfMonths = from.months;
      break;
    default:
      break;
  }
}
static_assert(sizeof(TASK_TRIGGER) == 48, "TASK_TRIGGER");

}  // namespace

ScheduleEnvironment ScheduleEnvironment::Current() {
  ScheduleEnvironment environment;
  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (::GetVersionExA(&info)) {
    environment.platformId = info.dwPlatformId;
    environment.majorVersion = info.dwMajorVersion;
  }
#pragma GCC diagnostic pop
  char program[MAX_PATH];
  DWORD length = ::GetModuleFileNameA(nullptr, program, MAX_PATH);
  if (length != 0 && length < MAX_PATH) {
    environment.libraryFolder.assign(program, length);
    environment.libraryFolder.erase(environment.libraryFolder.rfind('\\') + 1);
  }
  environment.createScheduler = CreateTaskScheduler;
  return environment;
}

HRESULT CScheduledTask::CreateWithScheduler(const std::string& name, bool failIfExists) {
  TaskSchedulerFactory create =
      m_environment.createScheduler ? m_environment.createScheduler : CreateTaskScheduler;
  CComRef<ITaskScheduler> scheduler;
  HRESULT hr = create(scheduler.Put());
  if (SUCCEEDED(hr) && !scheduler) hr = E_POINTER;
  if (FAILED(hr)) {
    SetError("Windows Task Scheduler is not installed or is disabled.", hr);
    return hr;
  }

  const std::wstring wideName = Wide(name);
  {
    CComRef<IUnknown> existing;
    hr = scheduler->Activate(wideName.c_str(), IID_ITask, existing.Put());
    if (SUCCEEDED(hr)) {
      existing.Reset();
      if (failIfExists) {
        SetError("A task with the given name already exists.", hr);
        return HRESULT_FROM_WIN32(ERROR_FILE_EXISTS);
      }
      hr = scheduler->Delete(wideName.c_str());
      if (FAILED(hr)) {
        SetError("Could not delete existing task.", hr);
        return hr;
      }
    }
  }

  // Every failure from here on is reported the same way.
  auto fail = [this](const char* text, HRESULT code) {
    SetError(text, code);
    return code;
  };

  CComRef<IUnknown> item;
  hr = scheduler->NewWorkItem(wideName.c_str(), CLSID_CTask, IID_ITask, item.Put());
  if (SUCCEEDED(hr) && !item) hr = E_POINTER;
  if (FAILED(hr)) return fail("Could not create a new work item.", hr);
  CComRef<ITask> task;
  hr = item->QueryInterface(IID_ITask, task.PutVoid());
  if (SUCCEEDED(hr) && !task) hr = E_NOINTERFACE;
  if (FAILED(hr)) return fail("QueryInterface on IUnknown failed to get an ITask.", hr);

  hr = task->SetApplicationName(Wide(m_strApplication).c_str());
  if (FAILED(hr)) return fail("Failed to set application name", hr);
  if (!m_strParameters.empty()) {
    hr = task->SetParameters(Wide(m_strParameters).c_str());
    if (FAILED(hr)) return fail("Failed to set parameters.", hr);
  }
  if (!m_strWorkingDirectory.empty()) {
    hr = task->SetWorkingDirectory(Wide(m_strWorkingDirectory).c_str());
    if (FAILED(hr)) return fail("Failed to set starting directory.", hr);
  }
  if (m_bIsNT) {
    if (!m_strAccount.empty()) {
      hr = task->SetAccountInformation(Wide(m_strAccount).c_str(), Wide(m_strPassword).c_str());
      if (FAILED(hr)) return fail("Failed to set account info.", hr);
    } else {
      // The current user with no password; a refusal is not an error.
      WCHAR user[80];
      DWORD length = 80;
      if (::GetUserNameW(user, &length)) task->SetAccountInformation(user, nullptr);
    }
  }
  if (!m_strComment.empty()) {
    hr = task->SetComment(Wide(m_strComment).c_str());
    if (FAILED(hr)) return fail("Failed to set task comment.", hr);
  }

  if (m_nRunOnlyIfIdle) task->SetIdleWait(5, 1440);  // idle 5 minutes, wait up to a day
  const bool ntVersion = (::GetVersion() & 0x80000000u) == 0;
  hr = task->SetFlags(TaskFlags(ntVersion));
  if (FAILED(hr)) return fail("Failed to set task flags.", hr);

  WORD index = 0;
  CComRef<ITaskTrigger> trigger;
  hr = task->CreateTrigger(&index, trigger.Put());
  if (SUCCEEDED(hr) && !trigger) hr = E_POINTER;
  if (FAILED(hr)) return fail("Failed to create a task trigger. ", hr);
  TASK_TRIGGER record;
  FillTrigger(Trigger(), &record);
  hr = trigger->SetTrigger(&record);
  if (FAILED(hr)) return fail("Failed to add trigger to the task. ", hr);

  CComRef<IPersistFile> file;
  hr = task->QueryInterface(IID_IPersistFile, file.PutVoid());
  if (SUCCEEDED(hr) && !file) hr = E_NOINTERFACE;
  if (FAILED(hr)) return fail("Failed to get an IPersistFile interface on the task.", hr);
  hr = file->Save(nullptr, FALSE);
  if (FAILED(hr)) return fail("Error creating task. ", hr);
  return hr;
}

HRESULT CScheduledTask::RemoveWithScheduler(const std::string& name) {
  TaskSchedulerFactory create =
      m_environment.createScheduler ? m_environment.createScheduler : CreateTaskScheduler;
  CComRef<ITaskScheduler> scheduler;
  HRESULT hr = create(scheduler.Put());
  if (FAILED(hr)) return hr;
  if (!scheduler) return E_POINTER;
  return scheduler->Delete(Wide(name).c_str());
}

HRESULT CScheduledTask::CallLibrary(int32_t remove) {
  const std::wstring application = Wide(m_strApplication);
  const std::wstring arguments = Wide(m_strParameters);
  const std::wstring workingDirectory = Wide(m_strWorkingDirectory);
  const std::wstring account = Wide(m_strAccount);
  const std::wstring password = Wide(m_strPassword);
  ScheduleTaskRequest request = {};
  request.remove = remove;
  request.application = application.c_str();
  request.arguments = arguments.c_str();
  request.workingDirectory = workingDirectory.c_str();
  request.account = account.c_str();
  request.password = password.c_str();
  request.daysOfWeek = static_cast<uint32_t>(m_nDaysOfWeek);
  request.weeksInterval = static_cast<uint32_t>(m_nWeeksInterval);
  request.runOnlyIfIdle = static_cast<uint32_t>(m_nRunOnlyIfIdle);
  request.year = m_stStart.wYear;
  request.month = m_stStart.wMonth;
  request.day = m_stStart.wDay;
  request.hour = m_stStart.wHour;
  request.minute = m_stStart.wMinute;

  // By full path from the program's folder only: a Brakwater.dll planted in
  // the current folder or on the PATH is never loaded.
  const std::string path = m_environment.libraryFolder + kTaskLibraryName;
  HMODULE library = m_environment.libraryFolder.empty()
                        ? nullptr
                        : ::LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!library) {
    DWORD error = ::GetLastError();
    m_prompt.ShowMessage("Unable to load Brakwater.dll", MB_OK | MB_ICONERROR);
    // The user has been told; an empty text asks the caller for no second
    // message, and the failure keeps it from claiming a schedule.
    m_strErrorText.clear();
    return error != 0 ? HRESULT_FROM_WIN32(error) : E_FAIL;
  }

  HRESULT result = static_cast<HRESULT>(0xFFFFFFFFu);
  ScheduleTaskProc schedule =
      ExportAs<ScheduleTaskProc>(::GetProcAddress(library, kScheduleTaskExport));
  if (schedule) result = schedule(&request);
  SetError("Error creating task.\n\n" + SystemText(result), result);
  ::FreeLibrary(library);
  return result;
}

}  // namespace vt
