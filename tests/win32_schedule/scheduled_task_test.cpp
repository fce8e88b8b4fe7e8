// CScheduledTask's own decisions: the path it takes, its defaults and error
// text, and the flags and trigger it asks Task Scheduler 1.0 for.
#include "schedule/scheduled_task.h"

#include <gtest/gtest.h>

#include "platform/recording.h"

namespace vt {
namespace {

ScheduleEnvironment System(DWORD platformId, DWORD major) {
  ScheduleEnvironment e;
  e.platformId = platformId;
  e.majorVersion = major;
  return e;
}

SYSTEMTIME Date(WORD year, WORD month, WORD day, WORD hour = 0, WORD minute = 0) {
  SYSTEMTIME t = {};
  t.wYear = year;
  t.wMonth = month;
  t.wDay = day;
  t.wHour = hour;
  t.wMinute = minute;
  return t;
}

TEST(ScheduledTask, ChoosesTheLibraryFromWindowsVistaOn) {
  CScriptedPrompt prompt;
  CScheduledTask xp(prompt, System(2, 5));
  EXPECT_TRUE(xp.IsNT());
  EXPECT_FALSE(xp.UsesLibrary());
  CScheduledTask vista(prompt, System(2, 6));
  EXPECT_TRUE(vista.UsesLibrary());
  CScheduledTask later(prompt, System(2, 10));
  EXPECT_TRUE(later.UsesLibrary());
  // Not NT: Task Scheduler 1.0 whatever the number says.
  CScheduledTask old(prompt, System(1, 6));
  EXPECT_FALSE(old.IsNT());
  EXPECT_FALSE(old.UsesLibrary());
}

TEST(ScheduledTask, StartsWithTheResetErrorText) {
  CScriptedPrompt prompt;
  CScheduledTask task(prompt, System(2, 5));
  EXPECT_EQ(task.GetErrorText(), "\n\nError code: 0x00000000");
  EXPECT_EQ(task.GetStart().wYear, 0);
}

TEST(ScheduledTask, MissingStartNameOrProgramFailsQuietly) {
  CScriptedPrompt prompt;
  CScheduledTask task(prompt, System(2, 5));
  task.SetApplication("C:\\Vantrel\\Vantrel.exe");
  EXPECT_EQ(task.CreateTask("Vantrel", false), E_FAIL);  // year 0
  EXPECT_EQ(task.GetErrorText(), "\n\nError code: 0x00000000");
  task.SetStart(Date(2008, 1, 3, 2, 0));
  EXPECT_EQ(task.CreateTask("", false), E_FAIL);
  task.SetApplication("");
  EXPECT_EQ(task.CreateTask("Vantrel", false), E_FAIL);
  EXPECT_EQ(task.RemoveTask(""), E_FAIL);
  // A removal's failure is not described by the creation's reset text.
  EXPECT_EQ(task.GetErrorText(), "");
  EXPECT_TRUE(prompt.Prompts().empty());
}

TEST(ScheduledTask, FlagsFollowAccountIdleAndPlatform) {
  CScriptedPrompt prompt;
  CScheduledTask task(prompt, System(2, 5));
  // Defaults: no account, idle start on.
  EXPECT_EQ(task.TaskFlags(true), 0x28F1u);
  EXPECT_EQ(task.TaskFlags(false), 0x28F0u);
  task.SetAccount("DOMAIN\\alice");
  EXPECT_EQ(task.TaskFlags(true), 0x08F1u);
  task.SetRunOnlyIfIdle(0);
  EXPECT_EQ(task.TaskFlags(true), 0x00C1u);
  task.SetAccount("");
  EXPECT_EQ(task.TaskFlags(false), 0x20C0u);
}

TEST(ScheduledTask, TriggerForEachKind) {
  CScriptedPrompt prompt;
  CScheduledTask task(prompt, System(2, 5));
  task.SetStart(Date(2008, 1, 3, 2, 5));
  task.SetDaysOfWeek(0x22);
  task.SetWeeksInterval(2);

  task.SetTriggerKind(kTriggerWeekly);
  ScheduleTrigger t = task.Trigger();
  EXPECT_EQ(t.type, 2);
  EXPECT_EQ(t.weeksInterval, 2);
  EXPECT_EQ(t.daysOfTheWeek, 0x22);
  EXPECT_EQ(t.beginYear, 2008);
  EXPECT_EQ(t.beginMonth, 1);
  EXPECT_EQ(t.beginDay, 3);
  EXPECT_EQ(t.startHour, 2);
  EXPECT_EQ(t.startMinute, 5);
  EXPECT_EQ(t.flags, 0u);
  EXPECT_EQ(t.endYear, 0);

  task.SetTriggerKind(kTriggerOnce);
  t = task.Trigger();
  EXPECT_EQ(t.type, 0);
  EXPECT_EQ(t.weeksInterval, 0);

  task.SetTriggerKind(kTriggerDaily);
  t = task.Trigger();
  EXPECT_EQ(t.type, 1);
  EXPECT_EQ(t.daysInterval, 1);

  task.SetTriggerKind(kTriggerMonthly);
  task.SetStart(Date(2008, 1, 31, 2, 0));
  t = task.Trigger();
  EXPECT_EQ(t.type, 3);
  EXPECT_EQ(t.monthDays, 0x40000000u);
  EXPECT_EQ(t.months, 0xFFF);
  task.SetStart(Date(2008, 1, 1));
  EXPECT_EQ(task.Trigger().monthDays, 1u);
  // A nonsense day gives no day rather than an undefined shift.
  task.SetStart(Date(2008, 1, 0));
  EXPECT_EQ(task.Trigger().monthDays, 0u);

  task.SetEnd(Date(2009, 2, 3));
  t = task.Trigger();
  EXPECT_EQ(t.flags, 1u);
  EXPECT_EQ(t.endYear, 2009);
  EXPECT_EQ(t.endMonth, 2);
  EXPECT_EQ(t.endDay, 3);
}

TEST(ScheduledTask, StartTimeFromAValueIsLocalWithoutSeconds) {
  CScriptedPrompt prompt;
  CScheduledTask task(prompt, System(2, 5));
  std::tm local = {};
  local.tm_year = 2009 - 1900;
  local.tm_mon = 2;
  local.tm_mday = 5;
  local.tm_hour = 7;
  local.tm_min = 30;
  local.tm_sec = 59;
  local.tm_isdst = -1;
  task.SetStartTime(std::mktime(&local));
  const SYSTEMTIME& s = task.GetStart();
  EXPECT_EQ(s.wYear, 2009);
  EXPECT_EQ(s.wMonth, 3);
  EXPECT_EQ(s.wDay, 5);
  EXPECT_EQ(s.wDayOfWeek, 4);  // a Thursday
  EXPECT_EQ(s.wHour, 7);
  EXPECT_EQ(s.wMinute, 30);
  EXPECT_EQ(s.wSecond, 0);
  EXPECT_EQ(s.wMilliseconds, 0);
}

TEST(ScheduledTask, SystemTextIsMadeOneLine) {
  EXPECT_EQ(OneLineSystemText("Access is denied.\r\n"), "Access is denied. ");
  EXPECT_EQ(OneLineSystemText("one\r\ntwo\nthree\r"), "one two three");
  EXPECT_EQ(OneLineSystemText(""), "");
}

}  // namespace
}  // namespace vt
