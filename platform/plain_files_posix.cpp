#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "base/text.h"
#include "platform/plain_files.h"
#include "platform/settings_folder.h"

namespace vt {

namespace {

// Distinguishes the temporary files of threads writing at the same time.
std::atomic<unsigned> g_nTempCounter{0};

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

}  // namespace

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

bool ReplaceWaitsForReaders() { return false; }

bool PlainFileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::FILE* OpenPlainFileForReading(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::FILE* f = ::fdopen(fd, "rb");
  if (!f) ::close(fd);
  return f;
}

std::FILE* CreatePlainFileForWriting(const std::string& path) {
  std::remove(path.c_str());
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  std::FILE* f = ::fdopen(fd, "wb");
  if (!f) ::close(fd);
  return f;
}

bool SeekPlainFile(std::FILE* f, int64_t offset, int whence) {
  return ::fseeko(f, static_cast<off_t>(offset), whence) == 0;
}

int64_t TellPlainFile(std::FILE* f) { return static_cast<int64_t>(::ftello(f)); }

bool FlushPlainFile(std::FILE* f) {
  if (std::fflush(f) != 0) return false;
  return ::fsync(::fileno(f)) == 0;
}

bool MovePlainFileOver(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

bool DeletePlainFile(const std::string& path) { return std::remove(path.c_str()) == 0; }

std::vector<std::string> PlainFilesIn(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    struct stat st;
    if (::stat(JoinPath(folder, name).c_str(), &st) == 0 && S_ISREG(st.st_mode))
      names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

std::string NativePath(const std::string& path) {
  std::string native = path;
  for (char& c : native)
    if (c == '\\') c = '/';
  return native;
}

}  // namespace vt
