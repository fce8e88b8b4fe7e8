#include "app/win32/tray_wnd.h"

#include <cstring>

#include "app/settings_file.h"
#include "app/win32/pellworth_app.h"
#include "engine/globals.h"
#include "pages/drive_page.h"
#include "resources/resource.h"
#include "widgets/dialog_base.h"

namespace vt {

namespace {
constexpr const char* kTrayClass = "VantrelTray";
// Set on the tray window while its icon is in the notification area, so
// that a watcher (the scenario driver) can tell.
constexpr const char* kIconProperty = "VantrelTrayIcon";
}  // namespace

UINT TaskbarMessage() {
  static const UINT message = ::RegisterWindowMessageA("VTRTaskbarMsg");
  return message;
}

CSysTray::CSysTray() { TaskbarMessage(); }

CSysTray::~CSysTray() {
  if (m_hThread) {
    ::WaitForSingleObject(m_hThread, INFINITE);
    ::CloseHandle(m_hThread);
  }
  if (m_hWnd && ::IsWindow(m_hWnd)) ::DestroyWindow(m_hWnd);
}

bool CSysTray::Create() {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = &CSysTray::WindowProc;
  wc.hInstance = ::GetModuleHandleA(nullptr);
  wc.lpszClassName = kTrayClass;
  wc.hIcon = ::LoadIconA(wc.hInstance, MAKEINTRESOURCEA(IDI_VANTREL));
  ::RegisterClassA(&wc);
  m_hWnd = ::CreateWindowExA(WS_EX_TOOLWINDOW, kTrayClass, "Vantrel", WS_POPUP, 0, 0, 0, 0, nullptr,
                             nullptr, wc.hInstance, this);
  return m_hWnd != nullptr;
}

bool CSysTray::AddIcon() {
  m_nid.cbSize = NOTIFYICONDATAA_V1_SIZE;
  m_nid.hWnd = m_hWnd;
  m_nid.uID = 1;
  m_nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  m_nid.uCallbackMessage = TaskbarMessage();
  m_nid.hIcon = static_cast<HICON>(::LoadImageA(
      ::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_VANTREL), IMAGE_ICON, 16, 16, 0));
  std::strcpy(m_nid.szTip, "Vantrel");
  m_bIconAdded = ::Shell_NotifyIconA(NIM_ADD, &m_nid) != FALSE;
  if (m_bIconAdded) ::SetPropA(m_hWnd, kIconProperty, reinterpret_cast<HANDLE>(1));
  return m_bIconAdded;
}

void CSysTray::SetTip(const std::string& text) {
  // 64 characters of room.
  std::strncpy(m_nid.szTip, text.c_str(), sizeof(m_nid.szTip) - 1);
  m_nid.szTip[sizeof(m_nid.szTip) - 1] = '\0';
  // The window's title carries the tip as well, for anyone watching.
  ::SetWindowTextA(m_hWnd, m_nid.szTip);
  if (m_bIconAdded) ::Shell_NotifyIconA(NIM_MODIFY, &m_nid);
}

void CSysTray::StartScheduledRun() {
  App().ReportPage().Create(m_hWnd);
  m_hThread = ::CreateThread(nullptr, 0, &CSysTray::Worker, this, 0, nullptr);
}

DWORD WINAPI CSysTray::Worker(LPVOID param) {
  auto* self = static_cast<CSysTray*>(param);
  CBusy busy;
  SettingsFile settings;
  CDefrag& engine = App().Engine();
  engine.SetProgressWindow(self->m_hWnd);
  // Fixed drives from C: on, as the drive page lists them.
  std::vector<CDriveData> candidates;
  for (CDriveData& drive : EnumerateDrives(App().Volumes(), CEnumerateOptions(), App().Prompt()))
    if (DriveLetterIndex(drive) >= 2) candidates.push_back(drive);
  const bool log = settings.SaveLogFiles();
  RunScheduledDefrag(engine, settings, candidates, *self, log ? &App().ReportPage() : nullptr);
  if (log) App().ReportPage().SaveLog();
  engine.Reset();
  // The run always ends the program, icon or not: without a notification
  // area nothing else would ever close it.
  ::PostMessageA(self->m_hWnd, WM_CLOSE, 0, 0);
  return 0;
}

void CSysTray::OnTrayMessage(LPARAM mouse) {
  if (mouse != WM_LBUTTONDOWN && mouse != WM_RBUTTONDOWN) return;
  HMENU menu = ::LoadMenuA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDM_TRAY));
  if (!menu) return;
  POINT pt;
  ::GetCursorPos(&pt);
  HMENU popup = ::GetSubMenu(menu, 0);
  ::SetMenuDefaultItem(menu, 0, TRUE);
  ::SetMenuDefaultItem(popup, 0, TRUE);
  if (IsCancelled())
    ::ModifyMenuA(popup, 0, MF_BYPOSITION | MF_STRING, 0, "Cancelling, please wait...");
  ::SetForegroundWindow(m_hWnd);
  const UINT cmd =
      ::TrackPopupMenu(popup, TPM_NONOTIFY | TPM_RETURNCMD, pt.x, pt.y, 0, m_hWnd, nullptr);
  ::PostMessageA(m_hWnd, WM_NULL, 0, 0);
  ::DestroyMenu(menu);
  if (cmd == ID_TRAY_CANCEL_DEFRAG) SetCancel(true);
}

LRESULT CALLBACK CSysTray::WindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  CSysTray* self = WindowObject(wnd, msg, lParam, &CSysTray::m_hWnd);
  if (self && msg == TaskbarMessage()) {
    self->OnTrayMessage(lParam);
    return 0;
  }
  if (msg == WM_DESTROY && self) {
    if (self->m_bIconAdded) ::Shell_NotifyIconA(NIM_DELETE, &self->m_nid);
    self->m_bIconAdded = false;
    ::RemovePropA(wnd, kIconProperty);
    self->m_hWnd = nullptr;
    ::PostQuitMessage(0);
  }
  return ::DefWindowProcA(wnd, msg, wParam, lParam);
}

}  // namespace vt
