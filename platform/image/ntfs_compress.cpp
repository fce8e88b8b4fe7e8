#include "platform/image/ntfs_compress.h"

#include <algorithm>
#include <cstring>

#include "base/le.h"

namespace vt {
namespace ntfs {

namespace {

constexpr size_t kChunkBytes = 4096;
constexpr uint16_t kChunkSizeMask = 0x0FFF;
constexpr uint16_t kChunkCompressed = 0x8000;

// Expands one compressed chunk into out[start, end); *at is where the chunk's
// data began on entry and where it stopped on return.
DWORD ExpandChunk(const uint8_t* in, size_t pos, size_t chunkEnd, uint8_t* out, size_t start,
                  size_t end, size_t* at) {
  size_t dst = start;
  while (pos < chunkEnd && dst < end) {
    const uint8_t tags = in[pos++];
    for (int bit = 0; bit < 8 && pos < chunkEnd && dst < end; ++bit) {
      if (!(tags & (1u << bit))) {
        out[dst++] = in[pos++];
        continue;
      }
      if (chunkEnd - pos < 2) return ERROR_FILE_CORRUPT;
      const uint16_t token = Le16(in + pos);
      pos += 2;
      const size_t done = dst - start;
      if (done == 0) return ERROR_FILE_CORRUPT;
      // The further into the chunk, the more bits the offset takes.
      unsigned shift = 0;
      for (size_t i = done - 1; i >= 0x10; i >>= 1) ++shift;
      const size_t back = (static_cast<size_t>(token) >> (12 - shift)) + 1;
      const size_t length = (token & (0x0FFFu >> shift)) + 3;
      if (back > done || length > end - dst) return ERROR_FILE_CORRUPT;
      for (size_t i = 0; i < length; ++i, ++dst) out[dst] = out[dst - back];
    }
  }
  *at = dst;
  return ERROR_SUCCESS;
}

}  // namespace

DWORD DecompressLznt1(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize) {
  if (outSize == 0) return ERROR_SUCCESS;
  size_t pos = 0;
  size_t dst = 0;
  DWORD result = ERROR_SUCCESS;
  while (dst < outSize && inSize - pos >= 2) {
    const uint16_t header = Le16(in + pos);
    if (header == 0) break;
    pos += 2;
    const size_t chunkLength = (header & kChunkSizeMask) + 1u;
    if (chunkLength > inSize - pos) {
      result = ERROR_FILE_CORRUPT;
      break;
    }
    const size_t chunkEnd = pos + chunkLength;
    const size_t end = std::min(dst + kChunkBytes, outSize);
    size_t reached = dst;
    if (header & kChunkCompressed) {
      result = ExpandChunk(in, pos, chunkEnd, out, dst, end, &reached);
      if (result != ERROR_SUCCESS) break;
    } else {
      reached = dst + std::min(chunkLength, end - dst);
      std::memcpy(out + dst, in + pos, reached - dst);
    }
    std::memset(out + reached, 0, end - reached);
    dst = end;
    pos = chunkEnd;
  }
  if (result == ERROR_SUCCESS) std::memset(out + dst, 0, outSize - dst);
  return result;
}

}  // namespace ntfs
}  // namespace vt
