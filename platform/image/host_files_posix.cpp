#include <fcntl.h>
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

DWORD HostWriteDurably(const std::string& path, const std::string& text) {
  // Written in place, not renamed over: each group's record replaces the
  // one before it with one flush of the file. A record torn by a crash is
  // either cut short (not read) or the new one's head over the old one's
  // tail; recovery frees only clusters that no file owns, so either names
  // nothing it may not free.
  const bool existed = ::access(path.c_str(), F_OK) == 0;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return ERROR_ACCESS_DENIED;
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n =
        ::pwrite(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  const bool ok =
      done == text.size() && ::ftruncate(fd, static_cast<off_t>(done)) == 0 && ::fdatasync(fd) == 0;
  ::close(fd);
  if (!ok) {
    if (!existed) ::unlink(path.c_str());
    return ERROR_WRITE_FAULT;
  }
  if (existed) return ERROR_SUCCESS;
  // A new file's name is stored with its folder.
  const size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return ERROR_SUCCESS;
}

}  // namespace vt
