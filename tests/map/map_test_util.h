// Building engine lists for the map tests.
#pragma once

#include <initializer_list>
#include <string>

#include "engine/records.h"

namespace vt {

inline CFileItem MapFile(std::initializer_list<CFileClusterItem> fragments, uint16_t flags = 0) {
  CFileItem item;
  for (const auto& f : fragments) item.m_fragments.Add(f);
  item.m_wFlags = flags;
  return item;
}

inline CClusterItem MapRun(uint64_t lcn, uint32_t clusters, uint32_t state = RUN_FREE) {
  CClusterItem r;
  r.m_nLcn = lcn;
  r.m_nClusters = clusters;
  r.m_nState = state;
  return r;
}

}  // namespace vt
