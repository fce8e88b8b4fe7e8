// The running system's own volumes and folders, for a program that may
// work on them or on volume images.
#pragma once

#include <memory>
#include <string>

#include "platform/volume_ops.h"

namespace vt {

// The volume operations of the running Windows; null on a system whose
// drives the program cannot work on (only images there).
std::unique_ptr<IVolumeOps> SystemVolumeOps();

// The base folder of the user's caches: the temporary folder on Windows,
// elsewhere $XDG_CACHE_HOME or ~/.cache. Empty when there is none.
std::string UserCacheBase();

// Leaves a folder to its owner alone (nothing on Windows, where the
// profile's folders are the user's already).
void KeepFolderPrivate(const std::string& folder);

}  // namespace vt
