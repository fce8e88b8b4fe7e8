#include "platform/image/image_retrim.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "platform/image/media_query.h"
#include "platform/image/volume_set_impl.h"

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

}  // namespace vt
