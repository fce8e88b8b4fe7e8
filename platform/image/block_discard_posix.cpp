#include <fcntl.h>
#include <linux/falloc.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/image/block_device.h"
#include "platform/image/media_query.h"

namespace vt {

uint64_t CFileBlockDevice::DiscardUnit() const {
  struct stat st;
  if (m_bReadOnly || ::fstat(m_nFd, &st) != 0) return 0;
  if (!S_ISBLK(st.st_mode)) return st.st_blksize > 0 ? static_cast<uint64_t>(st.st_blksize) : 4096;
  // A device only where it takes discards at all.
  const CBlockQueue queue = ReadBlockQueue(major(st.st_rdev), minor(st.st_rdev));
  if (!queue.m_bFound || queue.m_nDiscardMax == 0) return 0;
  return std::max<uint64_t>({queue.m_nDiscardGranularity, queue.m_nLogicalBlock, 512});
}

DWORD CFileBlockDevice::Discard(uint64_t offset, uint64_t size) {
  if (m_bReadOnly) return ERROR_WRITE_PROTECT;
  if (offset > m_nSize || size > m_nSize - offset) return ERROR_SECTOR_NOT_FOUND;
  struct stat st;
  if (::fstat(m_nFd, &st) != 0) return ERROR_GEN_FAILURE;
  int rc = 0;
  if (S_ISBLK(st.st_mode)) {
    uint64_t range[2] = {offset, size};
    rc = ::ioctl(m_nFd, BLKDISCARD, range);
  } else {
    // A range that is a hole already needs no punch: a second retrim then
    // costs a seek per run, not a change of the host's file system.
    const off_t data = ::lseek(m_nFd, static_cast<off_t>(offset), SEEK_DATA);
    if ((data < 0 && errno == ENXIO) || (data >= 0 && static_cast<uint64_t>(data) >= offset + size))
      return ERROR_SUCCESS;
    do {
      rc = ::fallocate(m_nFd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE,
                       static_cast<off_t>(offset), static_cast<off_t>(size));
    } while (rc != 0 && errno == EINTR);
  }
  if (rc == 0) return ERROR_SUCCESS;
  return errno == EOPNOTSUPP || errno == ENOTTY ? ERROR_NOT_SUPPORTED : ERROR_WRITE_FAULT;
}

}  // namespace vt
