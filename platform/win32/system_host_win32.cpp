// The process's own system services: the Windows calls.
#include <string>

#include "platform/system_ops.h"

namespace vt {

std::string SystemMessageText(DWORD error);  // system_messages.cpp

namespace {
class CWin32System : public ISystemOps {
 public:
  void GetVersion(DWORD* major, DWORD* minor) override {
    // GetVersionExA reports what the manifest allows; that is the value the
    // program's version rules are written against.
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!::GetVersionExA(&info)) {
      info.dwMajorVersion = 6;
      info.dwMinorVersion = 1;
    }
#pragma GCC diagnostic pop
    *major = info.dwMajorVersion;
    *minor = info.dwMinorVersion;
  }
  BOOL LookupPrivilegeValueA(const char* name, LUID* luid) override {
    return ::LookupPrivilegeValueA(nullptr, name, luid);
  }
  BOOL OpenProcessToken(DWORD access, HANDLE* token) override {
    return ::OpenProcessToken(::GetCurrentProcess(), access, token);
  }
  BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, TOKEN_PRIVILEGES* newState,
                             DWORD bufferLength, TOKEN_PRIVILEGES* previousState,
                             DWORD* returnLength) override {
    return ::AdjustTokenPrivileges(token, disableAll, newState, bufferLength, previousState,
                                   returnLength);
  }
  BOOL CloseHandle(HANDLE h) override { return ::CloseHandle(h); }
  DWORD GetLastError() override { return ::GetLastError(); }
  DWORD GetTickCount() override { return ::GetTickCount(); }
  SYSTEMTIME GetLocalTime() override {
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    return st;
  }
  std::string FormatSystemMessage(DWORD error) override {
    char* text = nullptr;
    DWORD n = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text),
        0, nullptr);
    std::string out;
    if (n != 0 && text) out.assign(text, n);
    if (text) ::LocalFree(text);
    if (out.empty()) out = SystemMessageText(error);
    return out;
  }
};
}  // namespace

ISystemOps& HostSystem() {
  static CWin32System system;
  return system;
}

}  // namespace vt
