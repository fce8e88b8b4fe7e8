// The process's own system services, as a current Windows would give them.
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>

#include "platform/system_ops.h"

namespace vt {

std::string SystemMessageText(DWORD error);  // system_messages.cpp

namespace {
thread_local DWORD t_lastError = 0;

// Outside Windows the process behaves as a current Windows would: version 6.x,
// and the backup privilege is granted (the image backend needs no privilege).
class CPosixSystem : public ISystemOps {
 public:
  void GetVersion(DWORD* major, DWORD* minor) override {
    *major = 6;
    *minor = 1;
  }
  BOOL LookupPrivilegeValueA(const char* name, LUID* luid) override {
    if (!name || std::string(name).rfind("Se", 0) != 0) {
      t_lastError = ERROR_NO_SUCH_PRIVILEGE;
      return FALSE;
    }
    luid->LowPart = 17;  // SE_BACKUP_PRIVILEGE's value on Windows
    luid->HighPart = 0;
    return TRUE;
  }
  BOOL OpenProcessToken(DWORD, HANDLE* token) override {
    *token = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-4));
    return TRUE;
  }
  BOOL AdjustTokenPrivileges(HANDLE, BOOL, TOKEN_PRIVILEGES* newState, DWORD,
                             TOKEN_PRIVILEGES* previousState, DWORD* returnLength) override {
    if (previousState && newState) {
      *previousState = *newState;
      previousState->Privileges[0].Attributes = m_attributes;
    }
    if (newState && newState->PrivilegeCount > 0) m_attributes = newState->Privileges[0].Attributes;
    if (returnLength) *returnLength = sizeof(TOKEN_PRIVILEGES);
    t_lastError = ERROR_SUCCESS;
    return TRUE;
  }
  BOOL CloseHandle(HANDLE) override { return TRUE; }
  DWORD GetLastError() override { return t_lastError; }
  DWORD GetTickCount() override {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now().time_since_epoch())
                  .count();
    return static_cast<DWORD>(ms);
  }
  SYSTEMTIME GetLocalTime() override {
    auto now = std::chrono::system_clock::now();
    std::time_t t = std::chrono::system_clock::to_time_t(now);
    std::tm tm = {};
    localtime_r(&t, &tm);
    SYSTEMTIME st = {};
    st.wYear = static_cast<WORD>(tm.tm_year + 1900);
    st.wMonth = static_cast<WORD>(tm.tm_mon + 1);
    st.wDayOfWeek = static_cast<WORD>(tm.tm_wday);
    st.wDay = static_cast<WORD>(tm.tm_mday);
    st.wHour = static_cast<WORD>(tm.tm_hour);
    st.wMinute = static_cast<WORD>(tm.tm_min);
    st.wSecond = static_cast<WORD>(tm.tm_sec);
    st.wMilliseconds = static_cast<WORD>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000);
    return st;
  }
  std::string FormatSystemMessage(DWORD error) override { return SystemMessageText(error); }

 private:
  DWORD m_attributes = 0;
};
}  // namespace

ISystemOps& HostSystem() {
  static CPosixSystem system;
  return system;
}

}  // namespace vt
