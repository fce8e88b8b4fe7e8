#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "map/cluster_map.h"
#include "map/map_picture.h"
#include "map/png_writer.h"
#include "map_test_util.h"

#include <zlib.h>

namespace vt {
namespace {

uint32_t Be32(const std::vector<uint8_t>& b, size_t at) {
  return (uint32_t(b[at]) << 24) | (uint32_t(b[at + 1]) << 16) | (uint32_t(b[at + 2]) << 8) |
         b[at + 3];
}

std::vector<uint8_t> Inflate(const std::vector<uint8_t>& z, size_t expected) {
  std::vector<uint8_t> out(expected + 16);
  uLongf len = static_cast<uLongf>(out.size());
  EXPECT_EQ(uncompress(out.data(), &len, z.data(), static_cast<uLong>(z.size())), Z_OK);
  out.resize(len);
  return out;
}

TEST(Png, ChunksAreWellFormed) {
  CRgbImage img(3, 2, CRgb{1, 2, 3});
  img.Set(2, 1, CRgb{200, 100, 50});
  const std::vector<uint8_t> png = EncodePng(img);
  const uint8_t sig[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  ASSERT_GT(png.size(), 8u);
  EXPECT_EQ(std::memcmp(png.data(), sig, 8), 0);
  size_t at = 8;
  std::vector<std::string> types;
  std::vector<uint8_t> idat;
  while (at + 12 <= png.size()) {
    const uint32_t len = Be32(png, at);
    ASSERT_LE(at + 12 + len, png.size());
    const std::string type(png.begin() + at + 4, png.begin() + at + 8);
    types.push_back(type);
    EXPECT_EQ(Be32(png, at + 8 + len), crc32(0L, png.data() + at + 4, len + 4)) << type;
    if (type == "IHDR") {
      EXPECT_EQ(Be32(png, at + 8), 3u);
      EXPECT_EQ(Be32(png, at + 12), 2u);
      EXPECT_EQ(png[at + 16], 8);
      EXPECT_EQ(png[at + 17], 2);
    }
    if (type == "IDAT") idat.insert(idat.end(), png.begin() + at + 8, png.begin() + at + 8 + len);
    at += 12 + len;
  }
  EXPECT_EQ(at, png.size());
  EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
  const std::vector<uint8_t> raw = Inflate(idat, 2 * (1 + 9));
  const std::vector<uint8_t> expect = {0, 1, 2, 3, 1, 2, 3, 1,   2,   3,
                                       0, 1, 2, 3, 1, 2, 3, 200, 100, 50};
  EXPECT_EQ(raw, expect);
}

class PictureTest : public ::testing::Test {
 protected:
  void Build(uint64_t total) { map.InitGrid(free_, files_, total); }
  CRgb MapPixel(const CRgbImage& img, const MapPictureOptions& o, int x, int y) {
    return img.Get(x, MapPictureLayout(o).m_nMapTop + y);
  }
  ClusterMap map;
  CGrowableArray<CClusterItem> free_;
  CGrowableArray<CFileItem> files_;
};

TEST_F(PictureTest, UncompressedBlocksBrightenDownwardsWithGridLinesAboveSizeFour) {
  files_.Add(MapFile({{0, 3}}));          // not fragmented
  files_.Add(MapFile({{3, 1}, {5, 1}}));  // level 1
  free_.Add(MapRun(6, 94));
  Build(100);
  MapPictureOptions o;
  o.width = 50;
  o.height = 50;
  o.blockSize = 5;
  o.uncompressed = true;
  CRgbImage img;
  std::string error;
  ASSERT_TRUE(RenderMapPicture(map, o, &img, &error)) << error;
  EXPECT_EQ(img.Width(), 50);
  EXPECT_EQ(img.Height(), MapPictureLayout(o).m_nHeight);
  // Grid lines in the background colour on every fifth row and column.
  EXPECT_EQ(MapPixel(img, o, 0, 2), kMapBackground);
  EXPECT_EQ(MapPixel(img, o, 2, 0), kMapBackground);
  EXPECT_EQ(MapPixel(img, o, 5, 3), kMapBackground);
  // Block 0 (not fragmented): row r brightened by r * 144 / 5.
  EXPECT_EQ(MapPixel(img, o, 2, 1), (CRgb{48 + 28, 48 + 28, 160 + 28}));
  EXPECT_EQ(MapPixel(img, o, 2, 4), (CRgb{48 + 112, 48 + 112, 255}));
  // Block 3: level 1 red; block 4: unknown, drawn unmovable (large variant).
  EXPECT_EQ(MapPixel(img, o, 17, 1), (CRgb{110 + 28, 16 + 28, 28}));
  EXPECT_EQ(MapPixel(img, o, 22, 1), (CRgb{28, 188, 188}));
  // Block 6: free, large variant, capped.
  EXPECT_EQ(MapPixel(img, o, 32, 1), (CRgb{255, 255, 255}));

  o.blockSize = 4;  // no grid lines
  ASSERT_TRUE(RenderMapPicture(map, o, &img, &error));
  EXPECT_EQ(MapPixel(img, o, 0, 0), (CRgb{48, 48, 160}));
  EXPECT_EQ(MapPixel(img, o, 4, 0), (CRgb{48, 48, 160}));
}

TEST_F(PictureTest, StripShowsTheVolumeAndMarksTheVisibleRows) {
  free_.Add(MapRun(0, 500));
  files_.Add(MapFile({{500, 250}, {800, 200}}));
  Build(1000);
  MapPictureOptions o;
  o.width = 100;
  o.height = 20;
  o.blockSize = 2;  // 50 clusters per row, 10 rows shown
  o.uncompressed = true;
  o.firstCluster = 620;  // row 12: clusters 600..1099
  CRgbImage img;
  ASSERT_TRUE(RenderMapPicture(map, o, &img, nullptr));
  const CMapPictureLayout l = MapPictureLayout(o);
  const int mid = l.m_nStripImageTop + l.m_nStripImageHeight / 2;
  EXPECT_EQ(img.Get(20, mid), OverviewColour(CMC_FREE));
  EXPECT_EQ(img.Get(70, mid), OverviewColour(CMC_FRAGMENTED));
  // Marker: columns 60 - 2 .. 100 on the frame, two pixels wide.
  EXPECT_EQ(img.Get(58, 0), kOverviewMarker);
  EXPECT_EQ(img.Get(57, 0), kOverviewMarker);
  EXPECT_EQ(img.Get(57, l.m_nStripHeight - 1), kOverviewMarker);
  EXPECT_EQ(img.Get(40, 0), kWindowBackground);
  // The top row of the map starts at cluster 600.
  EXPECT_EQ(img.Get(0, l.m_nMapTop), (CRgb{110, 16, 0}));

  o.uncompressed = false;  // compressed: no marker
  ASSERT_TRUE(RenderMapPicture(map, o, &img, nullptr));
  EXPECT_EQ(img.Get(58, 0), kWindowBackground);
}

TEST_F(PictureTest, EmptyMapAndBadOptions) {
  MapPictureOptions o;
  o.width = 300;
  o.height = 100;
  CRgbImage img;
  std::string error;
  ASSERT_TRUE(RenderMapPicture(map, o, &img, &error));
  const CMapPictureLayout l = MapPictureLayout(o);
  EXPECT_EQ(img.Get(150, l.m_nStripImageTop + 2), kMapBackground);
  EXPECT_EQ(img.Get(150, l.m_nMapTop + 50), kMapBackground);
  o.blockSize = 11;
  EXPECT_FALSE(RenderMapPicture(map, o, &img, &error));
  EXPECT_EQ(error, "the block size must be 1 to 10");
  o.blockSize = 3;
  o.width = 0;
  EXPECT_FALSE(WriteMapPng(map, o, "unused.png", &error));
  EXPECT_NE(error.find("width"), std::string::npos);
}

TEST_F(PictureTest, WritesAPngFileOrSaysWhyNot) {
  free_.Add(MapRun(100, 300));
  files_.Add(MapFile({{10, 20}, {50, 5}}));
  Build(5000);
  const std::string dir = (std::filesystem::temp_directory_path() / "vt_map_picture_test").string();
  std::filesystem::create_directories(dir);
  const std::string path = dir + "/map.png";
  MapPictureOptions o;
  std::string error;
  ASSERT_TRUE(WriteMapPng(map, o, path, &error)) << error;
  std::vector<uint8_t> bytes;
  {
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  CRgbImage img;
  ASSERT_TRUE(RenderMapPicture(map, o, &img, nullptr));
  EXPECT_EQ(bytes, EncodePng(img));
  EXPECT_FALSE(WriteMapPng(map, o, dir + "/missing/folder/map.png", &error));
  EXPECT_NE(error.find("missing"), std::string::npos);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace vt
