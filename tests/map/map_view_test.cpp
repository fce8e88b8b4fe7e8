// The map window's painting and decisions, apart from the window: the
// pixels agree with the picture block for block, scrolling brings clusters
// where the user expects them, and the menu and texts follow the owner.
#include <gtest/gtest.h>

#include <random>

#include "map/block_painter.h"
#include "map/cluster_map.h"
#include "map/map_picture.h"
#include "map/map_view_logic.h"
#include "tests/map/map_test_util.h"
#include "tests/support/engine_fixture.h"

namespace vt {
namespace {

// A map of mixed runs: files of many levels, free runs, unknown and
// unmovable areas, a selection and moved clusters.
void BuildMixedMap(ClusterMap& map, uint64_t total, unsigned seed) {
  std::mt19937 rng(seed);
  CGrowableArray<CClusterItem> free;
  CGrowableArray<CFileItem> files;
  uint64_t c = 0;
  while (c < total) {
    const uint32_t len = 1 + rng() % 40;
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(len, total - c));
    switch (rng() % 4) {
      case 0:
        free.Add(MapRun(c, n));
        break;
      case 1: {
        CFileItem f;
        const int pieces = 1 + static_cast<int>(rng() % 18);
        for (int i = 0; i < pieces; ++i) f.m_fragments.Add(CFileClusterItem(c, n));
        if (rng() % 7 == 0) f.m_wFlags = FI_UNMOVABLE;
        files.Add(f);
        break;
      }
      default:
        break;  // unknown
    }
    c += n;
  }
  map.InitGrid(free, files, total);
  files.RemoveAll();
  files.Add(MapFile({{total / 3, 25}}));
  map.SelectFile(files[0]);
  map.MarkMove(total / 2, total / 5, 30);
}

TEST(MapPainting, WindowPixelsAgreeWithThePictureInEveryViewAndBlockSize) {
  ClusterMap map;
  BuildMixedMap(map, 20000, 7);
  const auto snap = map.Snapshot();
  CBlockPainter painter;
  for (bool uncompressed : {false, true}) {
    for (int s = 1; s <= 10; ++s) {
      MapPictureOptions o;
      o.width = 203;  // not a whole number of blocks for most sizes
      o.height = 97;
      o.blockSize = s;
      o.uncompressed = uncompressed;
      o.firstCluster = uncompressed ? 3000 : 0;
      CRgbImage img;
      ASSERT_TRUE(RenderMapPicture(map, o, &img, nullptr));
      const CMapGeometry g(o.width, o.height, s, !uncompressed, snap->Length());
      const uint64_t position = uncompressed ? 3000 / g.ClustersPerRow() : 0;
      std::vector<uint32_t> pixels(static_cast<size_t>(o.width) * o.height, 0xDEADBEEF);
      PaintMapPixels(painter, pixels.data(), o.width, snap.get(), g, position);
      const int top = MapPictureLayout(o).m_nMapTop;
      int mismatches = 0;
      for (int y = 0; y < o.height; ++y)
        for (int x = 0; x < o.width; ++x)
          if (pixels[static_cast<size_t>(y) * o.width + x] !=
              CBlockPainter::Pixel(img.Get(x, top + y)))
            ++mismatches;
      EXPECT_EQ(mismatches, 0) << "block size " << s << (uncompressed ? " uncompressed" : "");
    }
  }
}

TEST(MapPainting, GridLinesFromSizeFiveAndTheLastRunIsDrawn) {
  ClusterMap map;
  CGrowableArray<CClusterItem> free;
  CGrowableArray<CFileItem> files;
  files.Add(MapFile({{0, 99}}));
  map.InitGrid(free, files, 99);
  const auto snap = map.Snapshot();
  CBlockPainter painter;
  const uint32_t back = CBlockPainter::Pixel(kMapBackground);
  for (int s : {4, 5}) {
    const CMapGeometry g(40, 40, s, false, snap->Length());
    std::vector<uint32_t> px(40 * 40);
    PaintMapPixels(painter, px.data(), 40, snap.get(), g, 0);
    EXPECT_EQ(px[0] == back, s == 5) << s;
    EXPECT_EQ(px[1] == back, s == 5) << s;
  }
  // A compressed view that samples: 99 clusters in 4 blocks of 25; the
  // last block, holding only 24 clusters, is still drawn.
  const CMapGeometry g(20, 20, 10, true, snap->Length());
  ASSERT_EQ(g.ClustersPerBlock(), 25u);
  std::vector<uint32_t> px(20 * 20);
  PaintMapPixels(painter, px.data(), 20, snap.get(), g, 0);
  EXPECT_NE(px[15 * 20 + 15], back);
  // An empty map is all background.
  std::fill(px.begin(), px.end(), 0);
  PaintMapPixels(painter, px.data(), 20, nullptr, g, 0);
  EXPECT_EQ(std::count(px.begin(), px.end(), back), 400);
}

TEST(MapScrolling, EnsureVisibleJumpsToTheTopRowOrCentres) {
  // 10 clusters a row, 8 rows shown, 1000 clusters.
  const CMapGeometry g(10, 8, 1, false, 1001);
  uint64_t p = 0;
  EXPECT_FALSE(EnsureVisiblePosition(g, 0, 79, false, &p));  // on screen
  ASSERT_TRUE(EnsureVisiblePosition(g, 0, 500, true, &p));
  EXPECT_EQ(p, 50u);                                          // the target's row on top
  EXPECT_FALSE(EnsureVisiblePosition(g, 50, 505, true, &p));  // already on the top row
  ASSERT_TRUE(EnsureVisiblePosition(g, 0, 500, false, &p));
  EXPECT_EQ(p, 43u + 4u);  // the row at the bottom, then half a view down
  ASSERT_TRUE(EnsureVisiblePosition(g, 50, 123, false, &p));
  EXPECT_EQ(p, 12u - 4u);
  ASSERT_TRUE(EnsureVisiblePosition(g, 50, 15, false, &p));
  EXPECT_EQ(p, 0u);  // not above the top
  ASSERT_TRUE(EnsureVisiblePosition(g, 0, 1000, false, &p));
  EXPECT_EQ(p, 97u);  // the row at the bottom, then half a view
  ASSERT_TRUE(EnsureVisiblePosition(g, 99, 5, true, &p));
  EXPECT_EQ(p, 0u);
  const CMapGeometry compressed(10, 8, 1, true, 1001);
  EXPECT_FALSE(EnsureVisiblePosition(compressed, 0, 900, true, &p));
}

TEST(MapScrolling, ScrollRequestsStayWithinTheRange) {
  const CMapGeometry g(10, 8, 1, false, 1001);  // positions 0..100
  EXPECT_EQ(ScrolledPosition(g, 0, MapScroll::LineUp), 0u);
  EXPECT_EQ(ScrolledPosition(g, 5, MapScroll::LineDown), 6u);
  EXPECT_EQ(ScrolledPosition(g, 5, MapScroll::PageUp), 0u);
  EXPECT_EQ(ScrolledPosition(g, 20, MapScroll::PageUp), 12u);
  EXPECT_EQ(ScrolledPosition(g, 95, MapScroll::PageDown), 100u);
  EXPECT_EQ(ScrolledPosition(g, 7, MapScroll::Bottom), 100u);
  EXPECT_EQ(ScrolledPosition(g, 7, MapScroll::Top), 0u);
  EXPECT_EQ(ScrolledPosition(g, 7, MapScroll::Thumb, 5000), 100u);
  // The compressed view has only position 0.
  const CMapGeometry c(10, 8, 1, true, 1001);
  EXPECT_EQ(ScrolledPosition(c, 0, MapScroll::PageDownKey), 0u);
}

TEST(MapMenu, JumpsCompareStartsAndTheMenuFollowsTheOwner) {
  // Fragments at 500, 100, 300 in the file's order; the click is on 300.
  const CFileItem f = MapFile({{500, 10}, {100, 10}, {300, 10}});
  CFragmentJumps j;
  ASSERT_TRUE(FragmentJumps(f, 305, &j));
  EXPECT_TRUE(j.m_bNext && j.m_bPrevious);
  EXPECT_EQ(j.m_nNext, 500u);
  EXPECT_EQ(j.m_nPrevious, 100u);
  ASSERT_TRUE(FragmentJumps(f, 100, &j));
  EXPECT_FALSE(j.m_bPrevious);
  EXPECT_EQ(j.m_nNext, 500u);
  EXPECT_FALSE(FragmentJumps(f, 200, &j));

  ASSERT_TRUE(FragmentJumps(f, 100, &j));
  CGridMenuState m = GridMenuState(false, 7, true, j);
  EXPECT_TRUE(m.m_bFileCommands);
  EXPECT_TRUE(m.m_bNext);
  EXPECT_FALSE(m.m_bPrevious);
  EXPECT_EQ(m.m_nBlockChecked, 7);
  // Free space, or the compressed view: no file commands and no jumps.
  ASSERT_TRUE(FragmentJumps(f, 305, &j));
  for (bool compressed : {false, true}) {
    m = GridMenuState(compressed, 3, !compressed ? false : true, j);
    EXPECT_FALSE(m.m_bFileCommands || m.m_bNext || m.m_bPrevious);
    EXPECT_EQ(m.m_bCompressedChecked, compressed);
  }
}

class MapTexts : public test::EngineTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Open());
    engine->m_folders = {"C:\\Data"};
    CFileItem f = MapFile({{40, 5}, {10, 5}});
    f.m_strName = "a.bin";
    f.m_nSize = 1234567;
    f.m_nFirstLcn = 40;
    engine->m_files.Add(f);
    engine->m_freeRuns.Add(MapRun(60, 20));
    engine->m_mapRuns.Add(MapRun(90, 3, RUN_MAP));
  }
};

TEST_F(MapTexts, PointerAndBalloonNameTheOwner) {
  CPointerText t = PointerText(*engine, 4096, false, 42);
  EXPECT_EQ(t.m_strCluster, "cluster: 42");
  EXPECT_EQ(t.m_nCode, 1);
  EXPECT_EQ(t.m_strText, "C:\\Data\\a.bin           Fragments = 2   Size = 1,234,567 bytes");
  EXPECT_EQ(PointerText(*engine, 4096, true, 42).m_strText, "C:\\Data\\a.bin");
  t = PointerText(*engine, 4096, false, 61);
  EXPECT_EQ(t.m_strText, "Free           Clusters = 20  Size =  81,920 bytes");
  t = PointerText(*engine, 4096, true, 61);
  EXPECT_EQ(t.m_nCode, 1);
  EXPECT_EQ(t.m_strText, "");
  EXPECT_EQ(PointerText(*engine, 4096, false, 91).m_strText,
            "System           Clusters = 3  Size =  12,288 bytes");
  EXPECT_EQ(PointerText(*engine, 4096, false, 85).m_nCode, 0);

  CBalloon b;
  ASSERT_TRUE(ClickBalloon(*engine, 4096, 12, &b));
  EXPECT_EQ(b.m_strTitle, "a.bin");
  EXPECT_EQ(b.m_strBody,
            "Bytes                : 1,234,567\nTotal Clusters   : 10\nFragments        : 2\n"
            "Starting cluster : 40");
  ASSERT_TRUE(ClickBalloon(*engine, 4096, 70, &b));
  EXPECT_EQ(b.m_strTitle, "Free");
  EXPECT_EQ(b.m_strBody, "Total Clusters   : 20\nBytes   : 81,920");
  EXPECT_FALSE(ClickBalloon(*engine, 4096, 85, &b));
}

TEST_F(MapTexts, ADragKeepsTheSelectionAndTheBalloonFollows) {
  // The click selects the file and shows its balloon.
  CMapClick click = LeftClick(*engine, 4096, false, 42, false);
  EXPECT_TRUE(click.m_bSelect);
  EXPECT_TRUE(click.m_bBalloon);
  EXPECT_EQ(click.m_balloon.m_pFile, &engine->m_files[0]);
  // Dragged onto free space: the balloon names it, the file stays selected.
  click = LeftClick(*engine, 4096, false, 70, true);
  EXPECT_FALSE(click.m_bSelect);
  EXPECT_TRUE(click.m_bBalloon);
  EXPECT_EQ(click.m_balloon.m_strTitle, "Free");
  // Nothing there: no balloon, the selection as it was.
  click = LeftClick(*engine, 4096, false, 85, false);
  EXPECT_FALSE(click.m_bSelect || click.m_bBalloon);
  // The compressed view only switches.
  click = LeftClick(*engine, 4096, true, 42, false);
  EXPECT_TRUE(click.m_bUncompress);
  EXPECT_FALSE(click.m_bSelect || click.m_bBalloon);
}

TEST(MapScrolling, KeysScrollAsTheScrollBarDoes) {
  MapScroll how = MapScroll::LineUp;
  ASSERT_TRUE(KeyScroll(0x22, &how));  // Page Down
  EXPECT_EQ(how, MapScroll::PageDownKey);
  ASSERT_TRUE(KeyScroll(0x21, &how));
  EXPECT_EQ(how, MapScroll::PageUp);
  ASSERT_TRUE(KeyScroll(0x24, &how));
  EXPECT_EQ(how, MapScroll::Top);
  ASSERT_TRUE(KeyScroll(0x23, &how));
  EXPECT_EQ(how, MapScroll::Bottom);
  EXPECT_FALSE(KeyScroll('H', &how));  // letters are the Filter's, not the map's
}

TEST(MapScrolling, AResizeKeepsTheTopClusterOnTheTopRow) {
  // 10 clusters a row, 8 rows, 1001 clusters; the view starts at 500.
  const CMapGeometry before(10, 8, 1, false, 1001);
  const CMapGeometry wider(25, 8, 1, false, 1001);
  EXPECT_EQ(PositionAfterResize(before, 50, wider), 20u);  // 500 starts row 20
  const CMapGeometry narrower(7, 30, 1, false, 1001);
  const uint64_t p = PositionAfterResize(before, 50, narrower);
  EXPECT_LE(p * 7, 500u);
  EXPECT_GT(p * 7 + 7, 500u);
  // Near the end the position stays within the range.
  EXPECT_EQ(PositionAfterResize(before, 100, CMapGeometry(1000, 8, 1, false, 1001)), 1u);
  // Minimised and restored: the position survives the empty size.
  const CMapGeometry none(0, 0, 1, false, 1001);
  EXPECT_EQ(PositionAfterResize(before, 50, none), 50u);
  EXPECT_EQ(PositionAfterResize(none, 50, before), 50u);
  // The compressed view has only position 0.
  EXPECT_EQ(PositionAfterResize(before, 50, CMapGeometry(25, 8, 1, true, 1001)), 0u);
}

}  // namespace
}  // namespace vt

namespace vt {
namespace {

TEST(MapRefresh, MovedClustersStayDefraggedOverARebuild) {
  ClusterMap map;
  CGrowableArray<CClusterItem> free;
  CGrowableArray<CFileItem> files;
  free.Add(MapRun(0, 10));
  files.Add(MapFile({{10, 2}, {20, 2}}));
  map.InitGrid(free, files, 30);
  map.MarkMove(10, 0, 2);
  map.MarkMove(20, 2, 2);
  const CMapSnapshot before = map.Snapshot();
  // The file now lies in 0..3; 10 and 20 are free again.
  free.RemoveAll();
  free.Add(MapRun(4, 6));
  free.Add(MapRun(10, 2));
  free.Add(MapRun(20, 2));
  files.RemoveAll();
  files.Add(MapFile({{0, 4}}));
  map.InitGrid(free, files, 30);
  map.KeepDefraggedMarks(before.get());
  const auto after = map.Snapshot();
  for (uint32_t c = 0; c < 4; ++c) EXPECT_EQ(after->Get(c), CMS_DEFRAGGED) << c;
  EXPECT_EQ(after->Get(4), CMS_FREE);
  EXPECT_EQ(after->Get(10), CMS_FREE);
}

}  // namespace
}  // namespace vt
