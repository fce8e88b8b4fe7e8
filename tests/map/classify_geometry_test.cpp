#include <gtest/gtest.h>

#include <vector>

#include "map/map_classify.h"
#include "map/map_colours.h"
#include "map/map_geometry.h"

namespace vt {
namespace {

TEST(ClassOfCluster, FollowsTheHighBits) {
  const struct {
    uint8_t state;
    int cls;
  } cases[] = {
      {0x00, CMC_NOT_FRAGMENTED}, {0x05, CMC_FRAGMENTED},     {0x10, CMC_DEFRAGGED},
      {0x20, CMC_FREE},           {0x40, CMC_UNMOVABLE},      {0x60, CMC_UNMOVABLE},
      {0x80, CMC_SELECTED},       {0x8F, CMC_SELECTED},       {0x90, CMC_SELECTED},
      {0xA0, CMC_SELECTED},       {0xC0, CMC_SELECTED},       {0x30, CMC_NOT_FRAGMENTED},
      {0x53, CMC_FRAGMENTED},     {0xE0, CMC_NOT_FRAGMENTED}, {0xF1, CMC_FRAGMENTED},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ClassOfCluster(c.state).m_nClass, c.cls) << std::hex << int(c.state);
  }
  EXPECT_EQ(ClassOfCluster(0x8C).m_nLevel, 12);
}

std::vector<uint8_t> Pattern(std::initializer_list<std::pair<int, uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.first, p.second);
  return out;
}

TEST(ClassOfBlock, TiesGoToTheHigherCounter) {
  // 25 free and 25 fragmented: Fragmented (index 3) beats Free (index 0).
  auto a = Pattern({{25, CMS_FREE}, {25, 3}});
  EXPECT_EQ(ClassOfBlock(a.data(), a.size(), 0, 50).m_nClass, CMC_FRAGMENTED);
  // 25 not fragmented and 25 fragmented: Not fragmented (index 4) wins.
  auto b = Pattern({{25, 0}, {25, 2}});
  const CBlockClass r = ClassOfBlock(b.data(), b.size(), 0, 50);
  EXPECT_EQ(r.m_nClass, CMC_NOT_FRAGMENTED);
  EXPECT_EQ(r.m_nLevel, 2);  // the last byte sampled
  EXPECT_EQ(r.m_nNext, 50u);
  // A clear majority wins whatever the index.
  auto c = Pattern({{30, CMS_FREE}, {20, 0}});
  EXPECT_EQ(ClassOfBlock(c.data(), c.size(), 0, 50).m_nClass, CMC_FREE);
}

TEST(ClassOfBlock, SamplesEveryKOver50ClustersAndSkipsTheRemainder) {
  // 358 clusters per block: step 7, 51 samples, 1 cluster skipped.
  EXPECT_EQ(BlockSampleStep(100), 1u);
  EXPECT_EQ(BlockSampleStep(101), 2u);
  EXPECT_EQ(BlockSampleStep(358), 7u);
  std::vector<uint8_t> bytes(1000, 0);
  for (size_t i = 0; i < bytes.size(); i += 7) bytes[i] = CMS_FREE;  // every sample free
  const CBlockClass r = ClassOfBlock(bytes.data(), bytes.size(), 0, 358);
  EXPECT_EQ(r.m_nSamples, 51u);
  EXPECT_EQ(r.m_nClass, CMC_FREE);
  EXPECT_EQ(r.m_nNext, 358u);
  // An unknown area (in use, owner not yet known) is sampled as unmovable,
  // not as free, although its byte carries the 0x20 bit.
  std::vector<uint8_t> unknown = Pattern({{10, CMS_UNKNOWN}});
  EXPECT_EQ(ClassOfBlock(unknown.data(), unknown.size(), 0, 10).m_nClass, CMC_UNMOVABLE);
  // The selection bit plays no part.
  std::vector<uint8_t> sel = Pattern({{10, CMS_SELECTED | CMS_UNKNOWN}});
  EXPECT_EQ(ClassOfBlock(sel.data(), sel.size(), 0, 10).m_nClass, CMC_UNMOVABLE);
  std::vector<uint8_t> moved = Pattern({{10, CMS_SELECTED | CMS_DEFRAGGED}});
  EXPECT_EQ(ClassOfBlock(moved.data(), moved.size(), 0, 10).m_nClass, CMC_DEFRAGGED);
}

TEST(ClassOfBlock, StopsAtTheLastClusterOfTheVolume) {
  // A last block reaching past the volume samples only what exists.
  std::vector<uint8_t> bytes = Pattern({{93, 0}, {7, CMS_FREE}});
  const CBlockClass r = ClassOfBlock(bytes.data(), bytes.size(), 90, 40);
  EXPECT_EQ(r.m_nSamples, 10u);
  EXPECT_EQ(r.m_nClass, CMC_FREE);
  EXPECT_EQ(r.m_nNext, 130u);
}

TEST(Geometry, BlockSizeTenOnA705By400Window) {
  const CMapGeometry g(705, 400, 10, true, 1000001);
  EXPECT_EQ(g.BlocksPerRow(), 70);
  EXPECT_EQ(g.VisibleRows(), 40);
  EXPECT_EQ(g.ClustersPerBlock(), 358u);
  EXPECT_EQ(BlockSampleStep(g.ClustersPerBlock()), 7u);
  EXPECT_EQ(g.ClustersPerRow(), 70u * 358u);
  EXPECT_EQ(g.ScrollMax(), 1000001u / (70u * 358u));
  EXPECT_EQ(g.ClusterAtPoint(25, 13, 0), 70u * 358u + 2u * 358u);
}

TEST(Geometry, UncompressedScrollsByRows) {
  const CMapGeometry g(705, 400, 10, false, 1000001);
  EXPECT_EQ(g.ClustersPerBlock(), 1u);
  EXPECT_EQ(g.ClustersPerRow(), 70u);
  EXPECT_EQ(g.ScrollMax(), 1000001u / 70u);
  const CVisibleRange r = g.VisibleRange(3);
  EXPECT_EQ(r.m_nFirst, 210u);
  EXPECT_EQ(r.m_nLast, 70u * 43u - 1u);
  // The last position stops at the map's last cluster (it has 1,000,001).
  EXPECT_EQ(g.VisibleRange(g.ScrollMax()).m_nLast, 1000000u);
  // A map shorter than the window ends where the map does.
  EXPECT_EQ(CMapGeometry(705, 400, 10, false, 500).VisibleRange(0).m_nLast, 499u);
  EXPECT_EQ(g.ClusterAtPoint(25, 13, 3), 70u * 4u + 2u);
}

TEST(Geometry, DegenerateWindows) {
  const CMapGeometry tiny(5, 5, 10, true, 500);
  EXPECT_EQ(tiny.BlocksPerRow(), 0);
  EXPECT_EQ(tiny.ClustersPerBlock(), 1u);
  EXPECT_EQ(tiny.ClustersPerRow(), 0u);
  EXPECT_EQ(tiny.ScrollMax(), 500u);  // a zero row width counts as one
  EXPECT_EQ(tiny.VisibleRange(0).m_nLast, 0u);
  // A map smaller than the window: one cluster per block.
  EXPECT_EQ(CMapGeometry(700, 400, 10, true, 100).ClustersPerBlock(), 1u);
  EXPECT_EQ(CMapGeometry(700, 400, 10, true, 2801).ClustersPerBlock(), 2u);
}

TEST(Colours, ClassesLevelsAndLargeBlockVariants) {
  EXPECT_EQ(ClassColour(CMC_FRAGMENTED, 1, 1), (CRgb{110, 16, 0}));
  EXPECT_EQ(ClassColour(CMC_FRAGMENTED, 15, 9), (CRgb{250, 16, 0}));
  EXPECT_EQ(ClassColour(CMC_FRAGMENTED, 0, 9), (CRgb{100, 16, 0}));
  EXPECT_EQ(ClassColour(CMC_FREE, 0, 2), (CRgb{255, 255, 255}));
  EXPECT_EQ(ClassColour(CMC_FREE, 0, 3), (CRgb{240, 240, 240}));
  EXPECT_EQ(ClassColour(CMC_UNMOVABLE, 0, 2), (CRgb{0, 255, 255}));
  EXPECT_EQ(ClassColour(CMC_UNMOVABLE, 0, 3), (CRgb{0, 160, 160}));
  EXPECT_EQ(ClassColour(CMC_SELECTED, 0, 3), (CRgb{160, 160, 0}));
  EXPECT_EQ(ClassColour(CMC_DEFRAGGED, 0, 10), (CRgb{0, 160, 0}));
  EXPECT_EQ(ClassColour(CMC_NOT_FRAGMENTED, 0, 10), (CRgb{48, 48, 160}));
  EXPECT_EQ(LegendColour(CMC_FRAGMENTED), (CRgb{208, 0, 0}));
  // Strip rows brighten by 144 / size per row, capped at 255.
  EXPECT_EQ(StripRowColour(CRgb{48, 48, 160}, 0, 10), (CRgb{48, 48, 160}));
  EXPECT_EQ(StripRowColour(CRgb{48, 48, 160}, 9, 10), (CRgb{174, 174, 255}));
  EXPECT_EQ(StripRowColour(CRgb{0, 160, 0}, 2, 3), (CRgb{96, 255, 96}));
}

TEST(Colours, OverviewStripColoursAreTheLightenedClassColours) {
  EXPECT_EQ(OverviewColour(CMC_FREE), (CRgb{255, 255, 255}));
  EXPECT_EQ(OverviewColour(CMC_DEFRAGGED), (CRgb{72, 232, 72}));
  EXPECT_EQ(OverviewColour(CMC_UNMOVABLE), (CRgb{72, 255, 255}));
  EXPECT_EQ(OverviewColour(CMC_FRAGMENTED), (CRgb{255, 72, 72}));
  EXPECT_EQ(OverviewColour(CMC_NOT_FRAGMENTED), (CRgb{120, 120, 232}));
}

}  // namespace
}  // namespace vt
