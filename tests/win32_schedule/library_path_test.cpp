// CScheduledTask on Windows Vista and later: Brakwater.dll loaded by full
// path from the program's folder, absent, standing in, and the real one over
// Wine's Task Scheduler 2.0.
#include <gtest/gtest.h>

#include "platform/recording.h"
#include "schedule/scheduled_task.h"
#include "schedule_test_support.h"
#include "tasklib/com_ref.h"
#include "tasklib/task_service.h"

namespace vt {
namespace test {
namespace {

std::string SystemText(HRESULT code) {
  char* text = nullptr;
  DWORD n = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), LANG_USER_DEFAULT, reinterpret_cast<char*>(&text), 0,
      nullptr);
  std::string out = n && text ? std::string(text, n) : std::string();
  if (text) ::LocalFree(text);
  return OneLineSystemText(out);
}

ScheduleEnvironment Vista(const std::string& folder) {
  ScheduleEnvironment e = ScheduleEnvironment::Current();
  e.platformId = 2;
  e.majorVersion = 6;
  e.libraryFolder = folder;
  return e;
}

void Fill(CScheduledTask* task) {
  SYSTEMTIME start = {};
  start.wYear = 2009;
  start.wMonth = 3;
  start.wDay = 5;
  start.wHour = 7;
  start.wMinute = 30;
  task->SetStart(start);
  task->SetTriggerKind(kTriggerWeekly);
  task->SetDaysOfWeek(0x22);
  task->SetWeeksInterval(2);
  task->SetApplication("C:\\Program Files\\Vantrel\\Vantrel.exe");
  task->SetParameters("/auto");
}

class CEnvironmentVariable {
 public:
  CEnvironmentVariable(const char* name, const std::string& value) : m_name(name) {
    ::SetEnvironmentVariableA(name, value.c_str());
  }
  ~CEnvironmentVariable() { ::SetEnvironmentVariableA(m_name, nullptr); }

 private:
  const char* m_name;
};

TEST(ScheduledTaskLibrary, AbsentLibraryIsOneMessageAndAFailure) {
  CTempFolder empty("vtsched-empty");
  ASSERT_TRUE(empty.Ok());
  CScriptedPrompt prompt;
  CScheduledTask task(prompt, Vista(empty.Path()));
  Fill(&task);
  EXPECT_EQ(task.CreateTask("Vantrel", false), HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
  ASSERT_EQ(prompt.Prompts().size(), 1u);
  EXPECT_EQ(prompt.Prompts()[0].text, "Unable to load Brakwater.dll");
  EXPECT_EQ(prompt.Prompts()[0].type & MB_ICONMASK, MB_ICONERROR);
  // Already told: no second message from the caller.
  EXPECT_EQ(task.GetErrorText(), "");

  EXPECT_EQ(task.RemoveTask("Vantrel"), HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(prompt.Prompts().size(), 2u);
}

TEST(ScheduledTaskLibrary, LooksOnlyInTheProgramsFolder) {
  ScheduleEnvironment current = ScheduleEnvironment::Current();
  char program[MAX_PATH];
  DWORD n = ::GetModuleFileNameA(nullptr, program, MAX_PATH);
  std::string folder(program, n);
  folder.erase(folder.rfind('\\') + 1);
  EXPECT_EQ(current.libraryFolder, folder);

  // A Brakwater.dll in the current folder is not the program's.
  CTempFolder planted("vtsched-planted");
  CTempFolder empty("vtsched-empty");
  ASSERT_TRUE(planted.Ok() && empty.Ok());
  ASSERT_TRUE(planted.Place(VT_RECORDING_LIBRARY, "Brakwater.dll"));
  CEnvironmentVariable record("VT_REQUEST_RECORD", planted.Path() + "request.txt");
  char saved[MAX_PATH];
  ::GetCurrentDirectoryA(MAX_PATH, saved);
  ASSERT_TRUE(::SetCurrentDirectoryA(planted.Path().c_str()));
  CScriptedPrompt prompt;
  CScheduledTask task(prompt, Vista(empty.Path()));
  Fill(&task);
  HRESULT hr = task.CreateTask("Vantrel", false);
  ::SetCurrentDirectoryA(saved);
  EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(ReadText(planted.Path() + "request.txt"), "");
}

TEST(ScheduledTaskLibrary, HandsTheRequestOverAndReportsTheResult) {
  CTempFolder folder("vtsched-recording");
  ASSERT_TRUE(folder.Ok());
  ASSERT_TRUE(folder.Place(VT_RECORDING_LIBRARY, "Brakwater.dll"));
  const std::string recordPath = folder.Path() + "request.txt";
  CEnvironmentVariable record("VT_REQUEST_RECORD", recordPath);
  CScriptedPrompt prompt;
  CScheduledTask task(prompt, Vista(folder.Path()));
  Fill(&task);

  EXPECT_EQ(task.CreateTask("Vantrel", false), S_OK);
  // Empty texts arrive as empty strings, not as null.
  EXPECT_EQ(ReadText(recordPath),
            "remove=0\n"
            "application=[C:\\Program Files\\Vantrel\\Vantrel.exe]\n"
            "arguments=[/auto]\n"
            "workingDirectory=[]\n"
            "account=[]\n"
            "password=[]\n"
            "days=0x22 weeks=2 idle=1 start=2009-03-05 07:30\n");
  // Built on success too; the caller reads it only after a failure.
  EXPECT_EQ(task.GetErrorText(),
            "Error creating task.\n\n" + SystemText(S_OK) + "\n\nError code: 0x00000000");

  {
    CEnvironmentVariable result("VT_REQUEST_RESULT", "80070005");
    task.SetAccount("alice");
    task.SetPassword("secret");
    EXPECT_EQ(task.CreateTask("Vantrel", false), E_ACCESSDENIED);
    EXPECT_EQ(task.GetErrorText(), "Error creating task.\n\n" + SystemText(E_ACCESSDENIED) +
                                       "\n\nError code: 0x80070005");
    EXPECT_NE(ReadText(recordPath).find("account=[alice]\npassword=[secret]\n"), std::string::npos);
  }

  // Removal asks for the fixed task and folder whatever the name.
  EXPECT_EQ(task.RemoveTask("Something else"), S_OK);
  EXPECT_EQ(ReadText(recordPath).rfind("remove=1\n", 0), 0u);
  EXPECT_TRUE(prompt.Prompts().empty());
}

TEST(ScheduledTaskLibrary, ALibraryWithoutTheExportFails) {
  CTempFolder folder("vtsched-other");
  ASSERT_TRUE(folder.Ok());
  ASSERT_TRUE(folder.Place(VT_OTHER_LIBRARY, "Brakwater.dll"));
  CScriptedPrompt prompt;
  CScheduledTask task(prompt, Vista(folder.Path()));
  Fill(&task);
  const HRESULT missing = static_cast<HRESULT>(0xFFFFFFFFu);
  EXPECT_EQ(task.CreateTask("Vantrel", false), missing);
  EXPECT_EQ(task.GetErrorText(),
            "Error creating task.\n\n" + SystemText(missing) + "\n\nError code: 0xFFFFFFFF");
  EXPECT_TRUE(prompt.Prompts().empty());
}

// A fresh Wine prefix starts its services in the background; wait (bounded)
// until the Task Scheduler answers.
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

bool ProductFolderExists() {
  CComApartment apartment;
  CComRef<ITaskService> service;
  if (FAILED(CreateTaskService(service.Put()))) return false;
  CVariant none;
  if (FAILED(service->Connect(none.Get(), none.Get(), none.Get(), none.Get()))) return false;
  CComRef<ITaskFolder> folder;
  return SUCCEEDED(service->GetFolder(CBstr(kTaskFolderPath).Get(), folder.Put())) && folder;
}

TEST(ScheduledTaskLibrary, TheRealLibraryOverWinesTaskScheduler) {
  if (!TaskServiceReady()) GTEST_SKIP() << "the Task Scheduler service does not answer";
  CTempFolder folder("vtsched-real");
  ASSERT_TRUE(folder.Ok());
  ASSERT_TRUE(folder.Place(VT_BRAKWATER_DLL, "Brakwater.dll"));
  CScriptedPrompt prompt;
  CScheduledTask task(prompt, Vista(folder.Path()));
  Fill(&task);

  HRESULT hr = task.CreateTask("Vantrel", false);
  char code[16];
  std::snprintf(code, sizeof(code), "0x%08X", static_cast<unsigned>(hr));
  EXPECT_EQ(task.GetErrorText(),
            "Error creating task.\n\n" + SystemText(hr) + "\n\nError code: " + code);
  // Wine has no weekly triggers (E_NOTIMPL); a full implementation registers.
  EXPECT_TRUE(hr == S_OK || hr == E_NOTIMPL) << code;
  EXPECT_TRUE(ProductFolderExists());

  EXPECT_EQ(task.RemoveTask("Vantrel"), S_OK);
  EXPECT_FALSE(ProductFolderExists());
  EXPECT_TRUE(prompt.Prompts().empty());
}

}  // namespace
}  // namespace test
}  // namespace vt
