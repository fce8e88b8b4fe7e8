// A painter thread reading the map while a worker rebuilds and marks it.
// Run under ThreadSanitizer to prove the publication is race-free.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "map/cluster_map.h"
#include "map/map_geometry.h"
#include "map/map_painter.h"
#include "map/overview.h"
#include "map_test_util.h"

namespace vt {
namespace {

TEST(ClusterMapConcurrency, PainterNeverSeesAFreedOrHalfBuiltArray) {
  ClusterMap map;
  std::atomic<bool> done{false};
  std::atomic<long> paints{0};
  std::atomic<long> badSnapshots{0};

  std::thread painter([&] {
    while (!done.load()) {
      CMapSnapshot snap = map.Snapshot();
      if (!snap) continue;
      // Every rebuild fills cluster 0 with a file of level 1 before it is
      // published; a half-built array would still show it unknown.
      if (snap->Get(0) == CMS_UNKNOWN) ++badSnapshots;
      const CMapGeometry compressed(300, 200, 3, true, snap->Length());
      MapBlockRuns(snap.get(), compressed, 0);
      const CMapGeometry plain(300, 200, 3, false, snap->Length());
      MapBlockRuns(snap.get(), plain, 1);
      SampleOverview(snap.get(), 120);
      ++paints;
    }
  });

  CGrowableArray<CClusterItem> freeRuns;
  CGrowableArray<CFileItem> files;
  for (int round = 0; round < 200; ++round) {
    const uint64_t total = 20000 + static_cast<uint64_t>(round % 7) * 3000;
    freeRuns.RemoveAll();
    files.RemoveAll();
    files.Add(MapFile({{0, 10}, {100, 10}}));
    freeRuns.Add(MapRun(200, static_cast<uint32_t>(total / 2)));
    map.InitGrid(freeRuns, files, total);
    for (uint64_t c = 0; c + 20 < total / 2; c += 997) map.MarkMove(200 + c, 100 + c % 50, 8);
    map.SelectRun(MapRun(300, 500));
    map.ClearSelection();
    if (round % 10 == 0) {
      CGrowableArray<CClusterItem> mapRuns;
      map.ExtractMapRuns(mapRuns);
      map.ClearMarks();
    }
  }
  // Let the painter see the final map at least once.
  const long seen = paints.load();
  while (paints.load() < seen + 2) std::this_thread::yield();
  done = true;
  painter.join();
  EXPECT_EQ(badSnapshots.load(), 0);
  EXPECT_GT(paints.load(), 0);
}

}  // namespace
}  // namespace vt
