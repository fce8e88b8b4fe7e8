#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/image/block_device.h"
#include "platform/image/host_mounts.h"

namespace vt {

namespace {
#ifdef __linux__
// Writes of at least this much start their write-back at once.
constexpr size_t kStartWriteBackBytes = 256 * 1024;
#endif
}  // namespace

CFileBlockDevice::~CFileBlockDevice() {
  if (m_nStoredFd >= 0) ::close(m_nStoredFd);
  if (m_nFd >= 0) ::close(m_nFd);
}

DWORD CFileBlockDevice::Open(const std::string& path, bool readOnly,
                             std::unique_ptr<CBlockDevice>* device, std::string* message) {
  std::unique_ptr<CFileBlockDevice> dev(new CFileBlockDevice());
  // A writer opens a block device exclusively: the kernel then refuses it
  // while a file system is mounted on it, and refuses mounting one meanwhile.
  struct stat st;
  const bool found = ::stat(path.c_str(), &st) == 0;
  const bool block = found && S_ISBLK(st.st_mode);
  // Opening a FIFO or a terminal waits for its other end: refuse them before.
  if (found && !block && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
    if (message) *message = NotAVolumeMessage(path);
    return ERROR_ACCESS_DENIED;
  }
  dev->m_nFd = ::open(
      path.c_str(), (readOnly ? O_RDONLY : O_RDWR | (block ? O_EXCL : 0)) | O_CLOEXEC | O_NONBLOCK);
  if (dev->m_nFd < 0) {
    int err = errno;
    if (message) *message = "cannot open image '" + path + "': " + std::strerror(err);
    if (err == ENOENT || err == ENOTDIR) return ERROR_FILE_NOT_FOUND;
    if (err == EROFS) return ERROR_WRITE_PROTECT;
    if (err == EACCES || err == EPERM) return ERROR_ACCESS_DENIED;
    if (err == EBUSY) {
      std::string where = FindHostMount(path);
      if (message) *message = InUseMessage(where.empty() ? "another program's file system" : where);
      return ERROR_BUSY;
    }
    return ERROR_GEN_FAILURE;
  }
  if (::fstat(dev->m_nFd, &st) != 0) {
    if (message) *message = "cannot read the size of '" + path + "'";
    return ERROR_READ_FAULT;
  }
  // The name may have been swapped for a FIFO between the two looks.
  if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode) && !S_ISDIR(st.st_mode)) {
    if (message) *message = NotAVolumeMessage(path);
    return ERROR_ACCESS_DENIED;
  }
  ::fcntl(dev->m_nFd, F_SETFL, ::fcntl(dev->m_nFd, F_GETFL) & ~O_NONBLOCK);
  if (!readOnly) {
    // One writer at a time by any path to the same bytes: the image, its
    // links, its loop devices, a disk and its partitions share one lock.
    // The locks belong to open files, so the kernel drops them when the
    // process ends, however it ends.
    const CBackingIdentity identity = BackingIdentity(path);
    const DWORD locked = dev->m_lock.Take(identity, message);
    if (locked != ERROR_SUCCESS) {
      if (locked == ERROR_SHARING_VIOLATION && message) *message = kInUseByVantrel;
      return locked;
    }
    if (::flock(dev->m_nFd, LOCK_EX | LOCK_NB) != 0) {
      const int err = errno;
      if (message) {
        *message = err == EWOULDBLOCK ? kInUseByVantrel
                                      : "cannot lock '" + path + "': " + std::strerror(err);
      }
      return err == EWOULDBLOCK ? ERROR_SHARING_VIOLATION : ERROR_LOCK_VIOLATION;
    }
    // Checked with the lock held: an image behind a mounted loop device, or
    // a device a FUSE file system has open, is the host's to write.
    std::string where = FindHostMount(path);
    if (!where.empty()) {
      if (message) *message = InUseMessage(where);
      return ERROR_BUSY;
    }
  }
  if (S_ISDIR(st.st_mode)) {
    if (message) *message = "'" + path + "' is a folder, not an image";
    return ERROR_ACCESS_DENIED;
  }
  if (S_ISREG(st.st_mode)) {
    dev->m_nSize = static_cast<uint64_t>(st.st_size);
  } else {
    // Block devices report their size through the end offset.
    off_t end = ::lseek(dev->m_nFd, 0, SEEK_END);
    if (end < 0) {
      if (message) *message = "cannot read the size of '" + path + "'";
      return ERROR_READ_FAULT;
    }
    dev->m_nSize = static_cast<uint64_t>(end);
  }
  dev->m_bReadOnly = readOnly;
  dev->m_strPath = path;
  dev->m_bBlock = S_ISBLK(st.st_mode);
  *device = std::move(dev);
  return ERROR_SUCCESS;
}

DWORD CFileBlockDevice::Read(uint64_t offset, void* buffer, size_t size) {
  if (!InRange(offset, size)) return ERROR_SECTOR_NOT_FOUND;
  auto* out = static_cast<uint8_t*>(buffer);
  while (size > 0) {
    ssize_t got = ::pread(m_nFd, out, std::min<size_t>(size, 1u << 30), static_cast<off_t>(offset));
    if (got < 0) {
      if (errno == EINTR) continue;
      return ERROR_READ_FAULT;
    }
    if (got == 0) return ERROR_SECTOR_NOT_FOUND;  // the file shrank under us
    out += got;
    offset += static_cast<uint64_t>(got);
    size -= static_cast<size_t>(got);
  }
  return ERROR_SUCCESS;
}

DWORD CFileBlockDevice::Write(uint64_t offset, const void* buffer, size_t size) {
  if (m_bReadOnly) return ERROR_WRITE_PROTECT;
  if (!InRange(offset, size)) return ERROR_SECTOR_NOT_FOUND;
#ifdef __linux__
  // Large writes (copied data) start on their way to the storage now, while
  // the next ones are made, so that the flush that must store them finds
  // little left to do. Only a start: what is stored is still the flush's say.
  const bool startWriteBack = size >= kStartWriteBackBytes;
  const uint64_t written = offset;
  const size_t count = size;
#endif
  const auto* in = static_cast<const uint8_t*>(buffer);
  while (size > 0) {
    ssize_t put = ::pwrite(m_nFd, in, std::min<size_t>(size, 1u << 30), static_cast<off_t>(offset));
    if (put < 0) {
      if (errno == EINTR) continue;
      return ERROR_WRITE_FAULT;
    }
    if (put == 0) return ERROR_WRITE_FAULT;
    in += put;
    offset += static_cast<uint64_t>(put);
    size -= static_cast<size_t>(put);
  }
#ifdef __linux__
  if (startWriteBack) {
    ::sync_file_range(m_nFd, static_cast<off_t>(written), static_cast<off_t>(count),
                      SYNC_FILE_RANGE_WRITE);
  }
#endif
  return ERROR_SUCCESS;
}

DWORD CFileBlockDevice::Flush() {
  if (m_bReadOnly) return ERROR_SUCCESS;
  // The image never changes size, so the data alone needs forcing out; the
  // file's times can follow later, which makes a flush several times cheaper.
  return ::fdatasync(m_nFd) == 0 ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

void CFileBlockDevice::DropCached(uint64_t offset, size_t size) {
  // Clean pages only; a range not yet flushed simply stays cached. Then the
  // range is read from the storage in the background, so that the reads to
  // come find it there rather than each waiting for its own.
  ::posix_fadvise(m_nFd, static_cast<off_t>(offset), static_cast<off_t>(size), POSIX_FADV_DONTNEED);
  ::posix_fadvise(m_nFd, static_cast<off_t>(offset), static_cast<off_t>(size), POSIX_FADV_WILLNEED);
}

DWORD CFileBlockDevice::ReadStored(uint64_t offset, void* buffer, size_t size) {
#if defined(__linux__) && defined(O_DIRECT)
  if (!InRange(offset, size)) return ERROR_SECTOR_NOT_FOUND;
  // Direct reads go from the storage into the buffer, without the page
  // cache (so without its copy, and without pages to drop and fill first);
  // they must start, end and land on the storage's block boundaries.
  constexpr uint64_t kDirectAlign = 4096;
  if (offset % kDirectAlign != 0 || size % kDirectAlign != 0 ||
      reinterpret_cast<uintptr_t>(buffer) % kDirectAlign != 0 || m_nStoredFd == -2) {
    return ERROR_NOT_SUPPORTED;
  }
  if (m_nStoredFd == -1) {
    // Opened by the first read back, on the thread that commits; the
    // open file itself, not its name again, which could name another
    // file by now.
    const std::string self = "/proc/self/fd/" + std::to_string(m_nFd);
    m_nStoredFd = ::open(self.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC);
    if (m_nStoredFd < 0) {
      m_nStoredFd = -2;
      return ERROR_NOT_SUPPORTED;
    }
  }
  auto* out = static_cast<uint8_t*>(buffer);
  while (size > 0) {
    ssize_t got =
        ::pread(m_nStoredFd, out, std::min<size_t>(size, 1u << 30), static_cast<off_t>(offset));
    if (got < 0) {
      if (errno == EINTR) continue;
      // The file system takes no direct reads, or not with this alignment.
      // (Nothing changes here: readers on other threads share the descriptor.)
      if (errno == EINVAL) return ERROR_NOT_SUPPORTED;
      return ERROR_READ_FAULT;
    }
    if (got == 0 || got % static_cast<ssize_t>(kDirectAlign) != 0) return ERROR_SECTOR_NOT_FOUND;
    out += got;
    offset += static_cast<uint64_t>(got);
    size -= static_cast<size_t>(got);
  }
  return ERROR_SUCCESS;
#else
  (void)offset, (void)buffer, (void)size;
  return ERROR_NOT_SUPPORTED;
#endif
}

}  // namespace vt
