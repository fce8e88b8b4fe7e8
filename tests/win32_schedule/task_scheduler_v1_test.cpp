// The Task Scheduler 1.0 path against Wine's own implementation: the work
// item is saved and read back through ITask and ITaskTrigger.
#include <gtest/gtest.h>
#include <mstask.h>

#include "platform/recording.h"
#include "schedule/scheduled_task.h"
#include "tasklib/com_ref.h"

namespace vt {
namespace {

const wchar_t kName[] = L"Vantrel";

struct WorkItem {
  bool found = false;
  std::wstring application, parameters, directory, comment;
  DWORD flags = 0;
  WORD triggers = 0;
  TASK_TRIGGER trigger = {};
};

std::wstring Take(LPWSTR text) {
  std::wstring out = text ? text : L"";
  ::CoTaskMemFree(text);
  return out;
}

HRESULT NewScheduler(ITaskScheduler** scheduler) {
  return ::CoCreateInstance(CLSID_CTaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskScheduler,
                            reinterpret_cast<void**>(scheduler));
}

WorkItem Read(const wchar_t* name) {
  WorkItem item;
  CComRef<ITaskScheduler> scheduler;
  if (FAILED(NewScheduler(scheduler.Put()))) return item;
  CComRef<ITask> task;
  if (FAILED(scheduler->Activate(name, IID_ITask, reinterpret_cast<IUnknown**>(task.Put()))))
    return item;
  item.found = true;
  LPWSTR text = nullptr;
  if (SUCCEEDED(task->GetApplicationName(&text))) item.application = Take(text);
  if (SUCCEEDED(task->GetParameters(&text))) item.parameters = Take(text);
  if (SUCCEEDED(task->GetWorkingDirectory(&text))) item.directory = Take(text);
  if (SUCCEEDED(task->GetComment(&text))) item.comment = Take(text);
  task->GetFlags(&item.flags);
  task->GetTriggerCount(&item.triggers);
  CComRef<ITaskTrigger> trigger;
  if (item.triggers > 0 && SUCCEEDED(task->GetTrigger(0, trigger.Put()))) {
    item.trigger.cbTriggerSize = sizeof(TASK_TRIGGER);
    trigger->GetTrigger(&item.trigger);
  }
  return item;
}

HRESULT NoScheduler(ITaskScheduler** scheduler) {
  *scheduler = nullptr;
  return REGDB_E_CLASSNOTREG;
}

class ScheduledTaskV1 : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
    m_comUp = true;
    Delete();
  }
  void TearDown() override {
    if (!m_comUp) return;
    Delete();
    ::CoUninitialize();
  }
  static void Delete() {
    CComRef<ITaskScheduler> scheduler;
    if (SUCCEEDED(NewScheduler(scheduler.Put()))) scheduler->Delete(kName);
  }
  // Windows XP as far as the class can tell: Task Scheduler 1.0.
  static ScheduleEnvironment Xp() {
    ScheduleEnvironment e = ScheduleEnvironment::Current();
    e.platformId = 2;
    e.majorVersion = 5;
    return e;
  }
  void Fill(CScheduledTask* task) {
    SYSTEMTIME start = {};
    start.wYear = 2008;
    start.wMonth = 1;
    start.wDay = 3;
    start.wHour = 2;
    task->SetStart(start);
    task->SetTriggerKind(kTriggerWeekly);
    task->SetDaysOfWeek(0x22);
    task->SetWeeksInterval(2);
    task->SetApplication("C:\\Program Files\\Vantrel\\Vantrel.exe");
    task->SetParameters("/auto");
    task->SetWorkingDirectory("C:\\Program Files\\Vantrel");
    task->SetComment("Weekly defragmentation");
  }
  bool m_comUp = false;
  CScriptedPrompt m_prompt;
};

TEST_F(ScheduledTaskV1, SavesTheWeeklyWorkItemAsAsked) {
  CScheduledTask task(m_prompt, Xp());
  Fill(&task);
  ASSERT_EQ(task.CreateTask("Vantrel", true), S_OK) << task.GetErrorText();
  EXPECT_EQ(task.GetErrorText(), "\n\nError code: 0x00000000");

  WorkItem item = Read(kName);
  ASSERT_TRUE(item.found);
  EXPECT_EQ(item.application, L"C:\\Program Files\\Vantrel\\Vantrel.exe");
  EXPECT_EQ(item.parameters, L"/auto");
  EXPECT_EQ(item.directory, L"C:\\Program Files\\Vantrel");
  EXPECT_EQ(item.comment, L"Weekly defragmentation");
  // No account: the logged-on user only; idle start; interactive on NT.
  EXPECT_EQ(item.flags, 0x20C0u | 0x10u | 0x20u | 0x800u | 0x1u);
  ASSERT_EQ(item.triggers, 1);
  const TASK_TRIGGER& t = item.trigger;
  EXPECT_EQ(t.TriggerType, TASK_TIME_TRIGGER_WEEKLY);
  EXPECT_EQ(t.Type.Weekly.WeeksInterval, 2);
  EXPECT_EQ(t.Type.Weekly.rgfDaysOfTheWeek, 0x22);
  EXPECT_EQ(t.wBeginYear, 2008);
  EXPECT_EQ(t.wBeginMonth, 1);
  EXPECT_EQ(t.wBeginDay, 3);
  EXPECT_EQ(t.wStartHour, 2);
  EXPECT_EQ(t.wStartMinute, 0);
  EXPECT_EQ(t.rgFlags & TASK_TRIGGER_FLAG_HAS_END_DATE, 0u);
  EXPECT_TRUE(m_prompt.Prompts().empty());
}

TEST_F(ScheduledTaskV1, AnExistingTaskIsKeptOrReplaced) {
  CScheduledTask first(m_prompt, Xp());
  Fill(&first);
  ASSERT_EQ(first.CreateTask("Vantrel", false), S_OK) << first.GetErrorText();

  CScheduledTask second(m_prompt, Xp());
  Fill(&second);
  second.SetDaysOfWeek(0x41);
  EXPECT_EQ(second.CreateTask("Vantrel", true), HRESULT_FROM_WIN32(ERROR_FILE_EXISTS));
  EXPECT_EQ(second.GetErrorText(),
            "A task with the given name already exists.\n\nError code: 0x00000000");
  EXPECT_EQ(Read(kName).trigger.Type.Weekly.rgfDaysOfTheWeek, 0x22);

  EXPECT_EQ(second.CreateTask("Vantrel", false), S_OK) << second.GetErrorText();
  EXPECT_EQ(second.GetErrorText(), "\n\nError code: 0x00000000");
  EXPECT_EQ(Read(kName).trigger.Type.Weekly.rgfDaysOfTheWeek, 0x41);
}

TEST_F(ScheduledTaskV1, RemoveDeletesTheWorkItem) {
  CScheduledTask task(m_prompt, Xp());
  Fill(&task);
  ASSERT_EQ(task.CreateTask("Vantrel", false), S_OK) << task.GetErrorText();
  EXPECT_EQ(task.RemoveTask("Vantrel"), S_OK);
  EXPECT_FALSE(Read(kName).found);
  EXPECT_TRUE(FAILED(task.RemoveTask("Vantrel")));
  // RemoveTask writes no text of its own, and leaves none of the creation's
  // ("Error code: 0x00000000") to be shown as the removal's reason.
  EXPECT_EQ(task.GetErrorText(), "");
}

TEST_F(ScheduledTaskV1, AnAccountDropsTheLoggedOnOnlyFlag) {
  CScheduledTask task(m_prompt, Xp());
  Fill(&task);
  task.SetAccount("WORKGROUP\\alice");
  ASSERT_EQ(task.CreateTask("Vantrel", false), S_OK) << task.GetErrorText();
  EXPECT_EQ(Read(kName).flags, 0x08F1u);
}

TEST_F(ScheduledTaskV1, MonthlyOnTheLastDay) {
  CScheduledTask task(m_prompt, Xp());
  Fill(&task);
  SYSTEMTIME start = task.GetStart();
  start.wDay = 31;
  task.SetStart(start);
  task.SetTriggerKind(kTriggerMonthly);
  SYSTEMTIME end = {};
  end.wYear = 2009;
  end.wMonth = 2;
  end.wDay = 3;
  task.SetEnd(end);
  ASSERT_EQ(task.CreateTask("Vantrel", false), S_OK) << task.GetErrorText();
  const TASK_TRIGGER t = Read(kName).trigger;
  EXPECT_EQ(t.TriggerType, TASK_TIME_TRIGGER_MONTHLYDATE);
  EXPECT_EQ(t.Type.MonthlyDate.rgfDays, 0x40000000u);
  EXPECT_EQ(t.Type.MonthlyDate.rgfMonths, 0xFFF);
  EXPECT_EQ(t.rgFlags & TASK_TRIGGER_FLAG_HAS_END_DATE, TASK_TRIGGER_FLAG_HAS_END_DATE);
  EXPECT_EQ(t.wEndYear, 2009);
  EXPECT_EQ(t.wEndMonth, 2);
  EXPECT_EQ(t.wEndDay, 3);
}

TEST_F(ScheduledTaskV1, ARefusedTriggerIsReportedAndNothingIsSaved) {
  CScheduledTask task(m_prompt, Xp());
  Fill(&task);
  SYSTEMTIME start = task.GetStart();
  start.wMonth = 13;
  task.SetStart(start);
  EXPECT_EQ(task.CreateTask("Vantrel", false), E_INVALIDARG);
  EXPECT_EQ(task.GetErrorText(), "Failed to add trigger to the task. \n\nError code: 0x80070057");
  EXPECT_FALSE(Read(kName).found);
}

TEST_F(ScheduledTaskV1, WithoutTheSchedulerTheUserIsToldWhy) {
  ScheduleEnvironment e = Xp();
  e.createScheduler = NoScheduler;
  CScheduledTask task(m_prompt, e);
  Fill(&task);
  EXPECT_EQ(task.CreateTask("Vantrel", false), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(task.GetErrorText(),
            "Windows Task Scheduler is not installed or is disabled.\n\nError code: 0x80040154");
  EXPECT_EQ(task.RemoveTask("Vantrel"), REGDB_E_CLASSNOTREG);
}

}  // namespace
}  // namespace vt
