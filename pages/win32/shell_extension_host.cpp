// Registering VantrelShell.dll and asking whether Explorer will find it.
#include <windows.h>

#include <string>

#include "app/win32/pellworth_app.h"
#include "pages/win32/options_sheet.h"
#include "shellext/shell_clsid.h"

namespace vt {

namespace {

bool IsWow64() {
  typedef BOOL(WINAPI * IsWow64Proc)(HANDLE, PBOOL);
  auto fn = reinterpret_cast<IsWow64Proc>(reinterpret_cast<void (*)()>(
      ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "IsWow64Process")));
  BOOL wow = FALSE;
  return fn && fn(::GetCurrentProcess(), &wow) && wow;
}

// A 32-bit program on 64-bit Windows cannot load the 64-bit extension; the
// system's 64-bit regsvr32 registers it instead.
bool RunNativeRegsvr32(const std::string& path, bool registering) {
  char windows[MAX_PATH] = {};
  if (!::GetWindowsDirectoryA(windows, sizeof(windows))) return false;
  std::string command = std::string("\"") + windows + "\\Sysnative\\regsvr32.exe\" /s " +
                        (registering ? "" : "/u ") + "\"" + path + "\"";
  STARTUPINFOA si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  if (!::CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &si, &pi))
    return false;
  ::WaitForSingleObject(pi.hProcess, 60000);
  ::CloseHandle(pi.hThread);
  ::CloseHandle(pi.hProcess);
  return true;
}

}  // namespace

std::string CShellExtensionHost::LibraryPath() {
  std::string folder = CPellworthApp::ProgramFolder();
  if (!folder.empty() && folder.back() == '\\') folder.pop_back();
  return folder + "\\" + kShellLibraryName;
}

IShellExtensionHost::CallResult CShellExtensionHost::CallServer(const std::string& path,
                                                                bool registering) {
  HMODULE lib = ::LoadLibraryA(path.c_str());
  if (!lib) {
    if (::GetLastError() == ERROR_BAD_EXE_FORMAT && IsWow64() &&
        RunNativeRegsvr32(path, registering))
      return Called;
    return NotLoaded;
  }
  typedef HRESULT(STDAPICALLTYPE * ServerProc)();
  auto fn = reinterpret_cast<ServerProc>(reinterpret_cast<void (*)()>(
      ::GetProcAddress(lib, registering ? "DllRegisterServer" : "DllUnregisterServer")));
  if (!fn) {
    ::FreeLibrary(lib);
    return NoExport;
  }
  fn();
  ::FreeLibrary(lib);
  return Called;
}

// Registered means Explorer can load it: the class key's server value names
// a file that exists. KEY_WOW64_64KEY reads the 64-bit view from a 32-bit
// program as well; 32-bit Windows ignores it.
bool CShellExtensionHost::IsRegistered() {
  const std::string key = std::string("CLSID\\") + kShellClsidText + "\\InprocServer32";
  HKEY h = nullptr;
  if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &h) !=
      ERROR_SUCCESS)
    return false;
  char value[MAX_PATH * 4] = {};
  DWORD type = 0, size = sizeof(value) - 1;
  const LONG rc =
      ::RegQueryValueExA(h, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  ::RegCloseKey(h);
  if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || !value[0]) return false;
  std::string path = value;
  if (type == REG_EXPAND_SZ) {
    char expanded[MAX_PATH * 4] = {};
    const DWORD n = ::ExpandEnvironmentStringsA(value, expanded, sizeof(expanded));
    if (n == 0 || n > sizeof(expanded)) return false;
    path = expanded;
  }
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace vt
