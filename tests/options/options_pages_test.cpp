// The options sheet's logic: the General page (processors, priority,
// registration messages) and the Scheduler page (validation, the keys it
// writes in order, the task it asks for, the protected password).
#include <gtest/gtest.h>

#include "pages/options_page.h"
#include "pages/scheduler_page.h"
#include "platform/recording.h"
#include "tests/settings/settings_test_util.h"

namespace vt {
namespace {

using testing_util::CScratchFolder;

class CFakeShellHost : public IShellExtensionHost {
 public:
  std::string LibraryPath() override { return "C:\\Program\\VantrelShell.dll"; }
  CallResult CallServer(const std::string&, bool registering) override {
    ++m_nCalls;
    if (m_result == Called && m_bWorks) m_bRegistered = registering;
    return m_result;
  }
  bool IsRegistered() override { return m_bRegistered; }
  CallResult m_result = Called;
  bool m_bWorks = true;
  bool m_bRegistered = false;
  int m_nCalls = 0;
};

TEST(GeneralPage, ProcessorMaskChecksItsBitsOrEveryItemWhenNoneMatches) {
  CScratchFolder dir;
  SettingsFile settings(dir.File("Vantrel.ini"));
  COptionsPage page;
  page.Load(settings, 4, false);
  EXPECT_EQ(page.CpuMask(), 0xFu);  // never set: all
  EXPECT_EQ(page.Priority(), kNormalPriorityIndex);
  EXPECT_TRUE(page.SaveLogFiles());
  settings.SetInt("Processors", 5);
  settings.SetInt("ProcessorPriority", 0x4000);
  settings.SetInt("SaveLogFiles", 0);
  page.Load(settings, 4, true);
  EXPECT_EQ(page.CpuMask(), 5u);
  EXPECT_EQ(page.ShownCpu(), 0);
  EXPECT_EQ(page.CpuText(2), "CPU 2");
  EXPECT_STREQ(kPriorityItems[page.Priority()].m_pszText, "Below Normal");
  EXPECT_FALSE(page.SaveLogFiles());
  EXPECT_TRUE(page.ShellExtension());
  settings.SetInt("Processors", 16);
  page.Load(settings, 2, false);
  EXPECT_EQ(page.CpuMask(), 3u);
  page.Load(settings, 0, false);
  EXPECT_EQ(page.CpuCount(), 0u);
}

TEST(GeneralPage, ApplyRefusesWithoutCpuOrPriorityAndOtherwiseWritesAndRegisters) {
  CScratchFolder dir;
  SettingsFile settings(dir.File("Vantrel.ini"));
  CFakeShellHost host;
  CScriptedPrompt prompt;
  COptionsPage page;
  page.Load(settings, 2, false);
  page.SetCpuChecked(0, false);
  page.SetCpuChecked(1, false);
  int focus = 0;
  EXPECT_EQ(page.Apply(settings, host, prompt, &focus), 0);
  EXPECT_EQ(focus, kIdcCpuList);
  page.SetCpuChecked(1, true);
  page.SelectPriority(-1);
  EXPECT_EQ(page.Apply(settings, host, prompt, &focus), 0);
  EXPECT_EQ(focus, kIdcPriority);
  EXPECT_EQ(prompt.Texts(), (std::vector<std::string>{kNoCpuText, kNoPriorityText}));
  EXPECT_EQ(host.m_nCalls, 0);
  EXPECT_EQ(settings.GetInt("Processors", -7), -7);  // nothing written on a refusal

  page.SelectPriority(0);
  page.SetShellExtension(true);
  page.SetSaveLogFiles(false);
  EXPECT_EQ(page.Apply(settings, host, prompt, &focus), 1);
  EXPECT_EQ(settings.GetInt("Processors", 0), 2);
  EXPECT_EQ(settings.GetInt("ProcessorPriority", 0), 0x80);
  EXPECT_EQ(settings.GetInt("SaveLogFiles", 1), 0);
  EXPECT_TRUE(host.m_bRegistered);
  // Unchanged and registered already: registered again all the same.
  EXPECT_EQ(page.Apply(settings, host, prompt, &focus), 1);
  EXPECT_EQ(host.m_nCalls, 2);
}

TEST(GeneralPage, RegistrationFailuresAreToldWithTheirOwnTexts) {
  CFakeShellHost host;
  CScriptedPrompt prompt;
  host.m_result = IShellExtensionHost::NotLoaded;
  EXPECT_FALSE(RegisterShellExtension(true, host, prompt));
  host.m_result = IShellExtensionHost::NoExport;
  EXPECT_FALSE(RegisterShellExtension(true, host, prompt));
  host.m_result = IShellExtensionHost::Called;
  host.m_bWorks = false;
  EXPECT_FALSE(RegisterShellExtension(true, host, prompt));
  host.m_bRegistered = true;
  EXPECT_FALSE(RegisterShellExtension(false, host, prompt));
  EXPECT_EQ(prompt.Texts(),
            (std::vector<std::string>{
                "Could not load shell extension.\n C:\\Program\\VantrelShell.dll",
                kShellNoExportText, kShellRegisterFailedText, kShellUnregisterFailedText}));
  host.m_bWorks = true;
  EXPECT_TRUE(RegisterShellExtension(false, host, prompt));
  EXPECT_FALSE(host.m_bRegistered);
}

// Protection that can be told apart from clear text and fails on demand.
class CFakeProtector : public ISecretProtector {
 public:
  bool Protect(const std::string& clear, std::string* blob) override {
    if (m_bBroken) return false;
    *blob = "P" + clear;
    return true;
  }
  bool Unprotect(const std::string& blob, std::string* clear) override {
    if (blob.empty() || blob[0] != 'P') return false;
    *clear = blob.substr(1);
    return true;
  }
  bool m_bBroken = false;
};

class CFakeScheduler : public IScheduleService {
 public:
  bool VistaDefragActive() override { return m_bVistaActive; }
  HRESULT CreateTask(const CScheduleFields& fields, std::string* error) override {
    m_created.push_back(fields);
    *error = m_strError;
    return m_hr;
  }
  void RemoveTask() override { ++m_nRemoved; }
  bool m_bVistaActive = false;
  HRESULT m_hr = 0;
  std::string m_strError;
  std::vector<CScheduleFields> m_created;
  int m_nRemoved = 0;
};

class SchedulerPageTest : public ::testing::Test {
 protected:
  SchedulerPageTest() : m_settings(m_dir.File("Vantrel.ini")) {
    m_today.wYear = 2026, m_today.wMonth = 12, m_today.wDay = 8;
    m_today.wHour = 16, m_today.wMinute = 5, m_today.wSecond = 42;
  }
  void Open() {
    std::vector<CScheduleDriveItem> drives(3);
    drives[0].m_strText = "C:\\", drives[0].m_nIndex = 2;
    drives[1].m_strText = "D:\\", drives[1].m_nIndex = 3;
    drives[2].m_strText = "M:\\", drives[2].m_nIndex = 12;
    m_page.Load(m_settings, m_protector, drives, m_today);
  }
  int Ok() { return m_page.Apply(m_settings, m_service, m_protector, m_prompt, &m_focus); }

  CScratchFolder m_dir;
  SettingsFile m_settings;
  CFakeProtector m_protector;
  CFakeScheduler m_service;
  CScriptedPrompt m_prompt;
  CSchedulerPage m_page;
  SYSTEMTIME m_today = {};
  int m_focus = 0;
};

TEST_F(SchedulerPageTest, EveryValidationRefusesInOrderKeepingTheKeysThatPassed) {
  Open();
  EXPECT_EQ(m_page.RecurText(), "1");
  EXPECT_TRUE(m_page.Idle());
  m_page.SetOn(true);
  m_page.Touch();
  EXPECT_EQ(Ok(), 0);
  EXPECT_EQ(m_focus, kIdcScheduleDays);
  EXPECT_EQ(m_settings.GetInt("AutoDefragIdle", -1), 1);
  m_page.SetDayChecked(1, true);
  m_page.SetDayChecked(5, true);
  for (const char* bad : {"0", "53", "-1", "weekly", ""}) {
    m_page.SetRecurText(bad);
    EXPECT_EQ(Ok(), 0) << bad;
    EXPECT_EQ(m_focus, kIdcScheduleRecur);
  }
  EXPECT_EQ(m_settings.GetInt("AutoDefragDays", 0), 0x22);
  m_page.SetRecurText("52");
  EXPECT_EQ(Ok(), 0);
  EXPECT_EQ(m_focus, kIdcScheduleDrives);
  EXPECT_EQ(m_settings.GetInt("AutoDefragRecur", 0), 52);
  EXPECT_EQ(m_settings.GetString("AutoDefragStartTime"), "16,05,42,");
  EXPECT_EQ(m_settings.GetString("AutoDefragDrives", "none"), "none");
  EXPECT_TRUE(m_service.m_created.empty());
  std::vector<std::string> expected = {kNoDaysText};
  for (int i = 0; i < 5; ++i) expected.push_back(kBadRecurText);
  expected.push_back(kNoDrivesText);
  EXPECT_EQ(m_prompt.Texts(), expected);
}

TEST_F(SchedulerPageTest, OkCreatesTheWeeklyTaskAndTheNextOpeningReadsItBack) {
  Open();
  m_page.SetOn(true);
  m_page.SetDayChecked(0, true);
  m_page.SetRecurText("2");
  m_page.SetIdle(false);
  SYSTEMTIME start = m_today;
  start.wHour = 7, start.wMinute = 30, start.wSecond = 0;
  m_page.SetStart(start);
  m_page.Drives()[0].m_bChecked = true;
  m_page.Drives()[2].m_bChecked = true;
  m_page.SetAccount("admin");
  m_page.SetPassword("s3cret");
  m_page.Touch();
  EXPECT_EQ(Ok(), 1);
  EXPECT_EQ(m_settings.GetString("AutoDefragDrives"), "2,12,");
  EXPECT_EQ(m_settings.GetString("AutoDefragStartTime"), "07,30,00,");
  EXPECT_EQ(m_settings.GetInt("AutoDefrag", 0), 1);
  EXPECT_EQ(m_settings.GetInt("AutoDefragIdle", 1), 0);
  // The password is not stored as typed.
  EXPECT_EQ(m_settings.GetString("AutoDefragPassword"), "protected:5073336372657" "4");
  ASSERT_EQ(m_service.m_created.size(), 1u);
  const CScheduleFields& task = m_service.m_created[0];
  EXPECT_EQ(task.m_nDays, 1);
  EXPECT_EQ(task.m_nWeeks, 2);
  EXPECT_EQ(task.m_nIdle, 0);
  EXPECT_EQ(task.m_stStart.wHour, 7);
  EXPECT_EQ(task.m_stStart.wDay, 8);
  EXPECT_EQ(task.m_strPassword, "s3cret");

  m_today.wDay = 9;
  Open();
  EXPECT_TRUE(m_page.On());
  EXPECT_TRUE(m_page.DayChecked(0));
  EXPECT_FALSE(m_page.DayChecked(1));
  EXPECT_TRUE(m_page.Drives()[0].m_bChecked);
  EXPECT_FALSE(m_page.Drives()[1].m_bChecked);
  EXPECT_TRUE(m_page.Drives()[2].m_bChecked);
  EXPECT_EQ(m_page.Start().wHour, 7);
  EXPECT_EQ(m_page.Start().wMinute, 30);
  EXPECT_EQ(m_page.Start().wDay, 9);
  EXPECT_EQ(m_page.Password(), "s3cret");
  // Nothing touched: OK changes nothing.
  EXPECT_EQ(Ok(), 1);
  EXPECT_EQ(m_service.m_created.size(), 1u);
  // Switched off: the task goes without any validation.
  m_page.SetOn(false);
  m_page.SetRecurText("99");
  EXPECT_EQ(Ok(), 1);
  EXPECT_EQ(m_service.m_nRemoved, 1);
  EXPECT_EQ(m_settings.GetInt("AutoDefrag", 1), 0);
}

TEST_F(SchedulerPageTest, TaskFailuresUncheckTheSwitchWithTheirMessages) {
  Open();
  m_page.SetOn(true);
  m_page.SetDayChecked(3, true);
  m_page.Drives()[1].m_bChecked = true;
  m_page.Touch();
  m_service.m_hr = static_cast<HRESULT>(0x80004001u);
  m_service.m_strError = "Not implemented";
  EXPECT_EQ(Ok(), 0);
  EXPECT_FALSE(m_page.On());
  m_page.SetOn(true);
  m_page.SetAccount("admin");
  EXPECT_EQ(Ok(), 0);
  // The library was missing and has said so: nothing more.
  m_page.SetOn(true);
  m_service.m_strError.clear();
  EXPECT_EQ(Ok(), 0);
  EXPECT_FALSE(m_page.On());
  // Vista's own defragmenter: No keeps the sheet open without a task.
  m_service.m_hr = 0;
  m_service.m_bVistaActive = true;
  m_page.SetOn(true);
  m_prompt.Script(IDNO);
  EXPECT_EQ(Ok(), 0);
  EXPECT_FALSE(m_page.On());
  EXPECT_EQ(m_service.m_created.size(), 3u);
  m_page.SetOn(true);
  m_prompt.Script(IDYES);
  EXPECT_EQ(Ok(), 1);
  EXPECT_EQ(m_service.m_created.size(), 4u);
  EXPECT_EQ(m_prompt.Texts(),
            (std::vector<std::string>{
                std::string("Not implemented") + kCheckServiceText,
                std::string("Not implemented") + kCheckServiceText + kCheckAccountText,
                kVistaDefragNote, kVistaDefragNote}));
}

TEST_F(SchedulerPageTest, OldClearPasswordIsReadAndProtectedOnTheNextSave) {
  m_settings.SetString("AutoDefragPassword", "plain old");
  m_settings.SetInt("AutoDefrag", 1);
  m_settings.SetInt("AutoDefragDays", 2);
  m_settings.SetString("AutoDefragDrives", "3,");
  Open();
  EXPECT_EQ(m_page.Password(), "plain old");
  m_page.Touch();
  EXPECT_EQ(Ok(), 1);
  const std::string stored = m_settings.GetString("AutoDefragPassword");
  EXPECT_EQ(stored.rfind(kProtectedMarker, 0), 0u);
  std::string back;
  EXPECT_TRUE(ReadStoredPassword(stored, m_protector, &back));
  EXPECT_EQ(back, "plain old");
  // Damaged protected text reads as no password, and cannot crash.
  for (const char* damaged : {"protected:5", "protected:zz", "protected:00"})
    EXPECT_FALSE(ReadStoredPassword(damaged, m_protector, &back)) << damaged;
  EXPECT_TRUE(back.empty());
  // Protection that fails stores nothing rather than the clear text, and
  // the task does not get a password the settings do not hold.
  m_protector.m_bBroken = true;
  m_page.SetPassword("new");
  const size_t tasks = m_service.m_created.size();
  EXPECT_EQ(Ok(), 0);
  EXPECT_EQ(m_focus, kIdcSchedulePassword);
  EXPECT_EQ(m_prompt.Texts().back(), kPasswordNotSavedText);
  EXPECT_EQ(m_service.m_created.size(), tasks);
  EXPECT_EQ(m_settings.GetString("AutoDefragPassword"), stored);
}

TEST_F(SchedulerPageTest, ASwitchWhoseTaskFailedIsStoredOffAndNoDayShowsNone) {
  Open();
  EXPECT_EQ(m_page.ShownDay(), -1);  // not "Sunday"
  m_page.SetDayChecked(4, true);
  m_page.SetDayChecked(2, true);
  EXPECT_EQ(m_page.ShownDay(), 2);
  m_page.SetOn(true);
  m_page.Drives()[0].m_bChecked = true;
  m_page.Touch();
  m_service.m_hr = static_cast<HRESULT>(0x80070005u);
  m_service.m_strError = "Access is denied.";
  EXPECT_EQ(Ok(), 0);
  EXPECT_EQ(m_settings.GetInt("AutoDefrag", 1), 0);
  m_service.m_hr = 0;
  m_page.SetOn(true);
  EXPECT_EQ(Ok(), 1);
  EXPECT_EQ(m_settings.GetInt("AutoDefrag", 0), 1);
}

TEST(ScheduleTexts, ListsAndTimesReadInTheMannerOfAtoi) {
  EXPECT_EQ(ParseIndexList("2,3,"), (std::vector<int>{2, 3}));
  EXPECT_EQ(ParseIndexList("2,3"), (std::vector<int>{2}));
  EXPECT_EQ(ParseIndexList("12,12,"), (std::vector<int>{12, 12}));
  EXPECT_EQ(ParseIndexList(""), std::vector<int>{});
  EXPECT_EQ(ParseIndexList("x,4,"), (std::vector<int>{0, 4}));
  int h = -1, m = -1, s = -1;
  ParseStartTime("07,30,00,", &h, &m, &s);
  EXPECT_EQ(h * 10000 + m * 100 + s, 73000);
  ParseStartTime("23,5", &h, &m, &s);
  EXPECT_EQ(h * 10000 + m * 100 + s, 230500);
  EXPECT_EQ(FormatStartTime(7, 3, 9), "07,03,09,");
}

}  // namespace
}  // namespace vt
