// ScheduleTask: the weekly task "Vantrel" through Task Scheduler 2.0.
#include <cstdio>
#include <string>

#include "tasklib/com_ref.h"
#include "tasklib/task_service.h"

namespace vt {

namespace {

// A call that succeeded but gave no interface is as good as a failure for
// the step that needs it. Look at the pointer only after the call has run.
HRESULT Needed(HRESULT hr, const void* got) {
  if (FAILED(hr)) return hr;
  return got ? hr : E_POINTER;
}

VARIANT_BOOL AsVariantBool(uint32_t value) {
  return (value & 0xFFFF) ? VARIANT_TRUE : VARIANT_FALSE;
}

// "%04u-%02u-%02uT%02u:%02u:00": local time, no zone suffix.
std::wstring StartBoundary(const ScheduleTaskRequest& r) {
  char text[80];
  std::snprintf(text, sizeof(text), "%04u-%02u-%02uT%02u:%02u:00", static_cast<unsigned>(r.year),
                static_cast<unsigned>(r.month), static_cast<unsigned>(r.day),
                static_cast<unsigned>(r.hour), static_cast<unsigned>(r.minute));
  return std::wstring(text, text + std::char_traits<char>::length(text));
}

// Everything after the product folder exists and the old task is gone:
// build the definition and register it.
HRESULT RegisterDefinition(ITaskService* service, ITaskFolder* folder,
                           const ScheduleTaskRequest& r) {
  CComRef<ITaskDefinition> definition;
  HRESULT hr = service->NewTask(0, definition.Put());
  hr = Needed(hr, definition.Get());
  if (FAILED(hr)) return hr;

  CComRef<IRegistrationInfo> info;
  hr = definition->get_RegistrationInfo(info.Put());
  hr = Needed(hr, info.Get());
  if (FAILED(hr)) return hr;
  info->put_Author(CBstr(kTaskAuthor).Get());

  CComRef<IPrincipal> principal;
  hr = definition->get_Principal(principal.Put());
  hr = Needed(hr, principal.Get());
  if (FAILED(hr)) return hr;
  principal->put_Id(CBstr(kPrincipalId).Get());
  principal->put_RunLevel(TASK_RUNLEVEL_HIGHEST);

  CComRef<ITaskSettings> settings;
  hr = definition->get_Settings(settings.Put());
  hr = Needed(hr, settings.Get());
  if (FAILED(hr)) return hr;
  settings->put_StartWhenAvailable(VARIANT_TRUE);
  settings->put_RunOnlyIfIdle(AsVariantBool(r.runOnlyIfIdle));
  CComRef<IIdleSettings> idle;
  hr = settings->get_IdleSettings(idle.Put());
  hr = Needed(hr, idle.Get());
  if (FAILED(hr)) return hr;
  idle->put_RestartOnIdle(AsVariantBool(r.runOnlyIfIdle));

  CComRef<ITriggerCollection> triggers;
  hr = definition->get_Triggers(triggers.Put());
  hr = Needed(hr, triggers.Get());
  if (FAILED(hr)) return hr;
  CComRef<ITrigger> trigger;
  hr = triggers->Create(TASK_TRIGGER_WEEKLY, trigger.Put());
  hr = Needed(hr, trigger.Get());
  if (FAILED(hr)) return hr;
  CComRef<IWeeklyTrigger> weekly;
  hr = trigger->QueryInterface(kIidWeeklyTrigger, weekly.PutVoid());
  hr = Needed(hr, weekly.Get());
  if (FAILED(hr)) return hr;
  weekly->put_Id(CBstr(kTriggerId).Get());
  weekly->put_StartBoundary(CBstr(StartBoundary(r).c_str()).Get());
  weekly->put_WeeksInterval(static_cast<short>(r.weeksInterval & 0xFFFF));
  weekly->put_DaysOfWeek(static_cast<short>(r.daysOfWeek & 0xFFFF));

  CComRef<IActionCollection> actions;
  hr = definition->get_Actions(actions.Put());
  hr = Needed(hr, actions.Get());
  if (FAILED(hr)) return hr;
  CComRef<IAction> action;
  hr = actions->Create(TASK_ACTION_EXEC, action.Put());
  hr = Needed(hr, action.Get());
  if (FAILED(hr)) return hr;
  CComRef<IExecAction> exec;
  hr = action->QueryInterface(IID_IExecAction, exec.PutVoid());
  hr = Needed(hr, exec.Get());
  if (FAILED(hr)) return hr;
  exec->put_Path(CBstr(r.application).Get());
  if (r.arguments) exec->put_Arguments(CBstr(r.arguments).Get());
  if (r.workingDirectory) exec->put_WorkingDirectory(CBstr(r.workingDirectory).Get());

  CVariant user(r.account);
  CVariant password(r.password);
  CVariant sddl(L"");
  CComRef<IRegisteredTask> registered;
  return folder->RegisterTaskDefinition(CBstr(kTaskName).Get(), definition.Get(),
                                        TASK_CREATE_OR_UPDATE, user.Get(), password.Get(),
                                        TASK_LOGON_INTERACTIVE_TOKEN, sddl.Get(), registered.Put());
}

}  // namespace

HRESULT CreateTaskService(ITaskService** service) {
  return ::CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                            reinterpret_cast<void**>(service));
}

HRESULT RunScheduleTask(const ScheduleTaskRequest* request, TaskServiceFactory factory) {
  if (!request || !factory) return E_POINTER;
  CComApartment apartment;

  CComRef<ITaskService> service;
  HRESULT hr = factory(service.Put());
  hr = Needed(hr, service.Get());
  if (FAILED(hr)) return hr;
  CVariant none;
  hr = service->Connect(none.Get(), none.Get(), none.Get(), none.Get());
  if (FAILED(hr)) return hr;

  CComRef<ITaskFolder> root;
  hr = service->GetFolder(CBstr(L"\\").Get(), root.Put());
  hr = Needed(hr, root.Get());
  if (FAILED(hr)) return hr;

  CComRef<ITaskFolder> folder;
  hr = service->GetFolder(CBstr(kTaskFolderPath).Get(), folder.Put());
  if (FAILED(hr) || !folder) {
    CVariant sddl(kTaskFolderSddl);
    hr = root->CreateFolder(CBstr(kTaskFolderName).Get(), sddl.Get(), folder.Put());
    hr = Needed(hr, folder.Get());
    if (FAILED(hr)) return hr;
  }

  // A task left from an earlier schedule goes on every call.
  folder->DeleteTask(CBstr(kTaskName).Get(), 0);

  if (request->remove) {
    folder.Reset();
    root->DeleteFolder(CBstr(kTaskFolderName).Get(), 0);
    return S_OK;
  }
  return RegisterDefinition(service.Get(), folder.Get(), *request);
}

}  // namespace vt
