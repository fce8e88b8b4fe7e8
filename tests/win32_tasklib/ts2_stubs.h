// Stand-ins for the Task Scheduler 2.0 interfaces: every method answers
// E_NOTIMPL, IUnknown is left to the doubles, which override what the
// library calls.
#pragma once

#include "tasklib/weekly_trigger.h"

namespace vt {
namespace test {

#define VT_STUB(name, ...) \
  HRESULT STDMETHODCALLTYPE name(__VA_ARGS__) override { return E_NOTIMPL; }

#define VT_STUB_DISPATCH                                         \
  VT_STUB(GetTypeInfoCount, UINT*)                               \
  VT_STUB(GetTypeInfo, UINT, LCID, ITypeInfo**)                  \
  VT_STUB(GetIDsOfNames, REFIID, LPOLESTR*, UINT, LCID, DISPID*) \
  VT_STUB(Invoke, DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*)

class CStubTaskService : public ITaskService {
 public:
  VT_STUB_DISPATCH
  VT_STUB(GetFolder, BSTR, ITaskFolder**)
  VT_STUB(GetRunningTasks, LONG, IRunningTaskCollection**)
  VT_STUB(NewTask, DWORD, ITaskDefinition**)
  VT_STUB(Connect, VARIANT, VARIANT, VARIANT, VARIANT)
  VT_STUB(get_Connected, VARIANT_BOOL*)
  VT_STUB(get_TargetServer, BSTR*)
  VT_STUB(get_ConnectedUser, BSTR*)
  VT_STUB(get_ConnectedDomain, BSTR*)
  VT_STUB(get_HighestVersion, DWORD*)
};

class CStubTaskFolder : public ITaskFolder {
 public:
  VT_STUB_DISPATCH
  VT_STUB(get_Name, BSTR*)
  VT_STUB(get_Path, BSTR*)
  VT_STUB(GetFolder, BSTR, ITaskFolder**)
  VT_STUB(GetFolders, LONG, ITaskFolderCollection**)
  VT_STUB(CreateFolder, BSTR, VARIANT, ITaskFolder**)
  VT_STUB(DeleteFolder, BSTR, LONG)
  VT_STUB(GetTask, BSTR, IRegisteredTask**)
  VT_STUB(GetTasks, LONG, IRegisteredTaskCollection**)
  VT_STUB(DeleteTask, BSTR, LONG)
  VT_STUB(RegisterTask, BSTR, BSTR, LONG, VARIANT, VARIANT, TASK_LOGON_TYPE, VARIANT,
          IRegisteredTask**)
  VT_STUB(RegisterTaskDefinition, BSTR, ITaskDefinition*, LONG, VARIANT, VARIANT, TASK_LOGON_TYPE,
          VARIANT, IRegisteredTask**)
  VT_STUB(GetSecurityDescriptor, LONG, BSTR*)
  VT_STUB(SetSecurityDescriptor, BSTR, LONG)
};

class CStubTaskDefinition : public ITaskDefinition {
 public:
  VT_STUB_DISPATCH
  VT_STUB(get_RegistrationInfo, IRegistrationInfo**)
  VT_STUB(put_RegistrationInfo, IRegistrationInfo*)
  VT_STUB(get_Triggers, ITriggerCollection**)
  VT_STUB(put_Triggers, ITriggerCollection*)
  VT_STUB(get_Settings, ITaskSettings**)
  VT_STUB(put_Settings, ITaskSettings*)
  VT_STUB(get_Data, BSTR*)
  VT_STUB(put_Data, BSTR)
  VT_STUB(get_Principal, IPrincipal**)
  VT_STUB(put_Principal, IPrincipal*)
  VT_STUB(get_Actions, IActionCollection**)
  VT_STUB(put_Actions, IActionCollection*)
  VT_STUB(get_XmlText, BSTR*)
  VT_STUB(put_XmlText, BSTR)
};

class CStubRegistrationInfo : public IRegistrationInfo {
 public:
  VT_STUB_DISPATCH
  VT_STUB(get_Description, BSTR*)
  VT_STUB(put_Description, BSTR)
  VT_STUB(get_Author, BSTR*)
  VT_STUB(put_Author, BSTR)
  VT_STUB(get_Version, BSTR*)
  VT_STUB(put_Version, BSTR)
  VT_STUB(get_Date, BSTR*)
  VT_STUB(put_Date, BSTR)
  VT_STUB(get_Documentation, BSTR*)
  VT_STUB(put_Documentation, BSTR)
  VT_STUB(get_XmlText, BSTR*)
  VT_STUB(put_XmlText, BSTR)
  VT_STUB(get_URI, BSTR*)
  VT_STUB(put_URI, BSTR)
  VT_STUB(get_SecurityDescriptor, VARIANT*)
  VT_STUB(put_SecurityDescriptor, VARIANT)
  VT_STUB(get_Source, BSTR*)
  VT_STUB(put_Source, BSTR)
};

class CStubPrincipal : public IPrincipal {
 public:
  VT_STUB_DISPATCH
  VT_STUB(get_Id, BSTR*)
  VT_STUB(put_Id, BSTR)
  VT_STUB(get_DisplayName, BSTR*)
  VT_STUB(put_DisplayName, BSTR)
  VT_STUB(get_UserId, BSTR*)
  VT_STUB(put_UserId, BSTR)
  VT_STUB(get_LogonType, TASK_LOGON_TYPE*)
  VT_STUB(put_LogonType, TASK_LOGON_TYPE)
  VT_STUB(get_GroupId, BSTR*)
  VT_STUB(put_GroupId, BSTR)
  VT_STUB(get_RunLevel, TASK_RUNLEVEL_TYPE*)
  VT_STUB(put_RunLevel, TASK_RUNLEVEL_TYPE)
};

class CStubTaskSettings : public ITaskSettings {
 public:
  VT_STUB_DISPATCH
  VT_STUB(get_AllowDemandStart, VARIANT_BOOL*)
  VT_STUB(put_AllowDemandStart, VARIANT_BOOL)
  VT_STUB(get_RestartInterval, BSTR*)
  VT_STUB(put_RestartInterval, BSTR)
  VT_STUB(get_RestartCount, INT*)
  VT_STUB(put_RestartCount, INT)
  VT_STUB(get_MultipleInstances, TASK_INSTANCES_POLICY*)
  VT_STUB(put_MultipleInstances, TASK_INSTANCES_POLICY)
  VT_STUB(get_StopIfGoingOnBatteries, VARIANT_BOOL*)
  VT_STUB(put_StopIfGoingOnBatteries, VARIANT_BOOL)
  VT_STUB(get_DisallowStartIfOnBatteries, VARIANT_BOOL*)
  VT_STUB(put_DisallowStartIfOnBatteries, VARIANT_BOOL)
  VT_STUB(get_AllowHardTerminate, VARIANT_BOOL*)
  VT_STUB(put_AllowHardTerminate, VARIANT_BOOL)
  VT_STUB(get_StartWhenAvailable, VARIANT_BOOL*)
  VT_STUB(put_StartWhenAvailable, VARIANT_BOOL)
  VT_STUB(get_XmlText, BSTR*)
  VT_STUB(put_XmlText, BSTR)
  VT_STUB(get_RunOnlyIfNetworkAvailable, VARIANT_BOOL*)
  VT_STUB(put_RunOnlyIfNetworkAvailable, VARIANT_BOOL)
  VT_STUB(get_ExecutionTimeLimit, BSTR*)
  VT_STUB(put_ExecutionTimeLimit, BSTR)
  VT_STUB(get_Enabled, VARIANT_BOOL*)
  VT_STUB(put_Enabled, VARIANT_BOOL)
  VT_STUB(get_DeleteExpiredTaskAfter, BSTR*)
  VT_STUB(put_DeleteExpiredTaskAfter, BSTR)
  VT_STUB(get_Priority, INT*)
  VT_STUB(put_Priority, INT)
  VT_STUB(get_Compatibility, TASK_COMPATIBILITY*)
  VT_STUB(put_Compatibility, TASK_COMPATIBILITY)
  VT_STUB(get_Hidden, VARIANT_BOOL*)
  VT_STUB(put_Hidden, VARIANT_BOOL)
  VT_STUB(get_IdleSettings, IIdleSettings**)
  VT_STUB(put_IdleSettings, IIdleSettings*)
  VT_STUB(get_RunOnlyIfIdle, VARIANT_BOOL*)
  VT_STUB(put_RunOnlyIfIdle, VARIANT_BOOL)
  VT_STUB(get_WakeToRun, VARIANT_BOOL*)
  VT_STUB(put_WakeToRun, VARIANT_BOOL)
  VT_STUB(get_NetworkSettings, INetworkSettings**)
  VT_STUB(put_NetworkSettings, INetworkSettings*)
};

class CStubIdleSettings : public IIdleSettings {
 public:
  VT_STUB_DISPATCH
  VT_STUB(get_IdleDuration, BSTR*)
  VT_STUB(put_IdleDuration, BSTR)
  VT_STUB(get_WaitTimeout, BSTR*)
  VT_STUB(put_WaitTimeout, BSTR)
  VT_STUB(get_StopOnIdleEnd, VARIANT_BOOL*)
  VT_STUB(put_StopOnIdleEnd, VARIANT_BOOL)
  VT_STUB(get_RestartOnIdle, VARIANT_BOOL*)
  VT_STUB(put_RestartOnIdle, VARIANT_BOOL)
};

class CStubTriggerCollection : public ITriggerCollection {
 public:
  VT_STUB_DISPATCH
  VT_STUB(get_Count, LONG*)
  VT_STUB(get_Item, LONG, ITrigger**)
  VT_STUB(get__NewEnum, IUnknown**)
  VT_STUB(Create, TASK_TRIGGER_TYPE2, ITrigger**)
  VT_STUB(Remove, VARIANT)
  VT_STUB(Clear)
};

class CStubWeeklyTrigger : public IWeeklyTrigger {
 public:
  VT_STUB_DISPATCH
  VT_STUB(get_Type, TASK_TRIGGER_TYPE2*)
  VT_STUB(get_Id, BSTR*)
  VT_STUB(put_Id, BSTR)
  VT_STUB(get_Repetition, IRepetitionPattern**)
  VT_STUB(put_Repetition, IRepetitionPattern*)
  VT_STUB(get_ExecutionTimeLimit, BSTR*)
  VT_STUB(put_ExecutionTimeLimit, BSTR)
  VT_STUB(get_StartBoundary, BSTR*)
  VT_STUB(put_StartBoundary, BSTR)
  VT_STUB(get_EndBoundary, BSTR*)
  VT_STUB(put_EndBoundary, BSTR)
  VT_STUB(get_Enabled, VARIANT_BOOL*)
  VT_STUB(put_Enabled, VARIANT_BOOL)
  VT_STUB(get_DaysOfWeek, short*)
  VT_STUB(put_DaysOfWeek, short)
  VT_STUB(get_WeeksInterval, short*)
  VT_STUB(put_WeeksInterval, short)
  VT_STUB(get_RandomDelay, BSTR*)
  VT_STUB(put_RandomDelay, BSTR)
};

class CStubActionCollection : public IActionCollection {
 public:
  VT_STUB_DISPATCH
  VT_STUB(get_Count, LONG*)
  VT_STUB(get_Item, LONG, IAction**)
  VT_STUB(get__NewEnum, IUnknown**)
  VT_STUB(get_XmlText, BSTR*)
  VT_STUB(put_XmlText, BSTR)
  VT_STUB(Create, TASK_ACTION_TYPE, IAction**)
  VT_STUB(Remove, VARIANT)
  VT_STUB(Clear)
  VT_STUB(get_Context, BSTR*)
  VT_STUB(put_Context, BSTR)
};

class CStubExecAction : public IExecAction {
 public:
  VT_STUB_DISPATCH
  VT_STUB(get_Id, BSTR*)
  VT_STUB(put_Id, BSTR)
  VT_STUB(get_Type, TASK_ACTION_TYPE*)
  VT_STUB(get_Path, BSTR*)
  VT_STUB(put_Path, BSTR)
  VT_STUB(get_Arguments, BSTR*)
  VT_STUB(put_Arguments, BSTR)
  VT_STUB(get_WorkingDirectory, BSTR*)
  VT_STUB(put_WorkingDirectory, BSTR)
};

class CStubRegisteredTaskCollection : public IRegisteredTaskCollection {
 public:
  VT_STUB_DISPATCH
  VT_STUB(get_Count, LONG*)
  VT_STUB(get_Item, VARIANT, IRegisteredTask**)
  VT_STUB(get__NewEnum, IUnknown**)
};

class CStubRegisteredTask : public IRegisteredTask {
 public:
  VT_STUB_DISPATCH
  VT_STUB(get_Name, BSTR*)
  VT_STUB(get_Path, BSTR*)
  VT_STUB(get_State, TASK_STATE*)
  VT_STUB(get_Enabled, VARIANT_BOOL*)
  VT_STUB(put_Enabled, VARIANT_BOOL)
  VT_STUB(Run, VARIANT, IRunningTask**)
  VT_STUB(RunEx, VARIANT, LONG, LONG, BSTR, IRunningTask**)
  VT_STUB(GetInstances, LONG, IRunningTaskCollection**)
  VT_STUB(get_LastRunTime, DATE*)
  VT_STUB(get_LastTaskResult, LONG*)
  VT_STUB(get_NumberOfMissedRuns, LONG*)
  VT_STUB(get_NextRunTime, DATE*)
  VT_STUB(get_Definition, ITaskDefinition**)
  VT_STUB(get_Xml, BSTR*)
  VT_STUB(GetSecurityDescriptor, LONG, BSTR*)
  VT_STUB(SetSecurityDescriptor, BSTR, LONG)
  VT_STUB(Stop, LONG)
  VT_STUB(GetRunTimes, const LPSYSTEMTIME, const LPSYSTEMTIME, DWORD*, LPSYSTEMTIME*)
};

#undef VT_STUB_DISPATCH
#undef VT_STUB

}  // namespace test
}  // namespace vt
