#include "platform/image/block_device.h"
#include "platform/image/media_query.h"

namespace vt {

// Windows answers for its own disks through the volume controls; no queue
// of the host's block layer is read there.
CBlockQueue ReadBlockQueue(unsigned major, unsigned minor, const std::string& sysRoot) {
  (void)major, (void)minor, (void)sysRoot;
  return CBlockQueue();
}

// An image file's disk would need the host volume's own query, which the
// systems this substitute runs on (Wine) do not answer.
VOLUME_MEDIA_INFO CFileBlockDevice::QueryMedia() const {
  return VOLUME_MEDIA_INFO{SEEK_PENALTY_UNKNOWN, FALSE};
}

}  // namespace vt
