// Process-level services the engine uses beside the volume operations:
// system version, privileges, tick count, local time and system message texts.
#pragma once

#include <string>

#include "base/winshapes.h"

namespace vt {

class ISystemOps {
 public:
  virtual ~ISystemOps() = default;

  // Operating-system major and minor version (GetVersionExA).
  virtual void GetVersion(DWORD* major, DWORD* minor) = 0;

  // Privilege adjustment, with the Windows names and results.
  virtual BOOL LookupPrivilegeValueA(const char* name, LUID* luid) = 0;
  virtual BOOL OpenProcessToken(DWORD access, HANDLE* token) = 0;
  virtual BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, TOKEN_PRIVILEGES* newState,
                                     DWORD bufferLength, TOKEN_PRIVILEGES* previousState,
                                     DWORD* returnLength) = 0;
  virtual BOOL CloseHandle(HANDLE h) = 0;
  virtual DWORD GetLastError() = 0;

  // Milliseconds since start-up (wraps as GetTickCount does).
  virtual DWORD GetTickCount() = 0;
  // Wall-clock time in the local time zone.
  virtual SYSTEMTIME GetLocalTime() = 0;
  // The system's text for an error code, as FormatMessage gives it.
  virtual std::string FormatSystemMessage(DWORD error) = 0;
};

// The process's real system services (Windows calls, or their nearest
// equivalents elsewhere).
ISystemOps& HostSystem();

}  // namespace vt
