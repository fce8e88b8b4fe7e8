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

DWORD HostWriteDurably(const std::string& path, const std::string& text) {
  const std::string temp = path + ".new";
  HANDLE file = ::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return ::GetLastError();
  DWORD put = 0;
  const bool ok = ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &put, nullptr) &&
                  put == text.size() && ::FlushFileBuffers(file);
  ::CloseHandle(file);
  if (!ok || !::MoveFileExA(temp.c_str(), path.c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    ::DeleteFileA(temp.c_str());
    return ERROR_WRITE_FAULT;
  }
  return ERROR_SUCCESS;
}

}  // namespace vt
