// The host's own files, for paths that name no mounted volume: the
// temporary folder, attributes and deletion of cache files. Each returns its
// Windows result and leaves the Windows error code in *error.
#pragma once

#include <string>

#include "base/winshapes.h"

namespace vt {

DWORD HostGetTempPath(DWORD size, char* buffer, DWORD* error);
DWORD HostGetFileAttributes(const char* path, DWORD* error);
BOOL HostDeleteFile(const char* path, DWORD* error);

// The full path of a file, links resolved where the host has them; the
// path itself when it cannot be resolved.
std::string HostCanonicalPath(const std::string& path);

}  // namespace vt
