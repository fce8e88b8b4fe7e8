// What the storage under an image or device is: the kernel's queue
// attributes of the block device that holds it, and the test switch that
// stands in for them where there is none (VANTREL_MEDIA).
#pragma once

#include <cstdint>
#include <string>

#include "platform/volume_ops.h"

namespace vt {

struct CBlockQueue {
  bool m_bFound = false;  // the device has a queue folder
  VOLUME_MEDIA_INFO m_media{SEEK_PENALTY_UNKNOWN, 0};
  uint64_t m_nDiscardMax = 0;          // queue/discard_max_bytes
  uint64_t m_nDiscardGranularity = 0;  // queue/discard_granularity
  uint64_t m_nLogicalBlock = 512;      // queue/logical_block_size
};

// The queue of block device MAJ:MIN under `sysRoot` ("/sys"); a partition
// answers with its disk's queue.
CBlockQueue ReadBlockQueue(unsigned major, unsigned minor, const std::string& sysRoot = "/sys");

// The media the switch names for a drive letter: "V=ssd;W=hdd;X=unknown",
// "+noretrim" after a kind makes retrim unavailable there. False when the
// letter is not named.
struct CMediaSwitch {
  VOLUME_MEDIA_INFO m_media{SEEK_PENALTY_UNKNOWN, 0};
  bool m_bNoRetrim = false;
};
bool ParseMediaSwitch(const char* text, char letter, CMediaSwitch* out);

}  // namespace vt
