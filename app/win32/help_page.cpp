#include "app/win32/help_page.h"

#include <shellapi.h>

#include <string>
#include <vector>

#include "app/main_window_logic.h"
#include "app/win32/pellworth_app.h"
#include "resources/resource.h"

namespace vt {

namespace {

std::string VersionEntry(const char* name) {
  char path[MAX_PATH * 4] = {};
  ::GetModuleFileNameA(nullptr, path, sizeof(path));
  DWORD handle = 0;
  const DWORD size = ::GetFileVersionInfoSizeA(path, &handle);
  if (!size) return std::string();
  std::vector<char> data(size);
  if (!::GetFileVersionInfoA(path, 0, size, data.data())) return std::string();
  char* value = nullptr;
  UINT length = 0;
  const std::string key = std::string("\\StringFileInfo\\040904e4\\") + name;
  if (!::VerQueryValueA(data.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) ||
      !value)
    return std::string();
  return std::string(value);
}

void CheckForUpdates(HWND owner) {
  const std::string dll = CPellworthApp::ProgramFolder() + "freshet.dll";
  HMODULE lib = ::LoadLibraryA(dll.c_str());
  if (!lib) {
    ::MessageBoxA(owner, "Unable to load FRESHET.DLL", kMessageCaption,
                  MB_OK | MB_SYSTEMMODAL | MB_SETFOREGROUND);
    return;
  }
  typedef int(__cdecl * CheckAndUpdate)(const char*, const char*);
  auto fn = reinterpret_cast<CheckAndUpdate>(
      reinterpret_cast<void*>(::GetProcAddress(lib, "CheckAndUpdate")));
  if (!fn) {
    ::MessageBoxA(owner, "Error getting update procedure address", kMessageCaption, MB_OK);
    ::FreeLibrary(lib);
    return;
  }
  HCURSOR old = ::SetCursor(::LoadCursor(nullptr, IDC_WAIT));
  const int result =
      fn("https://updates.norvane.example/updates/Pellworth/Pellworth.txt", "Hollyfen4821%^&*()");
  ::SetCursor(old);
  ::FreeLibrary(lib);
  if (result != 0) ::PostQuitMessage(0);
}

}  // namespace

HWND CHelpPage::Create(HWND parent) { return CreateModeless(parent, IDD_HELP_PAGE); }

INT_PTR CHelpPage::OnMessage(UINT msg, WPARAM wParam, LPARAM) {
  switch (msg) {
    case WM_INITDIALOG:
      SetItemTextUtf8(m_hWnd, IDC_VERSION, VersionText(VersionEntry("FileVersion")));
      SetItemTextUtf8(m_hWnd, IDC_COPYRIGHT, VersionEntry("LegalCopyright"));
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDC_HELP_BUTTON) {
        ::ShellExecuteA(m_hWnd, "open", App().HelpPath().c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        return TRUE;
      }
      if (LOWORD(wParam) == IDC_CHECK_UPDATES) {
        CheckForUpdates(::GetParent(m_hWnd));
        return TRUE;
      }
      break;
  }
  return FALSE;
}

}  // namespace vt
