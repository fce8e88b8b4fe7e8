#include <gtest/gtest.h>

#include <vector>

#include "map/cluster_map.h"
#include "map/map_painter.h"
#include "map/overview.h"

namespace vt {
namespace {

TEST(OverviewSampling, DivisorFollowsTheMapLength) {
  // 1,000,000 clusters on 500 columns: every cluster is read.
  COverviewSampling s = OverviewSampling(1000000, 500);
  EXPECT_EQ(s.m_nClustersPerColumn, 2000u);
  EXPECT_EQ(s.m_nStep, 1u);
  EXPECT_EQ(s.m_nSamplesPerColumn, 2000u);
  // 200,000,000 clusters: divisor 4, step 100,000, 4 samples per column.
  s = OverviewSampling(200000000, 500);
  EXPECT_EQ(s.m_nDivisor, 4u);
  EXPECT_EQ(s.m_nStep, 100000u);
  EXPECT_EQ(s.m_nSamplesPerColumn, 4u);
  EXPECT_EQ(OverviewSampling(10485760, 500).m_nDivisor, 1000u);
  EXPECT_EQ(OverviewSampling(10485761, 500).m_nDivisor, 100u);
  EXPECT_EQ(OverviewSampling(20971521, 500).m_nDivisor, 20u);
  EXPECT_EQ(OverviewSampling(104857601, 500).m_nDivisor, 4u);
  // 5,000,000 clusters: 10,000 per column, step 10, 1000 samples.
  s = OverviewSampling(5000000, 500);
  EXPECT_EQ(s.m_nStep, 10u);
  EXPECT_EQ(s.m_nSamplesPerColumn, 1000u);
}

TEST(OverviewSampling, AMapNarrowerThanTheStripReadsEveryCluster) {
  const COverviewSampling s = OverviewSampling(3, 500);
  EXPECT_EQ(s.m_nClustersPerColumn, 0u);
  EXPECT_EQ(s.m_nStep, 1u);
  EXPECT_EQ(s.m_nSamplesPerColumn, 1u);
  const uint8_t bytes[3] = {CMS_FREE, 4, CMS_DEFRAGGED};
  const std::vector<CRgb> row = SampleOverview(bytes, 3, 6);
  ASSERT_EQ(row.size(), 6u);
  EXPECT_EQ(row[0], OverviewColour(CMC_FREE));
  EXPECT_EQ(row[1], OverviewColour(CMC_FRAGMENTED));
  EXPECT_EQ(row[2], OverviewColour(CMC_DEFRAGGED));
  EXPECT_EQ(row[3], kMapBackground);
}

TEST(SampleOverview, ColumnsTakeTheMajorityWithTiesToTheHigherIndex) {
  // 4 columns of 10 clusters each.
  std::vector<uint8_t> bytes(40, 0);
  for (int i = 0; i < 10; ++i) bytes[i] = CMS_FREE;
  for (int i = 10; i < 15; ++i) bytes[i] = CMS_FREE;  // 5 free, 5 fragmented
  for (int i = 15; i < 20; ++i) bytes[i] = 7;
  for (int i = 20; i < 26; ++i) bytes[i] = CMS_UNKNOWN;  // 6 unmovable, 4 not fragmented
  for (int i = 30; i < 35; ++i) bytes[i] = CMS_DEFRAGGED | CMS_SELECTED;  // 5 and 5
  const std::vector<CRgb> row = SampleOverview(bytes.data(), bytes.size(), 4);
  ASSERT_EQ(row.size(), 4u);
  EXPECT_EQ(row[0], OverviewColour(CMC_FREE));
  EXPECT_EQ(row[1], OverviewColour(CMC_FRAGMENTED));
  EXPECT_EQ(row[2], OverviewColour(CMC_UNMOVABLE));
  EXPECT_EQ(row[3], OverviewColour(CMC_NOT_FRAGMENTED));
  EXPECT_TRUE(SampleOverview(nullptr, 0, 3) == std::vector<CRgb>(3, kMapBackground));
}

TEST(OverviewMarker, ClampsToTheStrip) {
  int l = -1, r = -1;
  // 1000 clusters on 100 columns: 10 per column.
  ASSERT_TRUE(OverviewMarker(1000, 100, 15, 400, &l, &r));
  EXPECT_EQ(l, 0);  // starts in the first two columns
  EXPECT_EQ(r, 42);
  ASSERT_TRUE(OverviewMarker(1000, 100, 500, 999, &l, &r));
  EXPECT_EQ(l, 48);
  EXPECT_EQ(r, 100);
  EXPECT_FALSE(OverviewMarker(1000, 100, 500, 500, &l, &r));
  ASSERT_TRUE(OverviewMarker(10, 100, 0, 9, &l, &r));  // fewer clusters than columns
}

TEST(MapBlockRuns, UncompressedRunsBreakAtClassLevelAndRow) {
  // 12 clusters (+ the spare byte) in rows of 5 blocks of 2 pixels.
  CMapBytes bytes(std::vector<uint8_t>{0, 0, 3, 3, 4, CMS_FREE, CMS_FREE, CMS_FREE, CMS_FREE,
                                       CMS_FREE, CMS_FREE, CMS_SELECTED, 0x60});
  const CMapGeometry g(10, 6, 2, false, 13);
  const std::vector<CBlockRun> runs = MapBlockRuns(&bytes, g, 0);
  ASSERT_EQ(runs.size(), 6u);
  EXPECT_EQ(runs[0].m_nCount, 2);
  EXPECT_EQ(runs[0].m_nClass, CMC_NOT_FRAGMENTED);
  EXPECT_EQ(runs[1].m_nX, 4);
  EXPECT_EQ(runs[1].m_nLevel, 3);
  EXPECT_EQ(runs[2].m_nLevel, 4);  // another level: another run
  EXPECT_EQ(runs[2].m_nCount, 1);
  // Five free clusters wrap: one run per row.
  EXPECT_EQ(runs[3].m_nY, 2);
  EXPECT_EQ(runs[3].m_nCount, 5);
  EXPECT_EQ(runs[3].m_nClass, CMC_FREE);
  EXPECT_EQ(runs[4].m_nY, 4);
  EXPECT_EQ(runs[4].m_nCount, 1);
  // The last cluster is drawn; the spare byte (unknown) is not.
  EXPECT_EQ(runs[5].m_nClass, CMC_SELECTED);
  EXPECT_EQ(runs[5].m_nX, 2);
  EXPECT_EQ(runs[5].m_nY, 4);
}

TEST(MapBlockRuns, StopsBelowTheBottomAndScrollsByRows) {
  std::vector<uint8_t> v(101, 0);
  for (size_t i = 50; i < 100; ++i) v[i] = CMS_FREE;
  CMapBytes bytes(std::move(v));
  const CMapGeometry g(10, 7, 2, false, 101);  // 5 per row, 3 rows and a partial one
  std::vector<CBlockRun> runs = MapBlockRuns(&bytes, g, 0);
  ASSERT_EQ(runs.size(), 4u);
  EXPECT_EQ(runs.back().m_nY, 6);      // the partly visible row is drawn
  runs = MapBlockRuns(&bytes, g, 10);  // rows 10..: clusters 50..
  ASSERT_FALSE(runs.empty());
  EXPECT_EQ(runs[0].m_nClass, CMC_FREE);
  EXPECT_EQ(runs[0].m_nY, 0);
}

TEST(MapBlockRuns, CompressedViewDrawsTheWholeVolumeIncludingTheLastBlock) {
  // 1,000,001 bytes on 70 x 40 blocks: 358 clusters per block, 2794 blocks.
  std::vector<uint8_t> v(1000001, 0);
  for (size_t i = 999000; i < 1000000; ++i) v[i] = CMS_FREE;
  CMapBytes bytes(std::move(v));
  const CMapGeometry g(705, 400, 10, true, 1000001);
  const std::vector<CBlockRun> runs = MapBlockRuns(&bytes, g, 0);
  int blocks = 0;
  for (const auto& r : runs) blocks += r.m_nCount;
  EXPECT_EQ(blocks, (1000000 + 357) / 358);
  EXPECT_EQ(runs.back().m_nClass, CMC_FREE);
  EXPECT_TRUE(MapBlockRuns(nullptr, g, 0).empty());
}

}  // namespace
}  // namespace vt
