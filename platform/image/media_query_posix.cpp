#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "platform/image/block_device.h"
#include "platform/image/media_query.h"

namespace vt {

namespace {

bool ReadNumber(const std::string& path, uint64_t* value) {
  std::FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return false;
  unsigned long long v = 0;
  const bool ok = std::fscanf(f, "%llu", &v) == 1;
  std::fclose(f);
  if (ok) *value = v;
  return ok;
}

}  // namespace

CBlockQueue ReadBlockQueue(unsigned major, unsigned minor, const std::string& sysRoot) {
  CBlockQueue out;
  char link[96];
  std::snprintf(link, sizeof(link), "/dev/block/%u:%u", major, minor);
  char* real = ::realpath((sysRoot + link).c_str(), nullptr);
  if (!real) return out;  // no block device: tmpfs, overlay, a network share
  std::string folder(real);
  std::free(real);
  // A partition has no queue of its own: its disk is the folder above.
  if (::access((folder + "/partition").c_str(), F_OK) == 0) {
    const size_t slash = folder.rfind('/');
    if (slash != std::string::npos) folder.resize(slash);
  }
  uint64_t rotational = 0;
  if (!ReadNumber(folder + "/queue/rotational", &rotational)) return out;
  out.m_bFound = true;
  out.m_media.SeekPenalty = rotational ? SEEK_PENALTY_YES : SEEK_PENALTY_NO;
  ReadNumber(folder + "/queue/discard_max_bytes", &out.m_nDiscardMax);
  ReadNumber(folder + "/queue/discard_granularity", &out.m_nDiscardGranularity);
  ReadNumber(folder + "/queue/logical_block_size", &out.m_nLogicalBlock);
  out.m_media.TrimSupported = out.m_nDiscardMax > 0;
  return out;
}

VOLUME_MEDIA_INFO CFileBlockDevice::QueryMedia() const {
  struct stat st;
  if (::fstat(m_nFd, &st) != 0) return VOLUME_MEDIA_INFO{SEEK_PENALTY_UNKNOWN, FALSE};
  // A device answers for itself, an image file for the device that holds it.
  const dev_t dev = S_ISBLK(st.st_mode) ? st.st_rdev : st.st_dev;
  return ReadBlockQueue(major(dev), minor(dev)).m_media;
}

}  // namespace vt
