#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/image/host_files.h"

namespace vt {

DWORD HostGetTempPath(DWORD size, char* buffer, DWORD* error) {
  DWORD n = ::GetTempPathA(size, buffer);
  *error = n ? ERROR_SUCCESS : ::GetLastError();
  return n;
}

DWORD HostGetFileAttributes(const char* path, DWORD* error) {
  DWORD attributes = ::GetFileAttributesA(path);
  *error = attributes == INVALID_FILE_ATTRIBUTES ? ::GetLastError() : ERROR_SUCCESS;
  return attributes;
}

BOOL HostDeleteFile(const char* path, DWORD* error) {
  BOOL ok = ::DeleteFileA(path);
  *error = ok ? ERROR_SUCCESS : ::GetLastError();
  return ok;
}

std::string HostCanonicalPath(const std::string& path) {
  char full[MAX_PATH * 4];
  if (_fullpath(full, path.c_str(), sizeof(full))) return full;
  return path;
}

}  // namespace vt
