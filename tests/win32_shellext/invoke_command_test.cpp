// InvokeCommand: the request file and the start of the program beside the
// library, observed through the recorder placed there as "Vantrel.exe".
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "shell_fixture.h"
#include "shellext/shell_clsid.h"

namespace vt {
namespace test {
namespace {

// The command line after the program's own name (quoted or not) and the one
// blank that separates them.
std::string ArgumentsOf(const std::string& commandLine) {
  size_t end;
  if (!commandLine.empty() && commandLine[0] == '"') {
    end = commandLine.find('"', 1);
    end = end == std::string::npos ? commandLine.size() : end + 1;
  } else {
    end = commandLine.find(' ');
    if (end == std::string::npos) end = commandLine.size();
  }
  if (end < commandLine.size() && commandLine[end] == ' ') ++end;
  return commandLine.substr(end);
}

class ShellInvoke : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CShellLibrary::Get().Loaded());
    ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
    m_comUp = true;
    ASSERT_EQ(CShellLibrary::Get().Register(), S_OK);
    CShellLibrary::Get().ClearRecords();
    HRESULT hr = ::CoCreateInstance(kClsidVantrelShell, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IContextMenu, reinterpret_cast<void**>(&m_menu));
    ASSERT_EQ(hr, S_OK);
    m_requestsBefore = RequestFilesInTemp();
  }
  void TearDown() override {
    if (m_menu) m_menu->Release();
    for (const std::string& file : m_created) ::DeleteFileA(file.c_str());
    CShellLibrary::Get().ClearRecords();
    CShellLibrary::Get().Unregister();
    if (m_comUp) ::CoUninitialize();
  }

  void Select(std::vector<std::wstring> paths) {
    IShellExtInit* init = nullptr;
    ASSERT_EQ(m_menu->QueryInterface(IID_IShellExtInit, reinterpret_cast<void**>(&init)), S_OK);
    CDropData data(std::move(paths));
    EXPECT_EQ(init->Initialize(nullptr, &data, nullptr), S_OK);
    init->Release();
  }

  HRESULT Invoke(LPCSTR verb) {
    CMINVOKECOMMANDINFO info = {};
    info.cbSize = sizeof(info);
    info.lpVerb = verb;
    info.nShow = SW_SHOWNORMAL;
    return m_menu->InvokeCommand(&info);
  }

  // Request files that appeared since the test began.
  std::vector<std::string> NewRequestFiles() {
    std::vector<std::string> added;
    for (const std::string& file : RequestFilesInTemp()) {
      bool old = false;
      for (const std::string& before : m_requestsBefore) old = old || before == file;
      if (!old) added.push_back(file);
    }
    return added;
  }

  // Runs a command and returns the arguments the program was started with.
  std::string StartedWith(UINT_PTR offset) {
    EXPECT_EQ(Invoke(MAKEINTRESOURCEA(offset)), S_OK);
    std::string commandLine;
    EXPECT_TRUE(CShellLibrary::Get().WaitForRecord(&commandLine))
        << "the program beside the library was not started";
    for (const std::string& file : NewRequestFiles()) m_created.push_back(file);
    return ArgumentsOf(commandLine);
  }

  // The request file named after the switch, checked to lie in the
  // temporary folder under the "Van" prefix; its bytes.
  std::string RequestFileOf(const std::string& arguments, const std::string& commandSwitch) {
    EXPECT_EQ(arguments.compare(0, commandSwitch.size(), commandSwitch), 0) << arguments;
    std::string path = arguments.substr(commandSwitch.size());
    std::string folder = TempFolder();
    EXPECT_EQ(path.compare(0, folder.size() + 3, folder + "Van"), 0) << path;
    EXPECT_EQ(path.substr(path.size() - 4), ".tmp");
    std::vector<std::string> added = NewRequestFiles();
    EXPECT_EQ(added.size(), 1u);
    std::string bytes;
    EXPECT_TRUE(ReadWholeFile(path, &bytes)) << path;
    return bytes;
  }

  IContextMenu* m_menu = nullptr;
  bool m_comUp = false;
  std::vector<std::string> m_requestsBefore;
  std::vector<std::string> m_created;
};

TEST_F(ShellInvoke, DefragOfTwoFilesWritesTheRequestAndStartsTheProgram) {
  // UTF-8 in the file, whatever the code page of the process the extension
  // runs in (this one keeps the system's): names beyond it arrive whole.
  Select({L"C:\\Data\\one.txt", L"C:\\Data\\Caf\u00e9 \u041e\u0442\u0447\u0451\u0442 \U0001F389.txt"});
  std::string arguments = StartedWith(1);
  std::string bytes = RequestFileOf(arguments, "/defrag ");
  EXPECT_EQ(bytes, u8"Vantrel\r\nC:\\Data\\one.txt\r\nC:\\Data\\Café Отчёт 🎉.txt\r\n");
  EXPECT_EQ(CShellLibrary::Get().Records().size(), 1u);
}

TEST_F(ShellInvoke, AnalyzeOfAFolderAlone) {
  Select({L"C:\\Data\\Folder"});
  std::string bytes = RequestFileOf(StartedWith(0), "/analyze ");
  EXPECT_EQ(bytes, "Vantrel\r\nC:\\Data\\Folder\r\n");
}

TEST_F(ShellInvoke, ANewSelectionReplacesTheOldAndOverlongPathsAreLeftOut) {
  Select({L"C:\\Data\\old.txt"});
  // Cut to the 519 characters the buffer holds, it would name another item.
  Select({std::wstring(L"C:\\") + std::wstring(600, L'a'), L"C:\\Data\\kept.txt"});
  std::string bytes = RequestFileOf(StartedWith(1), "/defrag ");
  EXPECT_EQ(bytes, "Vantrel\r\nC:\\Data\\kept.txt\r\n");
}

TEST_F(ShellInvoke, StringVerbsAndUnknownOffsetsStartNothing) {
  Select({L"C:\\Data\\one.txt"});
  EXPECT_EQ(Invoke("defrag"), E_INVALIDARG);
  EXPECT_EQ(Invoke(MAKEINTRESOURCEA(2)), E_INVALIDARG);
  EXPECT_EQ(Invoke(MAKEINTRESOURCEA(0xFFFF)), E_INVALIDARG);
  // A start would have created the process before InvokeCommand returned:
  // either it is still running or it has left its record.
  EXPECT_FALSE(CShellLibrary::Get().RecorderRunning());
  EXPECT_TRUE(CShellLibrary::Get().Records().empty());
  EXPECT_TRUE(NewRequestFiles().empty());
}

// Closes the extension's message box if one shows (with a display), and
// keeps its text.
class CMessageBoxWatcher {
 public:
  CMessageBoxWatcher() : m_thread([this] { Watch(); }) {}
  ~CMessageBoxWatcher() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
  }
  std::string Text() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    return m_text;
  }

 private:
  static BOOL CALLBACK CollectText(HWND child, LPARAM param) {
    char text[256];
    char cls[32];
    ::GetClassNameA(child, cls, sizeof(cls));
    if (::lstrcmpiA(cls, "Static") == 0 && ::GetWindowTextA(child, text, sizeof(text)) > 0)
      *reinterpret_cast<std::string*>(param) += text;
    return TRUE;
  }
  void Watch() {
    for (int i = 0; i < 600 && !m_stop; ++i) {
      HWND box = ::FindWindowA("#32770", "Vantrel");
      DWORD pid = 0;
      if (box) ::GetWindowThreadProcessId(box, &pid);
      if (box && pid == ::GetCurrentProcessId()) {
        ::EnumChildWindows(box, CollectText, reinterpret_cast<LPARAM>(&m_text));
        ::PostMessageA(box, WM_COMMAND, IDOK, 0);
        return;
      }
      ::Sleep(50);
    }
  }
  std::atomic<bool> m_stop{false};
  std::string m_text;
  std::thread m_thread;
};

TEST_F(ShellInvoke, WithoutATemporaryFileTheProgramGetsTheBareSwitch) {
  Select({L"C:\\Data\\one.txt"});
  char saved[MAX_PATH] = "";
  DWORD had = ::GetEnvironmentVariableA("TMP", saved, MAX_PATH);
  ASSERT_TRUE(::SetEnvironmentVariableA("TMP", "C:\\no such folder\\at all\\"));
  std::string arguments;
  std::string shown;
  {
    CMessageBoxWatcher watcher;
    arguments = StartedWith(0);
    shown = watcher.Text();
  }
  ::SetEnvironmentVariableA("TMP", had ? saved : nullptr);
  EXPECT_EQ(arguments, "/analyze ");
  // Without a display the box cannot show; with one, this is its text.
  if (!shown.empty()) {
    EXPECT_EQ(shown, "Could not create temporary file.");
  }
}

}  // namespace
}  // namespace test
}  // namespace vt
