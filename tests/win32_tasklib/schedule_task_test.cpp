// ScheduleTask's sequence of Task Scheduler 2.0 calls, against the stand-in
// service.
#include <gtest/gtest.h>

#include <algorithm>

#include "tasklib/task_service.h"
#include "ts2_double.h"

namespace vt {
namespace test {
namespace {

class ScheduleTaskDouble : public ::testing::Test {
 protected:
  void SetUp() override {
    CurrentWorld() = &m_world;
    m_request.application = L"C:\\Program Files\\Vantrel\\Vantrel.exe";
    m_request.arguments = L"/auto";
    m_request.workingDirectory = L"C:\\Program Files\\Vantrel";
    m_request.account = L"alice";
    m_request.password = L"secret";
    m_request.daysOfWeek = 0x22;
    m_request.weeksInterval = 2;
    m_request.runOnlyIfIdle = 1;
    m_request.year = 2009;
    m_request.month = 3;
    m_request.day = 5;
    m_request.hour = 7;
    m_request.minute = 30;
  }
  void TearDown() override {
    // Everything the service handed out was given back.
    EXPECT_EQ(m_world.live, 0);
    CurrentWorld() = nullptr;
  }
  HRESULT Run() { return RunScheduleTask(&m_request, CreateFakeTaskService); }

  // The calls that build and register the definition, after the old task
  // is deleted.
  std::vector<std::string> DefinitionCalls(const std::string& idle, const std::string& args,
                                           const std::string& dir) {
    std::vector<std::string> calls = {
        "ITaskService::NewTask(0)",
        "ITaskDefinition::get_RegistrationInfo()",
        "IRegistrationInfo::put_Author(Vantrel)",
        "ITaskDefinition::get_Principal()",
        "IPrincipal::put_Id(LocalSystem)",
        "IPrincipal::put_RunLevel(1)",
        "ITaskDefinition::get_Settings()",
        "ITaskSettings::put_StartWhenAvailable(-1)",
        "ITaskSettings::put_RunOnlyIfIdle(" + idle + ")",
        "ITaskSettings::get_IdleSettings()",
        "IIdleSettings::put_RestartOnIdle(" + idle + ")",
        "ITaskDefinition::get_Triggers()",
        "ITriggerCollection::Create(3)",
        "IWeeklyTrigger::put_Id(Defrag Options)",
        "IWeeklyTrigger::put_StartBoundary(2009-03-05T07:30:00)",
        "IWeeklyTrigger::put_WeeksInterval(2)",
        "IWeeklyTrigger::put_DaysOfWeek(34)",
        "ITaskDefinition::get_Actions()",
        "IActionCollection::Create(0)",
        "IExecAction::put_Path(C:\\Program Files\\Vantrel\\Vantrel.exe)",
    };
    if (!args.empty()) calls.push_back("IExecAction::put_Arguments(" + args + ")");
    if (!dir.empty()) calls.push_back("IExecAction::put_WorkingDirectory(" + dir + ")");
    return calls;
  }

  CTs2World m_world;
  ScheduleTaskRequest m_request = {};
};

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const std::vector<std::string> kOpening = {
    "CoCreateInstance(TaskScheduler)",
    "ITaskService::Connect(EMPTY, EMPTY, EMPTY, EMPTY)",
    "ITaskService::GetFolder(\\)",
    "ITaskService::GetFolder(\\Norvane Utilities)",
};
const std::string kCreateFolder =
    "ITaskFolder[\\]::CreateFolder(Norvane Utilities, BSTR:D:(A;;FA;;;BA)(A;;FA;;;SY))";
const std::string kDeleteTask = "ITaskFolder[\\Norvane Utilities]::DeleteTask(Vantrel, 0)";
const std::string kRegister =
    "ITaskFolder[\\Norvane Utilities]::RegisterTaskDefinition(Vantrel, definition, 6, "
    "BSTR:alice, BSTR:secret, 3, BSTR:)";

TEST_F(ScheduleTaskDouble, RegistersTheWeeklyTaskWithEveryProperty) {
  EXPECT_EQ(Run(), S_OK);
  auto expected = Concat(kOpening, {kDeleteTask});
  expected = Concat(expected, DefinitionCalls("-1", "/auto", "C:\\Program Files\\Vantrel"));
  expected.push_back(kRegister);
  EXPECT_EQ(m_world.calls, expected);
}

TEST_F(ScheduleTaskDouble, CreatesTheFolderForAdministratorsAndSystemWhenMissing) {
  m_world.productFolderExists = false;
  m_request.runOnlyIfIdle = 0x10000;  // only the low 16 bits count
  m_request.arguments = nullptr;
  m_request.workingDirectory = nullptr;
  m_request.account = nullptr;
  m_request.password = nullptr;
  EXPECT_EQ(Run(), S_OK);
  auto expected = Concat(kOpening, {kCreateFolder, kDeleteTask});
  expected = Concat(expected, DefinitionCalls("0", "", ""));
  expected.push_back(
      "ITaskFolder[\\Norvane Utilities]::RegisterTaskDefinition(Vantrel, definition, 6, "
      "BSTR:(null), BSTR:(null), 3, BSTR:)");
  EXPECT_EQ(m_world.calls, expected);
  EXPECT_TRUE(m_world.productFolderExists);
}

TEST_F(ScheduleTaskDouble, EmptyTextsAreKeptAndLowBitsOfDaysAndWeeksAreUsed) {
  m_request.arguments = L"";
  m_request.workingDirectory = L"";
  m_request.daysOfWeek = 0x1007F;
  m_request.weeksInterval = 0x20034;
  m_request.year = 2010;
  m_request.month = 12;
  m_request.day = 31;
  m_request.hour = 23;
  m_request.minute = 5;
  EXPECT_EQ(Run(), S_OK);
  const auto& c = m_world.calls;
  auto has = [&](const std::string& call) {
    return std::find(c.begin(), c.end(), call) != c.end();
  };
  EXPECT_TRUE(has("IExecAction::put_Arguments()"));
  EXPECT_TRUE(has("IExecAction::put_WorkingDirectory()"));
  EXPECT_TRUE(has("IWeeklyTrigger::put_DaysOfWeek(127)"));
  EXPECT_TRUE(has("IWeeklyTrigger::put_WeeksInterval(52)"));
  EXPECT_TRUE(has("IWeeklyTrigger::put_StartBoundary(2010-12-31T23:05:00)"));
}

TEST_F(ScheduleTaskDouble, RemoveDeletesTaskAndFolderWithOrWithoutTheFolder) {
  m_request.remove = 1;
  EXPECT_EQ(Run(), S_OK);
  EXPECT_EQ(m_world.calls,
            Concat(kOpening, {kDeleteTask, "ITaskFolder[\\]::DeleteFolder(Norvane Utilities, 0)"}));
  EXPECT_FALSE(m_world.productFolderExists);

  // Nothing there: the folder is made, the task deletion fails silently and
  // the folder goes again.
  m_world.calls.clear();
  m_world.failures["ITaskFolder[\\Norvane Utilities]::DeleteTask"] =
      HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Run(), S_OK);
  EXPECT_EQ(m_world.calls,
            Concat(kOpening, {kCreateFolder, kDeleteTask,
                              "ITaskFolder[\\]::DeleteFolder(Norvane Utilities, 0)"}));
  EXPECT_FALSE(m_world.productFolderExists);
}

TEST_F(ScheduleTaskDouble, FailuresBeforeTheDefinitionEndTheCallWithTheirResult) {
  const HRESULT kDenied = E_ACCESSDENIED;
  struct Case {
    const char* call;
    size_t callsMade;
  } cases[] = {
      {"CoCreateInstance", 1},
      {"ITaskService::Connect", 2},
      {"ITaskService::GetFolder", 3},  // the root folder
      {"ITaskFolder[\\]::CreateFolder", 5},
      {"ITaskService::NewTask", 7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.call);
    m_world = CTs2World();
    m_world.productFolderExists = false;
    m_world.failures[c.call] = kDenied;
    EXPECT_EQ(Run(), kDenied);
    EXPECT_EQ(m_world.calls.size(), c.callsMade);
    EXPECT_EQ(m_world.live, 0);
  }
}

TEST_F(ScheduleTaskDouble, AFailedPropertyPutIsIgnoredButAFailedGetEndsTheCall) {
  m_world.failures["IRegistrationInfo::put_Author"] = E_FAIL;
  m_world.failures["IWeeklyTrigger::put_StartBoundary"] = E_INVALIDARG;
  EXPECT_EQ(Run(), S_OK);
  EXPECT_EQ(m_world.calls.back(), kRegister);

  const char* gets[] = {"ITaskDefinition::get_RegistrationInfo", "ITaskDefinition::get_Principal",
                        "ITaskDefinition::get_Settings",         "ITaskSettings::get_IdleSettings",
                        "ITaskDefinition::get_Triggers",         "ITaskDefinition::get_Actions"};
  for (const char* get : gets) {
    SCOPED_TRACE(get);
    m_world = CTs2World();
    m_world.failures[get] = E_OUTOFMEMORY;
    EXPECT_EQ(Run(), E_OUTOFMEMORY);
    EXPECT_EQ(m_world.calls.back(), std::string(get) + "()");
    EXPECT_EQ(m_world.live, 0);
  }
}

TEST_F(ScheduleTaskDouble, AnUnimplementedWeeklyTriggerGivesThatCallsResult) {
  // As Wine answers.
  m_world.failures["ITriggerCollection::Create"] = E_NOTIMPL;
  EXPECT_EQ(Run(), E_NOTIMPL);
  EXPECT_EQ(m_world.calls.back(), "ITriggerCollection::Create(3)");

  m_world = CTs2World();
  m_world.failures["IWeeklyTrigger::QueryInterface"] = E_NOINTERFACE;
  EXPECT_EQ(Run(), E_NOINTERFACE);
  EXPECT_EQ(m_world.calls.back(), "ITriggerCollection::Create(3)");
}

TEST_F(ScheduleTaskDouble, AFailedExecActionEndsTheCall) {
  m_world.failures["IActionCollection::Create"] = E_OUTOFMEMORY;
  EXPECT_EQ(Run(), E_OUTOFMEMORY);
  EXPECT_EQ(m_world.calls.back(), "IActionCollection::Create(0)");
}

TEST_F(ScheduleTaskDouble, RegistrationFailureIsTheResult) {
  m_world.failures["ITaskFolder[\\Norvane Utilities]::RegisterTaskDefinition"] =
      HRESULT_FROM_WIN32(ERROR_LOGON_FAILURE);
  EXPECT_EQ(Run(), HRESULT_FROM_WIN32(ERROR_LOGON_FAILURE));
  EXPECT_EQ(m_world.calls.back(), kRegister);
}

TEST_F(ScheduleTaskDouble, LeavesTheThreadsComStateAsItFoundIt) {
  EXPECT_EQ(Run(), S_OK);
  m_world.failures["ITaskService::Connect"] = E_FAIL;
  EXPECT_EQ(Run(), E_FAIL);
  // Balanced CoInitialize/CoUninitialize: this thread has no apartment now.
  HRESULT hr = ::CoInitialize(nullptr);
  EXPECT_EQ(hr, S_OK);
  if (SUCCEEDED(hr)) ::CoUninitialize();
}

TEST(ScheduleTaskArguments, NullRequestIsRefused) {
  EXPECT_EQ(RunScheduleTask(nullptr, CreateFakeTaskService), E_POINTER);
}

}  // namespace
}  // namespace test
}  // namespace vt
