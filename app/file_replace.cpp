#include "app/file_replace.h"

#include <algorithm>
#include <atomic>

#include "app/ini_text.h"
#include "base/text.h"
#include "base/winshapes.h"
#include "platform/system_ops.h"

#ifdef _WIN32
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#endif

namespace vt {

namespace {

// Distinguishes the temporary files of threads writing at the same time.
std::atomic<unsigned> g_nTempCounter{0};

#ifdef _WIN32

class CHandle {
 public:
  explicit CHandle(HANDLE h) : m_h(h) {}
  ~CHandle() { Close(); }
  CHandle(const CHandle&) = delete;
  CHandle& operator=(const CHandle&) = delete;
  bool Valid() const { return m_h != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return m_h; }
  bool Close() {
    if (!Valid()) return true;
    const BOOL ok = ::CloseHandle(m_h);
    m_h = INVALID_HANDLE_VALUE;
    return ok != FALSE;
  }

 private:
  HANDLE m_h;
};

std::string SystemError(DWORD code) {
  std::string text = TrimProfileBlanks(HostSystem().FormatSystemMessage(code));
  if (text.empty()) text = Format("system error %lu", static_cast<unsigned long>(code));
  return text;
}

#else

class CFd {
 public:
  explicit CFd(int fd) : m_fd(fd) {}
  ~CFd() { Close(); }
  CFd(const CFd&) = delete;
  CFd& operator=(const CFd&) = delete;
  bool Valid() const { return m_fd >= 0; }
  int Get() const { return m_fd; }
  bool Close() {
    if (m_fd < 0) return true;
    const int rc = ::close(m_fd);
    m_fd = -1;
    return rc == 0;
  }

 private:
  int m_fd;
};

std::string SystemError(int code) { return std::strerror(code); }

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

#endif

}  // namespace

#ifdef _WIN32

FileReadResult ReadWholeFile(const std::string& path, size_t maxBytes, std::string* bytes,
                             std::string* error) {
  bytes->clear();
  // Full sharing, so that a reader never stops a writer's rename.
  CHandle file(::CreateFileA(path.c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) {
    const DWORD code = ::GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return FILE_READ_MISSING;
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
      *error = "it is a folder";
    else
      *error = SystemError(code);
    return FILE_READ_UNREADABLE;
  }
  if (::GetFileType(file.Get()) != FILE_TYPE_DISK) {
    *error = "not an ordinary file";
    return FILE_READ_UNREADABLE;
  }
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(file.Get(), &size)) {
    *error = SystemError(::GetLastError());
    return FILE_READ_UNREADABLE;
  }
  if (size.QuadPart < 0 || static_cast<ULONGLONG>(size.QuadPart) > maxBytes) {
    *error = "the file is too large";
    return FILE_READ_UNREADABLE;
  }
  bytes->resize(static_cast<size_t>(size.QuadPart));
  size_t done = 0;
  while (done < bytes->size()) {
    DWORD got = 0;
    if (!::ReadFile(file.Get(), &(*bytes)[done], static_cast<DWORD>(bytes->size() - done), &got,
                    nullptr)) {
      *error = SystemError(::GetLastError());
      bytes->clear();
      return FILE_READ_UNREADABLE;
    }
    if (got == 0) break;  // shrank since the size was taken
    done += got;
  }
  bytes->resize(done);
  return FILE_READ_OK;
}

bool ReplaceFileAtomically(const std::string& path, const std::string& bytes, std::string* error) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    *error = "it is a folder";
    return false;
  }
  const std::string temp =
      Format("%s.~%lu-%u.tmp", path.c_str(), ::GetCurrentProcessId(), g_nTempCounter.fetch_add(1));
  {
    CHandle file(::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
      *error = SystemError(::GetLastError());
      return false;
    }
    size_t done = 0;
    bool ok = true;
    while (ok && done < bytes.size()) {
      DWORD wrote = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
      ok = ::WriteFile(file.Get(), bytes.data() + done, chunk, &wrote, nullptr) && wrote == chunk;
      done += wrote;
    }
    ok = ok && ::FlushFileBuffers(file.Get());
    if (!ok) *error = SystemError(::GetLastError());
    if (!file.Close() && ok) {
      ok = false;
      *error = SystemError(::GetLastError());
    }
    if (!ok) {
      ::DeleteFileA(temp.c_str());
      return false;
    }
  }
  // A reader that opened the file without delete sharing (the profile
  // functions do) blocks the rename for a moment; wait it out.
  for (int attempt = 0;; ++attempt) {
    if (::MoveFileExA(temp.c_str(), path.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return true;
    const DWORD code = ::GetLastError();
    if (attempt >= 200 || (code != ERROR_ACCESS_DENIED && code != ERROR_SHARING_VIOLATION)) {
      *error = SystemError(code);
      ::DeleteFileA(temp.c_str());
      return false;
    }
    ::Sleep(10);
  }
}

#else

FileReadResult ReadWholeFile(const std::string& path, size_t maxBytes, std::string* bytes,
                             std::string* error) {
  bytes->clear();
  // Non-blocking, so that a named pipe in the file's place cannot hang us.
  CFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.Valid()) {
    if (errno == ENOENT || errno == ENOTDIR) return FILE_READ_MISSING;
    *error = SystemError(errno);
    return FILE_READ_UNREADABLE;
  }
  struct stat st;
  if (::fstat(fd.Get(), &st) != 0) {
    *error = SystemError(errno);
    return FILE_READ_UNREADABLE;
  }
  if (S_ISDIR(st.st_mode)) {
    *error = "it is a folder";
    return FILE_READ_UNREADABLE;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = "not an ordinary file";
    return FILE_READ_UNREADABLE;
  }
  if (st.st_size < 0 || static_cast<unsigned long long>(st.st_size) > maxBytes) {
    *error = "the file is too large";
    return FILE_READ_UNREADABLE;
  }
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd.Get(), buffer, sizeof(buffer));
    if (got < 0) {
      if (errno == EINTR) continue;
      *error = SystemError(errno);
      bytes->clear();
      return FILE_READ_UNREADABLE;
    }
    if (got == 0) break;
    if (bytes->size() + static_cast<size_t>(got) > maxBytes) {
      *error = "the file is too large";
      bytes->clear();
      return FILE_READ_UNREADABLE;
    }
    bytes->append(buffer, static_cast<size_t>(got));
  }
  return FILE_READ_OK;
}

bool ReplaceFileAtomically(const std::string& path, const std::string& bytes, std::string* error) {
  // A settings file that is a link to another place stays a link: the
  // place it points to is replaced.
  std::string target = path;
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved)) target = resolved;
  }
  mode_t mode = 0600;  // the file may hold an account's password
  if (::stat(target.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      *error = "it is a folder";
      return false;
    }
    mode = st.st_mode & 07777;
  }

  const std::string temp = Format("%s.~%ld-%u.tmp", target.c_str(), static_cast<long>(::getpid()),
                                  g_nTempCounter.fetch_add(1));
  CFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!fd.Valid()) {
    *error = SystemError(errno);
    return false;
  }
  // Keeping the old file's mode is a courtesy; a failure is no reason to stop.
  if (::fchmod(fd.Get(), mode) != 0) mode = 0600;
  bool ok = true;
  size_t done = 0;
  while (ok && done < bytes.size()) {
    const ssize_t wrote = ::write(fd.Get(), bytes.data() + done, bytes.size() - done);
    if (wrote < 0) {
      if (errno == EINTR) continue;
      ok = false;
    } else {
      done += static_cast<size_t>(wrote);
    }
  }
  ok = ok && ::fsync(fd.Get()) == 0;
  int code = ok ? 0 : errno;
  if (!fd.Close() && ok) {
    ok = false;
    code = errno;
  }
  if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
    ok = false;
    code = errno;
  }
  if (!ok) {
    *error = SystemError(code);
    ::unlink(temp.c_str());
    return false;
  }
  // Make the rename itself durable.
  CFd folder(::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.Valid()) ::fsync(folder.Get());
  return true;
}

#endif

}  // namespace vt
