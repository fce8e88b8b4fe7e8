#include <fcntl.h>
#include <linux/loop.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/image/volume_identity.h"

namespace vt {

namespace {

std::string RealPath(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (!real) return std::string();
  std::string out(real);
  std::free(real);
  return out;
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool ReadDeviceNumber(const std::string& file, dev_t* out) {
  std::ifstream in(file);
  unsigned ma = 0, mi = 0;
  char colon = 0;
  if (!(in >> ma >> colon >> mi) || colon != ':') return false;
  *out = makedev(ma, mi);
  return true;
}

std::string SysBlock(dev_t dev) {
  return "/sys/dev/block/" + std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
}

CBackingIdentity FileIdentity(dev_t dev, ino_t ino) {
  CBackingIdentity id;
  id.m_eKind = CBackingIdentity::kFile;
  id.m_nDevice = static_cast<uint64_t>(dev);
  id.m_nInode = static_cast<uint64_t>(ino);
  return id;
}

// A loop device's backing file as the loop itself knows it: by device and
// inode, so also after the file was renamed or its name removed.
bool LoopBacking(const std::string& sys, dev_t whole, CBackingIdentity* out) {
  const std::string real = RealPath(sys);
  const size_t slash = real.rfind('/');
  if (slash != std::string::npos) {
    const std::string node = "/dev/" + real.substr(slash + 1);
    const int fd = ::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
      struct stat st;
      loop_info64 info;
      std::memset(&info, 0, sizeof(info));
      const bool ok = ::fstat(fd, &st) == 0 && S_ISBLK(st.st_mode) && st.st_rdev == whole &&
                      ::ioctl(fd, LOOP_GET_STATUS64, &info) == 0;
      ::close(fd);
      if (ok) {
        // The kernel's own encoding of the device number.
        const uint64_t d = info.lo_device;
        const unsigned ma = static_cast<unsigned>((d & 0xfff00) >> 8);
        const unsigned mi = static_cast<unsigned>((d & 0xff) | ((d >> 12) & 0xfff00));
        *out = FileIdentity(makedev(ma, mi), static_cast<ino_t>(info.lo_inode));
        return true;
      }
    }
  }
  std::ifstream in(sys + "/loop/backing_file");
  std::string file;
  struct stat st;
  if (std::getline(in, file) && ::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    *out = FileIdentity(st.st_dev, st.st_ino);
    return true;
  }
  return false;
}

CBackingIdentity DiskIdentity(dev_t rdev) {
  dev_t whole = rdev;
  const std::string sys = SysBlock(rdev);
  if (Exists(sys + "/partition")) {
    dev_t parent;
    const std::string real = RealPath(sys);
    if (!real.empty() && ReadDeviceNumber(real + "/../dev", &parent)) whole = parent;
  }
  const std::string wholeSys = SysBlock(whole);
  CBackingIdentity id;
  if (Exists(wholeSys + "/loop") && LoopBacking(wholeSys, whole, &id)) return id;
  id.m_eKind = CBackingIdentity::kDisk;
  id.m_nDevice = static_cast<uint64_t>(whole);
  return id;
}

}  // namespace

CBackingIdentity BackingIdentity(const std::string& path) {
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return CBackingIdentity();
  if (S_ISBLK(st.st_mode)) return DiskIdentity(st.st_rdev);
  return FileIdentity(st.st_dev, st.st_ino);
}

std::string WriterLockFolder() {
  // Fixed folders rather than $TMPDIR: every process must find the same.
  for (const char* folder : {"/run/lock", "/var/lock", "/tmp"}) {
    struct stat st;
    if (::stat(folder, &st) == 0 && S_ISDIR(st.st_mode) && ::access(folder, W_OK) == 0)
      return folder;
  }
  return std::string();
}

CWriterLock::~CWriterLock() {
  if (m_nFd >= 0) ::close(m_nFd);
}

DWORD CWriterLock::Take(const CBackingIdentity& identity, std::string* message) {
  const std::string folder = WriterLockFolder();
  if (!identity.IsKnown() || folder.empty()) {
    if (message) *message = "cannot lock the volume: no folder for lock files";
    return ERROR_LOCK_VIOLATION;
  }
  const std::string path = folder + "/vantrel-" + identity.Key() + ".lock";
  // The folder is shared with everyone: never follow a link planted there,
  // and open an existing file without O_CREAT, which protected_regular
  // refuses for another user's file.
  int fd = -1;
  int err = 0;
  for (int attempt = 0; attempt < 3 && fd < 0; ++attempt) {
    fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0 || errno != ENOENT) break;
    fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd >= 0) ::fchmod(fd, 0644);  // every user's writers must open it
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) err = errno;
  struct stat st;
  if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
    ::close(fd);
    fd = -1;
    err = EINVAL;
  }
  if (fd < 0) {
    if (message) *message = "cannot lock the volume (" + path + "): " + std::strerror(err);
    return ERROR_LOCK_VIOLATION;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    err = errno;
    ::close(fd);
    if (err == EWOULDBLOCK) return ERROR_SHARING_VIOLATION;
    if (message) *message = "cannot lock the volume (" + path + "): " + std::strerror(err);
    return ERROR_LOCK_VIOLATION;
  }
  if (m_nFd >= 0) ::close(m_nFd);
  m_nFd = fd;
  return ERROR_SUCCESS;
}

}  // namespace vt
