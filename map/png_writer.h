// PNG encoding of an RGB image (8 bits per channel, no interlace).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "map/rgb_image.h"

namespace vt {

// Empty when the pixels cannot be compressed (a picture over 2 GB).
std::vector<uint8_t> EncodePng(const CRgbImage& image);
// Writes the encoded image to path; on failure false with the reason.
bool WritePngFile(const CRgbImage& image, const std::string& path, std::string* error);

}  // namespace vt
