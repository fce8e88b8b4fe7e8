#include "map/map_classify.h"

namespace vt {

CClusterClass ClassOfCluster(uint8_t state) {
  CClusterClass out;
  out.m_nLevel = state & CMS_LEVEL_MASK;
  switch (state & 0xF0) {
    case 0x10:
      out.m_nClass = CMC_DEFRAGGED;
      break;
    case 0x20:
      out.m_nClass = CMC_FREE;
      break;
    case 0x40:
    case 0x60:
      out.m_nClass = CMC_UNMOVABLE;
      break;
    case 0x80:
    case 0x90:
    case 0xA0:
    case 0xC0:
      out.m_nClass = CMC_SELECTED;
      break;
    default:
      out.m_nClass = out.m_nLevel != 0 ? CMC_FRAGMENTED : CMC_NOT_FRAGMENTED;
      break;
  }
  return out;
}

int WinningClass(const uint32_t counts[kSampledClassCount]) {
  int best = 0;
  for (int i = 1; i < kSampledClassCount; ++i) {
    if (counts[i] >= counts[best]) best = i;
  }
  return best;
}

CBlockClass ClassOfBlock(const uint8_t* bytes, uint64_t limit, uint64_t t, uint64_t k) {
  CBlockClass out;
  if (k == 0) k = 1;
  const uint64_t step = BlockSampleStep(k);
  const uint64_t samples = k / step;  // the remainder k % step is skipped
  uint32_t counts[kSampledClassCount] = {};
  uint8_t last = 0;
  uint64_t i = t;
  for (uint64_t n = 0; n < samples && i < limit; ++n, i += step) {
    last = LoadMapByte(bytes + i);
    ++counts[SampleClass(last)];
    ++out.m_nSamples;
  }
  out.m_nClass = WinningClass(counts);
  out.m_nLevel = last & CMS_LEVEL_MASK;
  out.m_nNext = t + k;
  return out;
}

}  // namespace vt
