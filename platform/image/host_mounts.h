// Whether the host itself is using a volume we are about to write: a block
// device with a file system mounted on it (by the kernel or through FUSE),
// or an image file behind a loop device whose file system is mounted.
// Writing under a mounted file system corrupts it, however idle it looks.
#pragma once

#include <string>

namespace vt {

// The first mount point found for `path` (a block device node or an image
// file), or "" when the host has none. Always "" on Windows, whose drives
// are not images.
std::string FindHostMount(const std::string& path);

// The text that refuses a write to a volume the host has mounted.
std::string InUseMessage(const std::string& mountPoint);

}  // namespace vt
