// The replies of the volume bitmap and retrieval pointer controls, built
// from a file system's allocation in the published Windows layouts.
#pragma once

#include "platform/image/fs_volume.h"

namespace vt {

// FSCTL_GET_VOLUME_BITMAP. Returns ERROR_SUCCESS, ERROR_MORE_DATA (reply
// cut at the buffer; *returned is what was filled) or an error.
DWORD AnswerVolumeBitmap(CFsVolume& fs, const void* in, DWORD inSize, void* out, DWORD outSize,
                         DWORD* returned);

// FSCTL_GET_RETRIEVAL_POINTERS for one file or folder.
DWORD AnswerRetrievalPointers(CFsVolume& fs, const CFsNode& node, const void* in, DWORD inSize,
                              void* out, DWORD outSize, DWORD* returned);

}  // namespace vt
