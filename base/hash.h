// FNV-1a, for names and keys that must stay the same from run to run.
#pragma once

#include <cstdint>
#include <string>

namespace vt {

constexpr uint64_t kFnv1aOffset = 0xCBF29CE484222325ULL;

// Continues `hash` over the bytes of `text`.
inline uint64_t Fnv1a(const std::string& text, uint64_t hash = kFnv1aOffset) {
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 0x100000001B3ULL;
  }
  return hash;
}

}  // namespace vt
