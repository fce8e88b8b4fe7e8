#include "map/map_painter.h"

namespace vt {

std::vector<CBlockRun> MapBlockRuns(const CMapBytes* bytes, const CMapGeometry& g,
                                    uint64_t position) {
  std::vector<CBlockRun> runs;
  WalkMapBlockRuns(bytes, g, position, [&](const CBlockRun& run) { runs.push_back(run); });
  return runs;
}

}  // namespace vt
