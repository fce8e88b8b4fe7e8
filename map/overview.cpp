#include "map/overview.h"

#include <algorithm>

#include "map/cluster_map.h"
#include "map/map_classify.h"

namespace vt {

COverviewSampling OverviewSampling(uint64_t n, int width) {
  COverviewSampling s;
  const uint64_t w = width > 0 ? static_cast<uint64_t>(width) : 1;
  s.m_nClustersPerColumn = n / w;
  if (n <= 1048576)
    s.m_nDivisor = s.m_nClustersPerColumn;  // every cluster is read
  else if (n <= 10485760)
    s.m_nDivisor = 1000;
  else if (n <= 20971520)
    s.m_nDivisor = 100;
  else if (n <= 104857600)
    s.m_nDivisor = 20;
  else
    s.m_nDivisor = 4;
  // A map narrower than the strip has no clusters per column: read every one.
  s.m_nStep = s.m_nDivisor != 0 ? s.m_nClustersPerColumn / s.m_nDivisor : 1;
  if (s.m_nStep < 1) s.m_nStep = 1;
  s.m_nSamplesPerColumn = std::max<uint64_t>(1, n / s.m_nStep / w);
  return s;
}

std::vector<CRgb> SampleOverview(const uint8_t* bytes, uint64_t n, int width) {
  std::vector<CRgb> row(static_cast<size_t>(std::max(width, 0)), kMapBackground);
  if (width <= 0 || n == 0 || bytes == nullptr) return row;
  const COverviewSampling s = OverviewSampling(n, width);
  uint32_t counts[kSampledClassCount] = {};
  uint64_t taken = 0;
  size_t x = 0;
  for (uint64_t i = 0; i < n && x < row.size(); i += s.m_nStep) {
    ++counts[SampleClass(LoadMapByte(bytes + i))];
    if (++taken == s.m_nSamplesPerColumn) {
      row[x++] = OverviewColour(WinningClass(counts));
      std::fill(counts, counts + kSampledClassCount, 0u);
      taken = 0;
    }
  }
  return row;
}

std::vector<CRgb> SampleOverview(const CMapBytes* bytes, int width) {
  if (!bytes) return SampleOverview(nullptr, 0, width);
  return SampleOverview(bytes->Data(), bytes->Length(), width);
}

bool OverviewMarker(uint64_t n, int width, uint64_t first, uint64_t last, int* left, int* right) {
  if (width <= 0 || n == 0 || last <= first) return false;
  const uint64_t c = std::max<uint64_t>(1, n / static_cast<uint64_t>(width));
  const uint64_t w = static_cast<uint64_t>(width);
  const uint64_t firstCol = first / c;
  const uint64_t l = firstCol < 2 ? 0 : firstCol - 2;
  const uint64_t r = std::min(std::min(w, last / c) + 2, w);
  *left = static_cast<int>(std::min(l, w));
  *right = static_cast<int>(r);
  return true;
}

}  // namespace vt
