#include "platform/image/image_retrim.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "platform/image/media_query.h"
#include "platform/image/volume_set_impl.h"

#ifndef _WIN32
#include <fcntl.h>
#include <linux/falloc.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace vt {

namespace {

// The clusters of the bitmap looked at in one go (1 MiB of bits).
constexpr uint64_t kChunkClusters = uint64_t(1) << 23;

bool BitAt(const uint8_t* bits, uint64_t i) { return (bits[i / 8] >> (i % 8)) & 1; }

// The first index in [from, end) whose bit is `set`, or end.
uint64_t NextBit(const uint8_t* bits, uint64_t from, uint64_t end, bool set) {
  uint64_t i = from;
  while (i < end && i % 64 != 0) {
    if (BitAt(bits, i) == set) return i;
    ++i;
  }
  while (i + 64 <= end) {
    uint64_t word = 0;
    for (int b = 7; b >= 0; --b) word = (word << 8) | bits[i / 8 + static_cast<uint64_t>(b)];
    if (!set) word = ~word;
    if (word) return i + static_cast<uint64_t>(__builtin_ctzll(word));
    i += 64;
  }
  while (i < end && BitAt(bits, i) != set) ++i;
  return std::min(i, end);
}

}  // namespace

DWORD TrimFreeClusters(CFsVolume& fs, CBlockDevice& device, uint64_t* trimmedBytes) {
  *trimmedBytes = 0;
  const uint64_t unit = device.DiscardUnit();
  if (unit == 0) return ERROR_NOT_SUPPORTED;
  const uint64_t total = fs.TotalClusters();
  const uint64_t clusterBytes = fs.BytesPerCluster();
  uint64_t trimmed = 0;
  DWORD err = ERROR_SUCCESS;
  auto discard = [&](uint64_t first, uint64_t end) {
    // The bytes of clusters first to end - 1, never past the device's end.
    uint64_t begin = fs.LcnOffset(first);
    uint64_t stop = std::min(fs.LcnOffset(end - 1) + clusterBytes, device.Size());
    begin = (begin + unit - 1) / unit * unit;
    stop = stop / unit * unit;
    if (stop <= begin) return;
    err = device.Discard(begin, stop - begin);
    if (err == ERROR_SUCCESS) trimmed += stop - begin;
  };
  std::vector<uint8_t> bits(static_cast<size_t>(kChunkClusters / 8));
  uint64_t runStart = total;  // the free run still open at a chunk's end
  for (uint64_t base = 0; base < total && err == ERROR_SUCCESS; base += kChunkClusters) {
    const uint64_t count = std::min(kChunkClusters, total - base);
    std::fill(bits.begin(), bits.end(), 0);
    err = fs.GetBitmap(base, count, bits.data());
    if (err != ERROR_SUCCESS) break;
    uint64_t i = 0;
    while (i < count && err == ERROR_SUCCESS) {
      if (runStart == total) {
        i = NextBit(bits.data(), i, count, false);
        if (i == count) break;
        runStart = base + i;
      }
      i = NextBit(bits.data(), i, count, true);
      if (i == count) break;  // the run may go on in the next chunk
      discard(runStart, base + i);
      runStart = total;
    }
  }
  if (err == ERROR_SUCCESS && runStart < total) discard(runStart, total);
  *trimmedBytes = trimmed;
  const DWORD flushed = device.Flush();
  return err != ERROR_SUCCESS ? err : flushed;
}

BOOL CImageVolumeSet::GetVolumeMediaA(const char* root, VOLUME_MEDIA_INFO* media) {
  std::lock_guard<std::mutex> lock(m_impl->m_mutex);
  std::shared_ptr<CMountedVolume> volume;
  DWORD err = media ? m_impl->RootVolume(root, true, &volume) : ERROR_INVALID_PARAMETER;
  if (err != ERROR_SUCCESS) {
    StoreLastError(err);
    return FALSE;
  }
  CMediaSwitch media2;
  if (ParseMediaSwitch(std::getenv("VANTREL_MEDIA"), volume->m_cLetter, &media2))
    *media = media2.m_media;
  else
    *media = volume->m_pDevice->QueryMedia();
  StoreLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL CImageVolumeSet::RetrimVolumeA(const char* root, ULONGLONG* trimmedBytes) {
  std::lock_guard<std::mutex> lock(m_impl->m_mutex);
  std::shared_ptr<CMountedVolume> volume;
  DWORD err = trimmedBytes ? m_impl->RootVolume(root, true, &volume) : ERROR_INVALID_PARAMETER;
  if (trimmedBytes) *trimmedBytes = 0;
  CMediaSwitch media;
  if (err == ERROR_SUCCESS &&
      ParseMediaSwitch(std::getenv("VANTREL_MEDIA"), volume->m_cLetter, &media) &&
      media.m_bNoRetrim)
    err = ERROR_OLD_WIN_VERSION;
  // Refused as a move is: never on a mount that may not write, and never on
  // a volume whose bitmap could call a file's cluster free.
  if (err == ERROR_SUCCESS && volume->m_bReadOnly) err = ERROR_WRITE_PROTECT;
  if (err == ERROR_SUCCESS && volume->m_bReadAccess) err = ERROR_ACCESS_DENIED;
  if (err == ERROR_SUCCESS) err = m_impl->EnsureChecked(*volume);
  if (err == ERROR_SUCCESS && !volume->m_check.IsConsistent()) err = ERROR_DISK_CORRUPT;
  if (err == ERROR_SUCCESS) {
    uint64_t trimmed = 0;
    err = TrimFreeClusters(*volume->m_pFs, *volume->m_pDevice, &trimmed);
    *trimmedBytes = trimmed;
  }
  StoreLastError(err);
  return err == ERROR_SUCCESS ? TRUE : FALSE;
}

#ifdef _WIN32

uint64_t CFileBlockDevice::DiscardUnit() const { return m_bReadOnly ? 0 : 4096; }

DWORD CFileBlockDevice::Discard(uint64_t offset, uint64_t size) {
  if (m_bReadOnly) return ERROR_WRITE_PROTECT;
  DWORD returned = 0;
  // Zeroed ranges of a sparse file are given back to the host volume.
  if (!m_bSparse) {
    if (!::DeviceIoControl(m_hFile, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr))
      return ERROR_NOT_SUPPORTED;
    m_bSparse = true;
  }
  FILE_ZERO_DATA_INFORMATION zero;
  zero.FileOffset.QuadPart = static_cast<LONGLONG>(offset);
  zero.BeyondFinalZero.QuadPart = static_cast<LONGLONG>(offset + size);
  if (!::DeviceIoControl(m_hFile, FSCTL_SET_ZERO_DATA, &zero, sizeof(zero), nullptr, 0, &returned,
                         nullptr)) {
    const DWORD err = ::GetLastError();
    return err == ERROR_INVALID_FUNCTION ? ERROR_NOT_SUPPORTED : err;
  }
  return ERROR_SUCCESS;
}

#else

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

#endif

}  // namespace vt
