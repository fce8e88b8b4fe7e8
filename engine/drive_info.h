// Reading one drive's record for the drive list: file system, sizes and
// cluster geometry.
#pragma once

#include <string>

#include "engine/records.h"
#include "platform/volume_ops.h"

namespace vt {

// Fills a drive record for a root path such as "C:\". Returns false when the
// volume information cannot be read (*error empty: the drive is skipped
// silently) or when the free-space queries fail (*error holds the system's
// text for the last error, line breaks removed, to be shown to the user).
bool ReadDriveData(IVolumeOps& ops, const std::string& root, CDriveData& drive, std::string* error,
                   DWORD* errorCode = nullptr);

}  // namespace vt
