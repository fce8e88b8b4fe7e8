// The overview strip: the whole volume in one pixel column per slice of
// clusters, each column coloured by the class most of its samples have.
#pragma once

#include <cstdint>
#include <vector>

#include "map/map_colours.h"

namespace vt {

class CMapBytes;

struct COverviewSampling {
  uint64_t m_nClustersPerColumn = 0;  // n / w
  uint64_t m_nDivisor = 0;
  uint64_t m_nStep = 1;              // clusters between samples, at least 1
  uint64_t m_nSamplesPerColumn = 1;  // at least 1
};

// Larger volumes get fewer samples per column.
COverviewSampling OverviewSampling(uint64_t mapLength, int width);

// One strip colour per column for `width` columns. Columns the samples do
// not reach keep the map background. An empty map or width gives nothing
// painted: all background (or an empty row for width 0).
std::vector<CRgb> SampleOverview(const uint8_t* bytes, uint64_t mapLength, int width);
std::vector<CRgb> SampleOverview(const CMapBytes* bytes, int width);

// The marker's outer rectangle in strip columns, [left, right], for the
// visible range first..last; false when no marker is drawn.
bool OverviewMarker(uint64_t mapLength, int width, uint64_t first, uint64_t last, int* left,
                    int* right);

}  // namespace vt
