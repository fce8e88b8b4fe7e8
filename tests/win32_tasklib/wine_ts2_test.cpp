// Brakwater.dll itself, loaded as the main program loads it, against Wine's
// Task Scheduler 2.0.
#include <gtest/gtest.h>

#include <string>

#include "tasklib/com_ref.h"
#include "tasklib/task_service.h"

namespace vt {
namespace test {
namespace {

// A build path as Windows sees it (Wine maps the host's root to Z:).
std::string WindowsPath(std::string path) {
  if (path.size() > 1 && path[1] == ':') return path;
  for (char& c : path)
    if (c == '/') c = '\\';
  return "Z:" + path;
}

// A fresh Wine prefix starts its services in the background; wait (bounded)
// until the Task Scheduler answers before testing against it.
bool TaskServiceReady() {
  CComApartment apartment;
  for (int attempt = 0; attempt < 120; ++attempt) {
    CComRef<ITaskService> service;
    if (SUCCEEDED(CreateTaskService(service.Put()))) {
      CVariant none;
      if (SUCCEEDED(service->Connect(none.Get(), none.Get(), none.Get(), none.Get()))) return true;
    }
    ::Sleep(500);
  }
  return false;
}

// Answers through the real service, not through the library.
class CTaskStore {
 public:
  CTaskStore() {
    if (SUCCEEDED(CreateTaskService(m_service.Put()))) {
      CVariant none;
      m_connected = SUCCEEDED(m_service->Connect(none.Get(), none.Get(), none.Get(), none.Get()));
    }
  }
  bool Connected() const { return m_connected; }
  bool FolderExists(const wchar_t* path) {
    CComRef<ITaskFolder> folder;
    return SUCCEEDED(m_service->GetFolder(CBstr(path).Get(), folder.Put())) && folder;
  }
  bool TaskExists(const wchar_t* folderPath, const wchar_t* name) {
    CComRef<ITaskFolder> folder;
    if (FAILED(m_service->GetFolder(CBstr(folderPath).Get(), folder.Put())) || !folder)
      return false;
    CComRef<IRegisteredTask> task;
    return SUCCEEDED(folder->GetTask(CBstr(name).Get(), task.Put())) && task;
  }
  void RemoveProductFolder() {
    CComRef<ITaskFolder> root;
    if (FAILED(m_service->GetFolder(CBstr(L"\\").Get(), root.Put())) || !root) return;
    CComRef<ITaskFolder> folder;
    if (SUCCEEDED(m_service->GetFolder(CBstr(kTaskFolderPath).Get(), folder.Put())) && folder)
      folder->DeleteTask(CBstr(kTaskName).Get(), 0);
    folder.Reset();
    root->DeleteFolder(CBstr(kTaskFolderName).Get(), 0);
  }
  // What the service itself answers to a new weekly trigger.
  HRESULT WeeklyTriggerResult() {
    CComRef<ITaskDefinition> definition;
    HRESULT hr = m_service->NewTask(0, definition.Put());
    if (FAILED(hr)) return hr;
    CComRef<ITriggerCollection> triggers;
    hr = definition->get_Triggers(triggers.Put());
    if (FAILED(hr)) return hr;
    CComRef<ITrigger> trigger;
    return triggers->Create(TASK_TRIGGER_WEEKLY, trigger.Put());
  }

 private:
  CComApartment m_apartment;
  CComRef<ITaskService> m_service;
  bool m_connected = false;
};

class BrakwaterUnderWine : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { s_ready = TaskServiceReady(); }
  void SetUp() override {
    if (!s_ready) GTEST_SKIP() << "the Task Scheduler service does not answer";
    m_module = ::LoadLibraryA(WindowsPath(VT_BRAKWATER_DLL).c_str());
    ASSERT_NE(m_module, nullptr) << "cannot load " << VT_BRAKWATER_DLL;
    m_schedule = ExportAs<ScheduleTaskProc>(::GetProcAddress(m_module, kScheduleTaskExport));
    m_enableDefrag =
        ExportAs<EnableVistaDefragProc>(::GetProcAddress(m_module, kEnableVistaDefragExport));
    ASSERT_NE(m_schedule, nullptr);
    ASSERT_NE(m_enableDefrag, nullptr);
    CTaskStore().RemoveProductFolder();
  }
  void TearDown() override {
    if (m_module) {
      CTaskStore().RemoveProductFolder();
      ::FreeLibrary(m_module);
    }
  }
  static ScheduleTaskRequest Request(int32_t remove) {
    ScheduleTaskRequest r = {};
    r.remove = remove;
    r.application = L"C:\\Program Files\\Vantrel\\Vantrel.exe";
    r.arguments = L"/auto";
    r.workingDirectory = L"C:\\Program Files\\Vantrel";
    r.account = L"";
    r.password = L"";
    r.daysOfWeek = 0x22;
    r.weeksInterval = 1;
    r.runOnlyIfIdle = 1;
    r.year = 2009;
    r.month = 3;
    r.day = 5;
    r.hour = 7;
    r.minute = 30;
    return r;
  }

  static bool s_ready;
  HMODULE m_module = nullptr;
  ScheduleTaskProc m_schedule = nullptr;
  EnableVistaDefragProc m_enableDefrag = nullptr;
};
bool BrakwaterUnderWine::s_ready = false;

TEST_F(BrakwaterUnderWine, RemoveWithoutTheFolderMakesAndDeletesItAndSucceeds) {
  ScheduleTaskRequest remove = Request(1);
  EXPECT_EQ(m_schedule(&remove), S_OK);
  CTaskStore store;
  ASSERT_TRUE(store.Connected());
  EXPECT_FALSE(store.FolderExists(kTaskFolderPath));
}

TEST_F(BrakwaterUnderWine, ScheduleCreatesTheFolderAndGivesTheServicesAnswer) {
  ScheduleTaskRequest create = Request(0);
  HRESULT hr = m_schedule(&create);
  CTaskStore store;
  ASSERT_TRUE(store.Connected());
  EXPECT_TRUE(store.FolderExists(kTaskFolderPath));
  HRESULT weekly = store.WeeklyTriggerResult();
  if (SUCCEEDED(weekly)) {
    EXPECT_EQ(hr, S_OK);
    EXPECT_TRUE(store.TaskExists(kTaskFolderPath, kTaskName));
  } else {
    // Wine has no weekly triggers: that call's failure is the result, and
    // nothing half-made is registered.
    EXPECT_EQ(hr, weekly);
    EXPECT_FALSE(store.TaskExists(kTaskFolderPath, kTaskName));
  }

  // A second call runs into the existing folder; then removal takes it away.
  EXPECT_EQ(m_schedule(&create), hr);
  ScheduleTaskRequest remove = Request(1);
  EXPECT_EQ(m_schedule(&remove), S_OK);
  EXPECT_FALSE(store.FolderExists(kTaskFolderPath));
}

TEST_F(BrakwaterUnderWine, QueryWithoutTheSystemDefragmenterKeepsTheValue) {
  int32_t enabled = 0;
  int32_t queryOnly = 1;
  HRESULT hr = m_enableDefrag(&enabled, &queryOnly);
  CTaskStore store;
  ASSERT_TRUE(store.Connected());
  if (!store.FolderExists(kSystemDefragFolder)) {
    EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(enabled, 0);
  }
}

}  // namespace
}  // namespace test
}  // namespace vt
