// EnableVistaDefrag in query and set mode, against the stand-in service.
#include <gtest/gtest.h>

#include "tasklib/task_service.h"
#include "ts2_double.h"

namespace vt {
namespace test {
namespace {

class VistaDefragDouble : public ::testing::Test {
 protected:
  void SetUp() override { CurrentWorld() = &m_world; }
  void TearDown() override {
    EXPECT_EQ(m_world.live, 0);
    CurrentWorld() = nullptr;
  }
  HRESULT Query(int32_t* enabled) {
    int32_t queryOnly = 1;
    return RunEnableVistaDefrag(enabled, &queryOnly, CreateFakeTaskService);
  }
  HRESULT Set(int32_t enabled) {
    int32_t queryOnly = 0;
    return RunEnableVistaDefrag(&enabled, &queryOnly, CreateFakeTaskService);
  }
  CTs2World m_world;
};

TEST_F(VistaDefragDouble, QueryReportsAnyStateButDisabledAsOn) {
  struct Case {
    TASK_STATE state;
    int32_t expected;
  } cases[] = {{TASK_STATE_READY, 1},
               {TASK_STATE_RUNNING, 1},
               {TASK_STATE_QUEUED, 1},
               {TASK_STATE_DISABLED, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.state);
    m_world = CTs2World();
    m_world.systemDefragTasks = {{L"ScheduledDefrag", c.state}};
    int32_t enabled = 0;
    HRESULT hr = Query(&enabled);
    EXPECT_EQ(enabled, c.expected);
    EXPECT_EQ(hr, S_OK);
  }
  // The calls, in order, for the one task.
  EXPECT_EQ(m_world.calls, (std::vector<std::string>{
                               "CoCreateInstance(TaskScheduler)",
                               "ITaskService::Connect(EMPTY, EMPTY, EMPTY, EMPTY)",
                               "ITaskService::GetFolder(\\Microsoft\\Windows\\Defrag)",
                               "ITaskFolder[\\Microsoft\\Windows\\Defrag]::GetTasks(0)",
                               "IRegisteredTaskCollection::get_Count()",
                               "IRegisteredTaskCollection::get_Item(INT:1)",
                               "IRegisteredTask::get_Name()",
                               "IRegisteredTask::get_State(ScheduledDefrag)",
                           }));
}

TEST_F(VistaDefragDouble, QueryCountsOnlyTheScheduledDefragTaskInAnyCase) {
  m_world.systemDefragTasks = {{L"Other", TASK_STATE_READY},
                               {L"ScheduledDefragX", TASK_STATE_RUNNING},
                               {L"SCHEDULEDdefrag", TASK_STATE_DISABLED},
                               {L"Another", TASK_STATE_RUNNING}};
  int32_t enabled = 0;
  Query(&enabled);
  EXPECT_EQ(enabled, 0);
  // Every task was looked at, and only the matching one was asked its state.
  int states = 0;
  for (const auto& c : m_world.calls) states += c.rfind("IRegisteredTask::get_State", 0) == 0;
  EXPECT_EQ(states, 1);
  EXPECT_EQ(m_world.calls[m_world.calls.size() - 2], "IRegisteredTaskCollection::get_Item(INT:4)");

  m_world = CTs2World();
  m_world.systemDefragTasks = {{L"Other", TASK_STATE_DISABLED},
                               {L"scheduleddefrag", TASK_STATE_READY},
                               {L"Later", TASK_STATE_READY}};
  EXPECT_EQ(Query(&enabled), S_OK);
  EXPECT_EQ(enabled, 1);
  // Found: the loop stops there.
  EXPECT_EQ(m_world.calls.back(), "IRegisteredTask::get_State(scheduleddefrag)");
}

TEST_F(VistaDefragDouble, QueryKeepsTheCallersValueWhenNothingIsKnown) {
  // No folder at all.
  m_world.systemDefragFolderExists = false;
  int32_t enabled = 7;
  EXPECT_EQ(Query(&enabled), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(enabled, 7);

  // An empty folder: the count's result.
  m_world = CTs2World();
  EXPECT_EQ(Query(&enabled), S_OK);
  EXPECT_EQ(enabled, 7);

  // A task whose item or state cannot be read does not count as on.
  m_world = CTs2World();
  m_world.systemDefragTasks = {{L"ScheduledDefrag", TASK_STATE_READY}};
  m_world.failures["IRegisteredTask::get_State"] = E_ACCESSDENIED;
  EXPECT_EQ(Query(&enabled), E_ACCESSDENIED);
  EXPECT_EQ(enabled, 7);

  m_world = CTs2World();
  m_world.systemDefragTasks = {{L"ScheduledDefrag", TASK_STATE_READY}};
  m_world.failures["IRegisteredTaskCollection::get_Item"] = E_ACCESSDENIED;
  EXPECT_EQ(Query(&enabled), E_ACCESSDENIED);
  EXPECT_EQ(enabled, 7);

  m_world = CTs2World();
  m_world.failures["ITaskFolder[\\Microsoft\\Windows\\Defrag]::GetTasks"] = E_ACCESSDENIED;
  EXPECT_EQ(Query(&enabled), E_ACCESSDENIED);
  EXPECT_EQ(enabled, 7);
}

TEST_F(VistaDefragDouble, SetSwitchesEveryMatchingTaskWithTheLow16Bits) {
  m_world.systemDefragTasks = {{L"ScheduledDefrag", TASK_STATE_READY},
                               {L"Other", TASK_STATE_READY},
                               {L"SCHEDULEDDEFRAG", TASK_STATE_DISABLED}};
  EXPECT_EQ(Set(0), S_OK);
  ASSERT_EQ(m_world.enabledPuts.size(), 2u);
  EXPECT_EQ(m_world.enabledPuts[0].second, VARIANT_FALSE);
  EXPECT_EQ(m_world.enabledPuts[1].first, L"SCHEDULEDDEFRAG");

  m_world.enabledPuts.clear();
  m_world.calls.clear();
  EXPECT_EQ(Set(0x1FFFF), S_OK);
  ASSERT_EQ(m_world.enabledPuts.size(), 2u);
  EXPECT_EQ(m_world.enabledPuts[0].second, VARIANT_TRUE);

  // The result is that of the last call in the loop.
  m_world = CTs2World();
  m_world.systemDefragTasks = {{L"ScheduledDefrag", TASK_STATE_READY}};
  m_world.failures["IRegisteredTask::put_Enabled"] = E_ACCESSDENIED;
  EXPECT_EQ(Set(-1), E_ACCESSDENIED);
}

TEST_F(VistaDefragDouble, NullArgumentsAreRefused) {
  int32_t value = 0;
  EXPECT_EQ(RunEnableVistaDefrag(nullptr, &value, CreateFakeTaskService), E_POINTER);
  EXPECT_EQ(RunEnableVistaDefrag(&value, nullptr, CreateFakeTaskService), E_POINTER);
  EXPECT_TRUE(m_world.calls.empty());
}

}  // namespace
}  // namespace test
}  // namespace vt
