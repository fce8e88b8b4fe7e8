// Colours of the map's classes, the overview strip and the legend.
#pragma once

#include <cstdint>

#include "map/map_state.h"

namespace vt {

struct CRgb {
  uint8_t r = 0;
  uint8_t g = 0;
  uint8_t b = 0;
  bool operator==(const CRgb& o) const { return r == o.r && g == o.g && b == o.b; }
  bool operator!=(const CRgb& o) const { return !(*this == o); }
};

// Map window background, empty map and grid lines.
constexpr CRgb kMapBackground{200, 206, 214};
// Main window background around the strip and behind the legend.
constexpr CRgb kWindowBackground{0, 0, 221};
// Marker of the map's visible range on the overview strip.
constexpr CRgb kOverviewMarker{238, 238, 0};

// Block colour of a class; Fragmented takes the shade of the level, and
// Free, Unmovable and Selected their large-block variants above size 2.
CRgb ClassColour(int mapClass, int level, int blockSize);
// The colour the legend shows for a class (Fragmented as one red).
CRgb LegendColour(int mapClass);
// The legend's text for a class.
const char* LegendText(int mapClass);
// The overview strip's lightened class colour.
CRgb OverviewColour(int mapClass);
// Each channel below 184 gets 72 added, the rest become 255.
CRgb LightenForOverview(CRgb c);
// Pixel row r of a block strip: brightened by r * (144 / blockSize), capped.
CRgb StripRowColour(CRgb c, int row, int blockSize);

}  // namespace vt
