// The host's own files, for paths that name no mounted volume: the
// temporary folder, attributes and deletion of cache files. Each returns its
// Windows result and leaves the Windows error code in *error.
#pragma once

#include "base/winshapes.h"

namespace vt {

DWORD HostGetTempPath(DWORD size, char* buffer, DWORD* error);
DWORD HostGetFileAttributes(const char* path, DWORD* error);
BOOL HostDeleteFile(const char* path, DWORD* error);

}  // namespace vt
