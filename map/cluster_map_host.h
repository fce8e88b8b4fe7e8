// The cluster map as the engine reaches it: rebuilt at the analysis
// checkpoints, told of every chunk that moved.
#pragma once

#include "engine/defrag.h"
#include "map/cluster_map.h"

namespace vt {

class CClusterMapHost : public IClusterMapHost {
 public:
  explicit CClusterMapHost(ClusterMap& map) : m_map(map) {}

  // They do nothing in the unattended run, where no map is shown.
  void RebuildMap(const CDefrag& engine) override { m_map.InitGrid(engine); }
  void MarkMove(uint64_t oldLcn, uint64_t newLcn, uint32_t count) override {
    m_map.MarkMove(oldLcn, newLcn, count);
  }
  void MarkUnmovable(const CFileItem& file) override { m_map.MarkUnmovable(file); }
  void ClearMarks() override { m_map.ClearMarks(); }

  ClusterMap& Map() { return m_map; }

 private:
  ClusterMap& m_map;
};

}  // namespace vt
