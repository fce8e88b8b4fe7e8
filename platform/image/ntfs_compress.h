// Decompression of NTFS compressed attributes (LZNT1): a compression unit
// is stored as chunks that each expand to at most 4096 bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/winshapes.h"

namespace vt {
namespace ntfs {

// Expands the chunks in `in` into `out`, `outSize` bytes (one compression
// unit). A chunk that expands to less than 4096 bytes, and everything after
// the end marker, reads as zeros. ERROR_FILE_CORRUPT for a chunk that runs
// past the input, a back reference before the chunk's start, or a copy past
// its 4096 bytes; `out` then holds what was decoded.
DWORD DecompressLznt1(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize);

}  // namespace ntfs
}  // namespace vt
