#include "map/deflate.h"

#include <algorithm>

namespace vt {

namespace {

const uint32_t* CrcTable() {
  static uint32_t table[256];
  static bool made = [] {
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[n] = c;
    }
    return true;
  }();
  (void)made;
  return table;
}

const uint16_t kLenBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                               31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t kLenExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                               2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t kDistBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

constexpr size_t kWindow = 32768;
constexpr size_t kMinMatch = 3;
constexpr size_t kMaxMatch = 258;
constexpr int kHashBits = 15;
constexpr int kMaxChain = 32;

class CBitWriter {
 public:
  explicit CBitWriter(std::vector<uint8_t>* out) : m_out(out) {}
  // Plain values go least significant bit first.
  void Put(uint32_t bits, int count) {
    m_buffer |= static_cast<uint64_t>(bits) << m_count;
    m_count += count;
    while (m_count >= 8) {
      m_out->push_back(static_cast<uint8_t>(m_buffer));
      m_buffer >>= 8;
      m_count -= 8;
    }
  }
  // Huffman codes go most significant bit first.
  void PutCode(uint32_t code, int length) {
    uint32_t reversed = 0;
    for (int i = 0; i < length; ++i) reversed |= ((code >> i) & 1u) << (length - 1 - i);
    Put(reversed, length);
  }
  void Flush() {
    if (m_count > 0) m_out->push_back(static_cast<uint8_t>(m_buffer));
    m_buffer = 0;
    m_count = 0;
  }

 private:
  std::vector<uint8_t>* m_out;
  uint64_t m_buffer = 0;
  int m_count = 0;
};

void PutLiteralOrLength(CBitWriter& w, uint32_t symbol) {
  if (symbol <= 143)
    w.PutCode(0x30 + symbol, 8);
  else if (symbol <= 255)
    w.PutCode(0x190 + (symbol - 144), 9);
  else if (symbol <= 279)
    w.PutCode(symbol - 256, 7);
  else
    w.PutCode(0xC0 + (symbol - 280), 8);
}

void PutMatch(CBitWriter& w, size_t length, size_t distance) {
  int li = 28;
  while (kLenBase[li] > length) --li;
  PutLiteralOrLength(w, 257 + static_cast<uint32_t>(li));
  if (kLenExtra[li]) w.Put(static_cast<uint32_t>(length - kLenBase[li]), kLenExtra[li]);
  int di = 29;
  while (kDistBase[di] > distance) --di;
  w.PutCode(static_cast<uint32_t>(di), 5);
  if (kDistExtra[di]) w.Put(static_cast<uint32_t>(distance - kDistBase[di]), kDistExtra[di]);
}

uint32_t Hash3(const uint8_t* p) {
  const uint32_t v =
      (static_cast<uint32_t>(p[0]) << 16) | (static_cast<uint32_t>(p[1]) << 8) | p[2];
  return (v * 2654435761u) >> (32 - kHashBits);
}

}  // namespace

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc) {
  const uint32_t* table = CrcTable();
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

uint32_t Adler32(const uint8_t* data, size_t size, uint32_t adler) {
  uint32_t a = adler & 0xFFFF;
  uint32_t b = adler >> 16;
  while (size > 0) {
    // 5552 bytes is the most that cannot overflow before the modulo.
    size_t n = std::min<size_t>(size, 5552);
    size -= n;
    while (n--) {
      a += *data++;
      b += a;
    }
    a %= 65521;
    b %= 65521;
  }
  return (b << 16) | a;
}

std::vector<uint8_t> DeflateFixed(const uint8_t* data, size_t size) {
  std::vector<uint8_t> out;
  out.reserve(size / 8 + 64);
  CBitWriter w(&out);
  w.Put(1, 1);  // final block
  w.Put(1, 2);  // fixed Huffman codes

  std::vector<int64_t> head(size_t{1} << kHashBits, -1);
  std::vector<int64_t> prev(kWindow, -1);
  auto insert = [&](size_t pos) {
    if (pos + kMinMatch > size) return;
    const uint32_t h = Hash3(data + pos);
    prev[pos & (kWindow - 1)] = head[h];
    head[h] = static_cast<int64_t>(pos);
  };

  size_t i = 0;
  while (i < size) {
    size_t bestLen = 0;
    size_t bestDist = 0;
    if (i + kMinMatch <= size) {
      const size_t maxLen = std::min(kMaxMatch, size - i);
      int64_t cand = head[Hash3(data + i)];
      for (int chain = 0; cand >= 0 && chain < kMaxChain; ++chain) {
        const size_t c = static_cast<size_t>(cand);
        if (i - c > kWindow) break;
        size_t len = 0;
        while (len < maxLen && data[c + len] == data[i + len]) ++len;
        if (len > bestLen) {
          bestLen = len;
          bestDist = i - c;
          if (len == maxLen) break;
        }
        const int64_t next = prev[c & (kWindow - 1)];
        if (next >= cand) break;  // the slot was reused by a newer position
        cand = next;
      }
    }
    if (bestLen >= kMinMatch) {
      PutMatch(w, bestLen, bestDist);
      for (size_t k = 0; k < bestLen; ++k) insert(i + k);
      i += bestLen;
    } else {
      PutLiteralOrLength(w, data[i]);
      insert(i);
      ++i;
    }
  }
  PutLiteralOrLength(w, 256);  // end of block
  w.Flush();
  return out;
}

std::vector<uint8_t> ZlibCompress(const uint8_t* data, size_t size) {
  std::vector<uint8_t> out = {0x78, 0x01};  // deflate, 32 KB window, no dictionary
  const std::vector<uint8_t> body = DeflateFixed(data, size);
  out.insert(out.end(), body.begin(), body.end());
  const uint32_t adler = Adler32(data, size);
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(adler >> shift));
  return out;
}

}  // namespace vt
