// A small zlib-format compressor (greedy LZ77 with the fixed Huffman codes)
// and the two checksums PNG needs; enough to keep map pictures small
// without an outside library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vt {

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0);
uint32_t Adler32(const uint8_t* data, size_t size, uint32_t adler = 1);

// Raw deflate data: one final block with the fixed codes.
std::vector<uint8_t> DeflateFixed(const uint8_t* data, size_t size);
// The zlib stream: header, deflate data, Adler-32 of the input.
std::vector<uint8_t> ZlibCompress(const uint8_t* data, size_t size);

}  // namespace vt
