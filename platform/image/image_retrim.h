// Retrim over a volume image: every free cluster range of the volume bitmap
// given back to the storage, as a hole in an image file or a discard on a
// device.
#pragma once

#include <cstdint>

#include "platform/image/block_device.h"
#include "platform/image/fs_volume.h"

namespace vt {

// Discards the free clusters of `fs` on `device` (the device `fs` reads).
// Each range lies inside one free run, cut inward to the device's discard
// unit; *trimmedBytes adds up what was handed over. The caller has checked
// the allocation and holds the volume's writer lock. ERROR_NOT_SUPPORTED
// where the device cannot discard.
DWORD TrimFreeClusters(CFsVolume& fs, CBlockDevice& device, uint64_t* trimmedBytes);

}  // namespace vt
