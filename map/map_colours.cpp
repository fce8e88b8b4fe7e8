#include "map/map_colours.h"

namespace vt {

namespace {
uint8_t AddCapped(int v, int add) { return static_cast<uint8_t>(v + add > 255 ? 255 : v + add); }
}  // namespace

CRgb ClassColour(int mapClass, int level, int blockSize) {
  const bool large = blockSize > 2;
  switch (mapClass) {
    case CMC_FREE:
      return large ? CRgb{240, 240, 240} : CRgb{255, 255, 255};
    case CMC_UNMOVABLE:
      return large ? CRgb{0, 160, 160} : CRgb{0, 255, 255};
    case CMC_SELECTED:
      return large ? CRgb{160, 160, 0} : CRgb{255, 255, 0};
    case CMC_DEFRAGGED:
      return CRgb{0, 160, 0};
    case CMC_FRAGMENTED:
      return CRgb{static_cast<uint8_t>(100 + 10 * (level & CMS_LEVEL_MASK)), 16, 0};
    case CMC_NOT_FRAGMENTED:
      return CRgb{48, 48, 160};
    default:
      return kMapBackground;
  }
}

CRgb LegendColour(int mapClass) {
  switch (mapClass) {
    case CMC_FREE:
      return CRgb{255, 255, 255};
    case CMC_UNMOVABLE:
      return CRgb{0, 255, 255};
    case CMC_SELECTED:
      return CRgb{255, 255, 0};
    case CMC_DEFRAGGED:
      return CRgb{0, 160, 0};
    case CMC_FRAGMENTED:
      return CRgb{208, 0, 0};
    case CMC_NOT_FRAGMENTED:
      return CRgb{48, 48, 160};
    default:
      return kMapBackground;
  }
}

const char* LegendText(int mapClass) {
  switch (mapClass) {
    case CMC_FREE:
      return "Free";
    case CMC_UNMOVABLE:
      return "Unmovable";
    case CMC_SELECTED:
      return "Selected";
    case CMC_DEFRAGGED:
      return "Defragged";
    case CMC_FRAGMENTED:
      return "Fragmented";
    case CMC_NOT_FRAGMENTED:
      return "Not fragmented";
    default:
      return "";
  }
}

CRgb LightenForOverview(CRgb c) {
  auto one = [](uint8_t v) { return static_cast<uint8_t>(v < 184 ? v + 72 : 255); };
  return CRgb{one(c.r), one(c.g), one(c.b)};
}

CRgb OverviewColour(int mapClass) { return LightenForOverview(LegendColour(mapClass)); }

CRgb StripRowColour(CRgb c, int row, int blockSize) {
  if (blockSize < 1) blockSize = 1;
  const int add = row * (144 / blockSize);
  return CRgb{AddCapped(c.r, add), AddCapped(c.g, add), AddCapped(c.b, add)};
}

}  // namespace vt
