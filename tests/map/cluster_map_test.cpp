#include "map/cluster_map.h"

#include <gtest/gtest.h>

#include <vector>

#include "engine/globals.h"
#include "map/cluster_map_host.h"
#include "map/map_classify.h"
#include "map_test_util.h"
#include "platform/recording.h"

namespace vt {
namespace {

std::vector<uint8_t> Bytes(const ClusterMap& map) {
  std::vector<uint8_t> out;
  auto snap = map.Snapshot();
  if (!snap) return out;
  for (uint32_t i = 0; i < snap->Length(); ++i) out.push_back(snap->Get(i));
  return out;
}

class RecordingView : public IClusterMapView {
 public:
  void OnMapRebuilt() override { ++rebuilt; }
  void OnMoveMarked(uint64_t cluster) override { moves.push_back(cluster); }
  int rebuilt = 0;
  std::vector<uint64_t> moves;
};

class ClusterMapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetUnattended(false);
    SetCancel(false);
  }
  void TearDown() override {
    SetUnattended(false);
    SetCancel(false);
  }
  CGrowableArray<CClusterItem> free_;
  CGrowableArray<CFileItem> files_;
};

TEST_F(ClusterMapTest, LevelIsFragmentsMinusOneCappedAt15) {
  files_.Add(MapFile({{0, 2}}));
  files_.Add(MapFile({{2, 1}, {4, 1}}));
  CFileItem sixteen;
  for (int i = 0; i < 16; ++i) sixteen.m_fragments.Add({uint64_t(10 + 2 * i), 1});
  files_.Add(sixteen);
  CFileItem many;
  for (int i = 0; i < 300; ++i) many.m_fragments.Add({uint64_t(100 + 2 * i), 1});
  files_.Add(many);
  files_.Add(MapFile({{60, 3}}, FI_UNMOVABLE));
  ClusterMap map;
  map.InitGrid(free_, files_, 1000);
  auto b = Bytes(map);
  ASSERT_EQ(b.size(), 1001u);
  EXPECT_EQ(b[0], 0);
  EXPECT_EQ(b[1], 0);
  EXPECT_EQ(b[2], 1);
  EXPECT_EQ(b[3], CMS_UNKNOWN);
  EXPECT_EQ(b[4], 1);
  EXPECT_EQ(b[10], 15);
  EXPECT_EQ(b[40], 15);
  EXPECT_EQ(b[100], 15);
  EXPECT_EQ(b[698], 15);
  EXPECT_EQ(b[60], CMS_UNMOVABLE);
  EXPECT_EQ(b[62], CMS_UNMOVABLE);
  EXPECT_EQ(b[63], CMS_UNKNOWN);
}

TEST_F(ClusterMapTest, RunsThatDoNotFitAreSkippedNotClipped) {
  // Volume of 100 clusters: the map has 101 bytes.
  free_.Add(MapRun(90, 10));                  // ends exactly at the last cluster: painted
  free_.Add(MapRun(50, 51));                  // one cluster too long: skipped entirely
  free_.Add(MapRun(20, 5, RUN_MERGED));       // merged into its neighbour: not free
  files_.Add(MapFile({{0, 5}, {~0ull, 3}}));  // a virtual extent
  files_.Add(MapFile({{95, 6}}));
  ClusterMap map;
  map.InitGrid(free_, files_, 100);
  auto b = Bytes(map);
  ASSERT_EQ(b.size(), 101u);
  for (int i = 90; i < 100; ++i) EXPECT_EQ(b[i], CMS_FREE) << i;
  for (int i = 50; i < 90; ++i) EXPECT_EQ(b[i], CMS_UNKNOWN) << i;
  for (int i = 20; i < 25; ++i) EXPECT_EQ(b[i], CMS_UNKNOWN) << i;
  for (int i = 0; i < 5; ++i) EXPECT_EQ(b[i], 1) << i;  // two fragments: level 1
  EXPECT_EQ(b[100], CMS_UNKNOWN);
}

TEST_F(ClusterMapTest, FilesWinOverFreeRunsAndLaterFilesOverEarlierOnes) {
  free_.Add(MapRun(0, 20));
  files_.Add(MapFile({{5, 5}, {30, 1}}));  // level 1
  files_.Add(MapFile({{8, 4}}));           // level 0, overwrites 8..11
  ClusterMap map;
  RecordingView view;
  map.SetView(&view);
  map.SetLeftClickCluster(7);
  map.SetRightClickCluster(9);
  map.InitGrid(free_, files_, 40);
  auto b = Bytes(map);
  EXPECT_EQ(b[4], CMS_FREE);
  EXPECT_EQ(b[5], 1);
  EXPECT_EQ(b[7], 1);
  EXPECT_EQ(b[8], 0);
  EXPECT_EQ(b[11], 0);
  EXPECT_EQ(b[12], CMS_FREE);
  EXPECT_EQ(view.rebuilt, 1);
  EXPECT_EQ(map.LeftClickCluster(), kNoCluster);
  EXPECT_EQ(map.RightClickCluster(), kNoCluster);
}

TEST_F(ClusterMapTest, ExtractMapRunsTurnsUnclaimedAreasIntoListedUnmovableRuns) {
  free_.Add(MapRun(0, 10));
  files_.Add(MapFile({{10, 5}}));
  free_.Add(MapRun(20, 10));
  files_.Add(MapFile({{33, 7}}));
  ClusterMap map;
  map.InitGrid(free_, files_, 40);
  // Before the extraction an unclaimed area already draws as Unmovable.
  EXPECT_EQ(ClassOfCluster(Bytes(map)[16]).m_nClass, CMC_UNMOVABLE);
  CGrowableArray<CClusterItem> runs;
  runs.Add(MapRun(999, 1, RUN_MAP));  // stale: replaced
  map.ExtractMapRuns(runs);
  ASSERT_EQ(runs.GetSize(), 3u);
  EXPECT_EQ(runs[0].m_nLcn, 15u);
  EXPECT_EQ(runs[0].m_nClusters, 5u);
  EXPECT_EQ(runs[0].m_nState, RUN_MAP);
  EXPECT_EQ(runs[1].m_nLcn, 30u);
  EXPECT_EQ(runs[1].m_nClusters, 3u);
  // The spare byte after the last cluster is scanned too.
  EXPECT_EQ(runs[2].m_nLcn, 40u);
  EXPECT_EQ(runs[2].m_nClusters, 1u);
  auto b = Bytes(map);
  for (int i = 15; i < 20; ++i) EXPECT_EQ(b[i], CMS_UNMOVABLE);
  EXPECT_EQ(b[40], CMS_UNMOVABLE);
  EXPECT_EQ(b[14], 0);
}

class FailingMap : public ClusterMap {
 public:
  using ClusterMap::ClusterMap;
  bool fail = true;

 protected:
  bool MakeBytes(uint64_t n, CMapStorage* out) override {
    if (fail) return false;
    return ClusterMap::MakeBytes(n, out);
  }
};

TEST_F(ClusterMapTest, AllocationFailureShowsTheMessageCancelsAndLeavesTheMapEmpty) {
  CScriptedPrompt prompt;
  RecordingView view;
  FailingMap map(&prompt, &view);
  map.fail = false;
  ASSERT_TRUE(map.Allocate(50));
  EXPECT_EQ(Bytes(map), std::vector<uint8_t>(50, CMS_UNMOVABLE));
  map.fail = true;
  map.InitGrid(free_, files_, 100);
  EXPECT_TRUE(map.IsEmpty());
  EXPECT_TRUE(IsCancelled());
  ASSERT_EQ(prompt.Prompts().size(), 1u);
  EXPECT_EQ(prompt.Prompts()[0].text, "Unable to allocate memory for grid.");
  EXPECT_TRUE(prompt.Prompts()[0].type & MB_ICONERROR);
  EXPECT_EQ(view.rebuilt, 0);
  SetCancel(false);
  EXPECT_FALSE(map.Allocate(10));
  EXPECT_TRUE(IsCancelled());
}

TEST_F(ClusterMapTest, UnattendedRunNeitherBuildsNorMarksTheMap) {
  files_.Add(MapFile({{0, 5}}));
  ClusterMap map;
  RecordingView view;
  map.SetView(&view);
  SetUnattended(true);
  map.InitGrid(free_, files_, 20);
  EXPECT_TRUE(map.IsEmpty());
  SetUnattended(false);
  map.InitGrid(free_, files_, 20);
  SetUnattended(true);
  CClusterMapHost host(map);
  host.MarkMove(0, 10, 2);
  EXPECT_EQ(Bytes(map)[10], CMS_UNKNOWN);
  EXPECT_TRUE(view.moves.empty());
}

TEST_F(ClusterMapTest, MarkMoveFreesTheOldPlaceAndMarksTheNewOne) {
  files_.Add(MapFile({{0, 4}, {10, 4}}));
  free_.Add(MapRun(20, 10));
  ClusterMap map;
  RecordingView view;
  map.SetView(&view);
  map.InitGrid(free_, files_, 40);
  CClusterMapHost host(map);
  host.MarkMove(10, 20, 4);
  auto b = Bytes(map);
  for (int i = 10; i < 14; ++i) EXPECT_EQ(b[i], CMS_FREE);
  for (int i = 20; i < 24; ++i) EXPECT_EQ(b[i], CMS_DEFRAGGED);
  EXPECT_EQ(b[24], CMS_FREE);
  ASSERT_EQ(view.moves.size(), 1u);
  EXPECT_EQ(view.moves[0], 24u);
  // Moves that reach the spare byte or past it are ignored.
  host.MarkMove(0, 37, 4);
  host.MarkMove(~0ull - 1, 5, 4);
  host.MarkMove(0, ~0ull - 1, 4);
  EXPECT_EQ(Bytes(map), b);
  EXPECT_EQ(view.moves.size(), 1u);
}

TEST_F(ClusterMapTest, SelectionMarksAndClearsOnlyTheSelectedClusters) {
  files_.Add(MapFile({{10, 3}, {2, 2}}));
  free_.Add(MapRun(20, 5));
  ClusterMap map;
  map.InitGrid(free_, files_, 40);
  const auto before = Bytes(map);

  map.ClearSelection();  // nothing selected: nothing changes
  EXPECT_EQ(Bytes(map), before);
  EXPECT_EQ(map.DirtyLow(), 0xFFFFFFFFu);
  EXPECT_EQ(map.DirtyHigh(), 0u);

  map.SelectFile(files_[0]);
  EXPECT_EQ(map.DirtyLow(), 2u);
  EXPECT_EQ(map.DirtyHigh(), 13u);
  auto b = Bytes(map);
  EXPECT_EQ(b[2], CMS_SELECTED | 1);
  EXPECT_EQ(b[12], CMS_SELECTED | 1);
  EXPECT_EQ(b[5], CMS_UNKNOWN);
  EXPECT_EQ(ClassOfCluster(b[12]).m_nClass, CMC_SELECTED);

  map.SelectRun(MapRun(20, 5));
  map.SelectRun(MapRun(30, 2, RUN_MERGED));  // merged runs are not marked
  EXPECT_EQ(map.DirtyHigh(), 25u);
  b = Bytes(map);
  EXPECT_EQ(b[30], CMS_UNKNOWN);
  // A selected free run: Selected in the uncompressed view, Free when sampled.
  EXPECT_EQ(ClassOfCluster(b[21]).m_nClass, CMC_SELECTED);
  EXPECT_EQ(ClassOfBlock(map.Snapshot()->Data(), 40, 20, 5).m_nClass, CMC_FREE);

  map.ClearSelection();
  EXPECT_EQ(Bytes(map), before);
  EXPECT_EQ(map.DirtyLow(), 0xFFFFFFFFu);
}

TEST_F(ClusterMapTest, ClearMarksDropsSelectionAndDefraggedBits) {
  files_.Add(MapFile({{0, 3}, {5, 3}}));
  free_.Add(MapRun(10, 10));
  ClusterMap map;
  map.InitGrid(free_, files_, 30);
  map.MarkMove(5, 10, 3);
  map.SelectRun(MapRun(10, 5));
  map.ClearMarks();
  auto b = Bytes(map);
  EXPECT_EQ(b[10], 0);  // was defragged and selected
  EXPECT_EQ(b[14], CMS_FREE);
  EXPECT_EQ(b[5], CMS_FREE);
  EXPECT_EQ(b[0], 1);
  EXPECT_EQ(b[25], CMS_UNKNOWN);
}

TEST_F(ClusterMapTest, ARebuildIsANewArrayAndOldSnapshotsStayValid) {
  files_.Add(MapFile({{0, 5}}));
  ClusterMap map;
  map.InitGrid(free_, files_, 10);
  CMapSnapshot old = map.Snapshot();
  files_[0].m_fragments[0].m_nLcn = 3;
  map.InitGrid(free_, files_, 100);
  EXPECT_NE(map.Snapshot().get(), old.get());
  EXPECT_EQ(old->Length(), 11u);
  EXPECT_EQ(old->Get(0), 0);
  EXPECT_EQ(map.Length(), 101u);
  EXPECT_EQ(map.Snapshot()->Get(0), CMS_UNKNOWN);
}

TEST_F(ClusterMapTest, BlockSizeStaysWithinOneToTen) {
  ClusterMap map;
  EXPECT_EQ(map.BlockSize(), 7);
  EXPECT_TRUE(map.IsCompressed());
  map.SetBlockSize(0);
  EXPECT_EQ(map.BlockSize(), 1);
  map.SetBlockSize(11);
  EXPECT_EQ(map.BlockSize(), 10);
}

}  // namespace
}  // namespace vt
