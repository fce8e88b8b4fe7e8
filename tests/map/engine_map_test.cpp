// The map over a real analysis: every cluster a file owns carries its
// level, free clusters are free, and the rest becomes map runs.
#include <gtest/gtest.h>

#include "map/cluster_map.h"
#include "map/cluster_map_host.h"
#include "tests/support/engine_fixture.h"

namespace vt {
namespace test {
namespace {

class MapOverAnalysis : public EngineTest {};

TEST_F(MapOverAnalysis, AgreesClusterByClusterWithTheVolume) {
  volume.totalClusters = 400;
  volume.used.assign(400, 0);
  // A file in three pieces, a contiguous one, a folder, and an area in use
  // that no file claims (as system metadata would be).
  volume.root.AddFile("three.bin", 9 * 4096, {{3, 10}, {6, 50}, {9, 200}});
  volume.root.AddFile("whole.bin", 5 * 4096, {{5, 100}});
  FakeNode* folder = volume.root.AddFolder("Data");
  folder->extents = {{1, 300}};
  folder->AddFile("inner.txt", 100, {{1, 301}});
  volume.SetUsed(10, 3);
  volume.SetUsed(50, 3);
  volume.SetUsed(200, 3);
  volume.SetUsed(100, 5);
  volume.SetUsed(300, 2);
  volume.SetUsed(350, 20);  // claimed by nobody

  ClusterMap map;
  CClusterMapHost host(map);
  engine->SetMapHost(&host);
  ASSERT_TRUE(Analyze());
  // What the drive page does when the analysis ends.
  map.InitGrid(*engine);
  map.ExtractMapRuns(*engine);

  auto snap = map.Snapshot();
  ASSERT_TRUE(snap);
  ASSERT_EQ(snap->Length(), engine->m_nTotalClusters + 1);
  std::vector<int> expected(snap->Length(), -1);
  for (const CFileItem& f : engine->m_files) {
    const size_t n = f.m_fragments.GetSize();
    for (const auto& frag : f.m_fragments) {
      for (uint64_t c = frag.m_nLcn; c < frag.m_nLcn + frag.m_nClusters; ++c)
        expected[c] =
            f.IsUnmovable() ? CMS_UNMOVABLE : static_cast<int>(std::min<size_t>(n - 1, 15));
    }
  }
  for (uint64_t c = 0; c < volume.totalClusters; ++c) {
    if (!volume.used[c]) {
      EXPECT_EQ(snap->Get(static_cast<uint32_t>(c)), CMS_FREE) << c;
    } else if (expected[c] >= 0) {
      EXPECT_EQ(snap->Get(static_cast<uint32_t>(c)), expected[c]) << c;
    } else {
      EXPECT_EQ(snap->Get(static_cast<uint32_t>(c)), CMS_UNMOVABLE) << c;
      CClusterItem run;
      EXPECT_TRUE(engine->FindMapRunAtCluster(c, &run)) << c;
      EXPECT_EQ(run.m_nState, RUN_MAP);
    }
  }
  EXPECT_EQ(snap->Get(10), 2);  // three fragments: level 2
  EXPECT_EQ(snap->Get(100), 0);
  CClusterItem run;
  ASSERT_TRUE(engine->FindMapRunAtCluster(355, &run));
  EXPECT_EQ(run.m_nLcn, 350u);
  EXPECT_EQ(run.m_nClusters, 20u);
}

TEST_F(MapOverAnalysis, AFileThatFailsToOpenForItsMoveShowsUnmovable) {
  volume.totalClusters = 100;
  volume.used.assign(100, 0);
  FakeNode* locked = volume.root.AddFile("locked.bin", 4 * 4096, {{2, 10}, {4, 20}});
  volume.SetUsed(10, 2);
  volume.SetUsed(20, 2);
  ClusterMap map;
  CClusterMapHost host(map);
  engine->SetMapHost(&host);
  ASSERT_TRUE(Analyze());
  map.InitGrid(*engine);
  EXPECT_EQ(map.Snapshot()->Get(10), 1);  // two fragments
  locked->openError = ERROR_SHARING_VIOLATION;
  engine->DefragDrive(AllFiles, true, 0, 0, {});
  auto snap = map.Snapshot();
  for (uint32_t lcn : {10u, 11u, 20u, 21u}) EXPECT_EQ(snap->Get(lcn), CMS_UNMOVABLE) << lcn;
  EXPECT_EQ(snap->Get(12), CMS_FREE);
}

}  // namespace
}  // namespace test
}  // namespace vt
