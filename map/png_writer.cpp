#include "map/png_writer.h"

#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vt {

namespace {

void PutBe32(std::vector<uint8_t>* out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<uint8_t>(v >> shift));
}

void PutChunk(std::vector<uint8_t>* out, const char type[4], const std::vector<uint8_t>& data) {
  PutBe32(out, static_cast<uint32_t>(data.size()));
  const size_t start = out->size();
  out->insert(out->end(), type, type + 4);
  out->insert(out->end(), data.begin(), data.end());
  PutBe32(out, static_cast<uint32_t>(
                   crc32(0L, out->data() + start, static_cast<uInt>(out->size() - start))));
}

}  // namespace

std::vector<uint8_t> EncodePng(const CRgbImage& image) {
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> out(kSignature, kSignature + 8);

  std::vector<uint8_t> header;
  PutBe32(&header, static_cast<uint32_t>(image.Width()));
  PutBe32(&header, static_cast<uint32_t>(image.Height()));
  header.push_back(8);  // bits per channel
  header.push_back(2);  // truecolour
  header.push_back(0);  // deflate
  header.push_back(0);  // adaptive filtering, filter type 0 on every row
  header.push_back(0);  // no interlace
  PutChunk(&out, "IHDR", header);

  const size_t stride = static_cast<size_t>(image.Width()) * 3;
  std::vector<uint8_t> raw;
  raw.reserve((stride + 1) * static_cast<size_t>(image.Height()));
  const uint8_t* pixels = image.Pixels().data();
  for (int y = 0; y < image.Height(); ++y) {
    raw.push_back(0);
    raw.insert(raw.end(), pixels + stride * y, pixels + stride * (y + 1));
  }
  // zlib counts in uLong, which is 32 bits on Windows.
  if (raw.size() > 0xFFFFFFFFull / 2) return {};
  std::vector<uint8_t> packed(compressBound(static_cast<uLong>(raw.size())));
  uLongf packedSize = static_cast<uLongf>(packed.size());
  if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()),
                Z_BEST_COMPRESSION) != Z_OK) {
    return {};
  }
  packed.resize(packedSize);
  PutChunk(&out, "IDAT", packed);
  PutChunk(&out, "IEND", {});
  return out;
}

bool WritePngFile(const CRgbImage& image, const std::string& path, std::string* error) {
  if (image.Width() <= 0 || image.Height() <= 0) {
    if (error) *error = "the picture has no pixels";
    return false;
  }
  const std::vector<uint8_t> png = EncodePng(image);
  if (png.empty()) {
    if (error) *error = "the picture is too large to compress";
    return false;
  }
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    if (error) *error = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  const bool written = std::fwrite(png.data(), 1, png.size(), f) == png.size();
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed) {
    if (error) *error = "cannot write " + path;
    std::remove(path.c_str());
    return false;
  }
  return true;
}

}  // namespace vt
