#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/image/host_files.h"

namespace vt {

namespace {

DWORD ErrnoToError(int err) {
  switch (err) {
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case EROFS:
      return ERROR_WRITE_PROTECT;
    case EBUSY:
      return ERROR_SHARING_VIOLATION;
    case ENAMETOOLONG:
      return ERROR_INVALID_NAME;
    default:
      return ERROR_GEN_FAILURE;
  }
}

}  // namespace

DWORD HostGetTempPath(DWORD size, char* buffer, DWORD* error) {
  const char* env = std::getenv("TMPDIR");
  std::string dir = (env && *env) ? env : "/tmp";
  if (dir.back() != '/') dir.push_back('/');
  *error = ERROR_SUCCESS;
  if (!buffer || size <= dir.size()) return static_cast<DWORD>(dir.size() + 1);
  std::memcpy(buffer, dir.c_str(), dir.size() + 1);
  return static_cast<DWORD>(dir.size());
}

DWORD HostGetFileAttributes(const char* path, DWORD* error) {
  struct stat st;
  if (!path || ::stat(path, &st) != 0) {
    *error = path ? ErrnoToError(errno) : ERROR_INVALID_PARAMETER;
    return INVALID_FILE_ATTRIBUTES;
  }
  *error = ERROR_SUCCESS;
  if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return FILE_ATTRIBUTE_READONLY;
  return FILE_ATTRIBUTE_NORMAL;
}

BOOL HostDeleteFile(const char* path, DWORD* error) {
  struct stat st;
  if (!path) {
    *error = ERROR_INVALID_PARAMETER;
    return FALSE;
  }
  if (::lstat(path, &st) == 0 && S_ISDIR(st.st_mode)) {
    *error = ERROR_ACCESS_DENIED;  // as DeleteFileA answers for a folder
    return FALSE;
  }
  if (::unlink(path) != 0) {
    *error = ErrnoToError(errno);
    return FALSE;
  }
  *error = ERROR_SUCCESS;
  return TRUE;
}

std::string HostCanonicalPath(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (!real) return path;
  std::string out(real);
  std::free(real);
  return out;
}

}  // namespace vt
