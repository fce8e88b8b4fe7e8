// Classification of clusters (uncompressed view) and of blocks of many
// clusters (compressed view and overview strip).
#pragma once

#include <cstdint>

#include "map/map_state.h"

namespace vt {

struct CClusterClass {
  int m_nClass = CMC_NOT_FRAGMENTED;
  int m_nLevel = 0;  // low four bits, for the fragmented shade
};

// Class of one byte in the uncompressed view, by its high four bits.
CClusterClass ClassOfCluster(uint8_t state);

// Counter index of one sampled byte. Fragmented comes first, and the
// selection bit plays no part: the sampled views never show "Selected".
// An unknown byte (0x60) is in use, so it counts as unmovable before its
// 0x20 bit could make it look free.
inline int SampleClass(uint8_t state) {
  if (state & CMS_LEVEL_MASK) return CMC_FRAGMENTED;
  if ((state & CMS_UNKNOWN) == CMS_UNKNOWN) return CMC_UNMOVABLE;
  if (state & CMS_FREE) return CMC_FREE;
  if (state & CMS_DEFRAGGED) return CMC_DEFRAGGED;
  if (state & CMS_UNMOVABLE) return CMC_UNMOVABLE;
  return CMC_NOT_FRAGMENTED;
}

// The counter with the highest count; a tie goes to the higher index.
int WinningClass(const uint32_t counts[kSampledClassCount]);

struct CBlockClass {
  int m_nClass = CMC_NOT_FRAGMENTED;
  int m_nLevel = 0;      // level of the last byte sampled
  uint64_t m_nNext = 0;  // first cluster of the next block
  uint32_t m_nSamples = 0;
};

// Sampling step inside a block of k clusters: every cluster up to 100,
// else about 50 samples.
inline uint64_t BlockSampleStep(uint64_t k) { return k <= 100 ? 1 : k / 50; }

// Class of the block of k clusters starting at cluster t. Only clusters
// below `limit` are read (the volume's cluster count, within the array).
// t must be below limit.
CBlockClass ClassOfBlock(const uint8_t* bytes, uint64_t limit, uint64_t t, uint64_t k);

}  // namespace vt
