#include "app/win32/pellworth_app.h"

#include <commctrl.h>
#include <objbase.h>

#include <cstdlib>

#include "app/startup.h"
#include "app/win32/main_dlg.h"
#include "app/win32/shared_windows.h"
#include "app/win32/tray_wnd.h"
#include "engine/globals.h"
#include "pages/options_page.h"
#include "pages/win32/defrag_error_dlg.h"
#include "pages/win32/options_sheet.h"
#include "platform/image/volume_set.h"
#include "platform/win32/win32_volume_ops.h"
#include "resources/resource.h"
#include "schedule/scheduled_task.h"
#include "widgets/dialog_base.h"

namespace vt {

LRESULT CWindowSink::Send(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return wnd ? ::SendMessageA(wnd, msg, wParam, lParam) : 0;
}

BOOL CWindowSink::Post(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return wnd ? ::PostMessageA(wnd, msg, wParam, lParam) : FALSE;
}

HWND CWindowPrompt::Owner() const {
  if (m_hOwner && ::IsWindow(m_hOwner)) return m_hOwner;
  HWND owner = App().MainWindow();
  if (!owner || !::IsWindowVisible(owner)) return nullptr;
  // A dialog running modally over the main window (the completion dialog,
  // the options sheet) owns the box, so that neither hides the other.
  HWND popup = ::GetLastActivePopup(owner);
  return popup && ::IsWindowVisible(popup) && ::IsWindowEnabled(popup) ? popup : owner;
}

int CWindowPrompt::ShowMessage(const std::string& text, UINT type) {
  // With an owner, only the owner is disabled and given back at the end.
  return ::MessageBoxA(Owner(), text.c_str(), kMessageCaption,
                       type | MB_TASKMODAL | MB_SETFOREGROUND);
}

int CWindowPrompt::ShowDefragPrompt(const std::string& text, bool* repeatChecked) {
  CDefragErrorDlg dlg(text);
  const int answer = dlg.DoModal(Owner());
  if (repeatChecked) *repeatChecked = dlg.Repeat();
  return answer;
}

void CWindowPrompt::RepaintMainWindow() {
  if (HWND main = App().MainWindow())
    ::RedrawWindow(main, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

namespace {

CPellworthApp* g_app = nullptr;

// Wine answers for the image volumes: its drives are the host's folders.
bool RunningUnderWine() {
  HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

struct CFindCopy {
  HWND found = nullptr;
};

BOOL CALLBACK FindRunningCopy(HWND wnd, LPARAM param) {
  char title[300] = {};
  char cls[64] = {};
  ::GetWindowTextA(wnd, title, sizeof(title));
  ::GetClassNameA(wnd, cls, sizeof(cls));
  if (!IsRunningCopyWindow(title, cls)) return TRUE;
  reinterpret_cast<CFindCopy*>(param)->found = wnd;
  return FALSE;
}

}  // namespace

CPellworthApp& App() { return *g_app; }

CPellworthApp::CPellworthApp() : m_report(m_prompt) {
  g_app = this;
  const char* list = std::getenv("VANTREL_VOLUMES");
  if ((list && *list) || RunningUnderWine()) {
    auto set = std::make_unique<CImageVolumeSet>();
    if (list && *list) {
      std::string message;
      if (set->MountList(list, false, &message) != ERROR_SUCCESS)
        m_strVolumeError = "VANTREL_VOLUMES: " + message;
    }
    m_volumes = std::move(set);
  } else {
    m_volumes = std::make_unique<CWin32VolumeOps>();
  }
  CEngineServices services;
  services.volume = m_volumes.get();
  services.system = &HostSystem();
  services.messages = &m_sink;
  services.prompt = &m_prompt;
  services.report = &m_report;
  m_engine = std::make_unique<CDefrag>(services);
  m_shared = std::make_unique<CSharedWindows>(*m_engine, m_prompt, m_report);
}

CPellworthApp::~CPellworthApp() {
  m_tray.reset();
  m_shared.reset();
  m_engine.reset();
  if (m_hMutex) ::CloseHandle(m_hMutex);
  g_app = nullptr;
}

std::string CPellworthApp::ProgramFolder() {
  char path[MAX_PATH * 4] = {};
  const DWORD n = ::GetModuleFileNameA(nullptr, path, sizeof(path));
  std::string folder(path, n);
  const size_t slash = folder.find_last_of('\\');
  return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

void CPellworthApp::HandOff() {
  CFindCopy find;
  ::EnumWindows(&FindRunningCopy, reinterpret_cast<LPARAM>(&find));
  if (!find.found) return;
  ::ShowWindow(find.found, SW_RESTORE);
  // A dialog the running copy shows over its window (a completion dialog, the
  // options sheet) comes to the front with it, not behind it.
  HWND front = ::GetLastActivePopup(find.found);
  ::SetForegroundWindow(front ? front : find.found);
  if (m_strCommandLine.empty()) return;
  auto block = MakeHandOffBlock(m_strCommandLine);
  COPYDATASTRUCT data;
  data.dwData = 0;
  data.cbData = static_cast<DWORD>(block.size());
  data.lpData = block.data();
  ::SendMessageA(find.found, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
}

// Removes the scheduled task and the Explorer extension's registration,
// each telling the user when it could not.
void CPellworthApp::Uninstall() {
  ::CoInitialize(nullptr);
  {
    CScheduledTask task(m_prompt);
    const HRESULT hr = task.RemoveTask("Vantrel");
    // The removal's own reason (the library's text), else the system's.
    std::string reason = task.GetErrorText();
    // A system error wrapped in an HRESULT is told by the system's own text.
    const DWORD code = (static_cast<DWORD>(hr) & 0xFFFF0000u) == 0x80070000u
                           ? static_cast<DWORD>(hr) & 0xFFFFu
                           : static_cast<DWORD>(hr);
    if (reason.empty()) reason = OneLineSystemText(HostSystem().FormatSystemMessage(code));
    const std::string message = UninstallTaskMessage(hr, reason);
    if (!message.empty()) m_prompt.ShowMessage(message, MB_OK | MB_ICONERROR);
  }
  CShellExtensionHost host;
  RegisterShellExtension(false, host, m_prompt);
  ::CoUninitialize();
}

void CPellworthApp::WaitForWorkers() {
  SetCancel(true);
  for (int i = 0; i < 600 && BusyCounter().load() > 0; ++i) ::Sleep(50);
}

void CPellworthApp::DeleteCaches() { m_engine->DeleteAllCaches(); }

void CPellworthApp::EndUnattended() {
  m_tray.reset();
  DeleteCaches();
}

bool CPellworthApp::InitInstance(const std::string& commandLine) {
  m_strCommandLine = commandLine;
  m_hMutex = ::CreateMutexA(nullptr, FALSE, "Vantrel");
  const bool running = m_hMutex && ::GetLastError() == ERROR_ALREADY_EXISTS;
  switch (ChooseStartMode(commandLine, running)) {
    case StartMode::HandOff:
      HandOff();
      return false;
    case StartMode::Uninstall:
      Uninstall();
      return false;
    default:
      break;
  }
  INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES |
                                               ICC_BAR_CLASSES | ICC_TAB_CLASSES |
                                               ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
  ::InitCommonControlsEx(&icc);
  DeleteCaches();
  LoadSystemLibrary("riched20.dll");
  SetUnattended(HasSwitch(commandLine, "/auto"));
  if (IsUnattended()) {
    // The scheduled run: only the tray icon; the run closes the tray window,
    // which ends the message loop and the program.
    m_tray = std::make_unique<CSysTray>();
    if (!m_tray->Create()) {
      m_prompt.ShowMessage("Unable to create System Tray window", MB_OK | MB_ICONERROR);
      return false;
    }
    m_tray->AddIcon();
    m_tray->StartScheduledRun();
    return true;
  }
  char path[MAX_PATH * 4] = {};
  const DWORD n = ::GetModuleFileNameA(nullptr, path, sizeof(path));
  m_strHelpPath = HelpFilePath(std::string(path, n));
  // HTML Help from the system folder; later loads by name find it loaded.
  LoadSystemLibrary("hhctrl.ocx");
  SetHelpFile(m_strHelpPath);
  RunMainDialog(*m_shared);
  WaitForWorkers();
  DeleteCaches();
  return false;
}

}  // namespace vt

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // The text after the program's own path.
  const char* line = ::GetCommandLineA();
  if (*line == '"') {
    ++line;
    while (*line && *line != '"') ++line;
    if (*line) ++line;
  } else {
    while (*line && *line != ' ' && *line != '\t') ++line;
  }
  while (*line == ' ' || *line == '\t') ++line;
  vt::CPellworthApp app;
  if (app.InitInstance(line)) {
    MSG msg;
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
      ::TranslateMessage(&msg);
      ::DispatchMessageA(&msg);
    }
    app.EndUnattended();
  }
  return 0;
}
