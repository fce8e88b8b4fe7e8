// The cluster map's state byte and the colour classes a block is drawn in.
#pragma once

#include <cstdint>

namespace vt {

// One state byte per cluster.
enum : uint8_t {
  CMS_LEVEL_MASK = 0x0F,  // fragmentation level of the owning file, 0..15
  CMS_DEFRAGGED = 0x10,   // received moved data since the last rebuild or ClearMarks
  CMS_FREE = 0x20,
  CMS_UNMOVABLE = 0x40,
  CMS_UNKNOWN = 0x60,  // in use, owner not (yet) known
  CMS_SELECTED = 0x80,
};

// Colour classes. The first five are also the counter indices of the
// compressed view's sampling, whose ties go to the higher index.
enum CMapClass : int {
  CMC_FREE = 0,
  CMC_DEFRAGGED = 1,
  CMC_UNMOVABLE = 2,
  CMC_FRAGMENTED = 3,
  CMC_NOT_FRAGMENTED = 4,
  CMC_SELECTED = 5,
};
constexpr int kSampledClassCount = 5;
constexpr int kMapClassCount = 6;

// "No cluster" for the click clusters.
constexpr uint64_t kNoCluster = ~uint64_t{0};

// Whole-byte access to a map array that another thread may be painting from
// or writing to: relaxed atomics cost nothing on the byte loads and stores
// themselves and make the sharing well defined.
inline uint8_t LoadMapByte(const uint8_t* p) { return __atomic_load_n(p, __ATOMIC_RELAXED); }
inline void StoreMapByte(uint8_t* p, uint8_t v) { __atomic_store_n(p, v, __ATOMIC_RELAXED); }

}  // namespace vt
