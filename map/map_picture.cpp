#include "map/map_picture.h"

#include <algorithm>

#include "base/text.h"
#include "map/bitmap_font.h"
#include "map/cluster_map.h"
#include "map/map_colours.h"
#include "map/map_painter.h"
#include "map/overview.h"
#include "map/png_writer.h"

namespace vt {

namespace {

constexpr int kMaxSide = 16384;
constexpr int kStripBand = 22;
constexpr int kStripImageInset = 3;
constexpr int kGap = 4;
constexpr int kLegendRow = 18;
constexpr int kSwatch = 12;

const int kLegendOrder[] = {CMC_FREE,      CMC_UNMOVABLE, CMC_FRAGMENTED,
                            CMC_DEFRAGGED, CMC_SELECTED,  CMC_NOT_FRAGMENTED};

int LegendItemWidth(int mapClass) { return kSwatch + 3 + TextWidth(LegendText(mapClass)) + 14; }

int LegendRows(int width) {
  int rows = 1;
  int x = 6;
  for (int c : kLegendOrder) {
    const int w = LegendItemWidth(c);
    if (x > 6 && x + w > width) {
      ++rows;
      x = 6;
    }
    x += w;
  }
  return rows;
}

// A raised edge: light on the top and left, dark on the bottom and right.
void DrawRaisedEdge(CRgbImage& img, int x, int y, int w, int h) {
  const CRgb light{227, 227, 227}, white{255, 255, 255}, shadow{160, 160, 160}, dark{105, 105, 105};
  img.FillRect(x, y, w, 1, light);
  img.FillRect(x, y, 1, h, light);
  img.FillRect(x, y + h - 1, w, 1, dark);
  img.FillRect(x + w - 1, y, 1, h, dark);
  img.FillRect(x + 1, y + 1, w - 2, 1, white);
  img.FillRect(x + 1, y + 1, 1, h - 2, white);
  img.FillRect(x + 1, y + h - 2, w - 2, 1, shadow);
  img.FillRect(x + w - 2, y + 1, 1, h - 2, shadow);
}

void DrawStrip(CRgbImage& img, const CMapPictureLayout& l, const CMapBytes* bytes,
               const CMapGeometry& g, const CVisibleRange& range) {
  const int w = img.Width();
  img.FillRect(0, l.m_nStripTop, w, l.m_nStripHeight, kWindowBackground);
  if (!bytes || bytes->Length() == 0) {
    img.FillRect(0, l.m_nStripImageTop, w, l.m_nStripImageHeight, kMapBackground);
    return;
  }
  const std::vector<CRgb> columns = SampleOverview(bytes, w);
  for (int x = 0; x < w; ++x)
    img.FillRect(x, l.m_nStripImageTop, 1, l.m_nStripImageHeight, columns[x]);
  DrawRaisedEdge(img, 0, l.m_nStripImageTop, w, l.m_nStripImageHeight);
  int left = 0;
  int right = 0;
  if (!g.Compressed() &&
      OverviewMarker(bytes->Length(), w, range.m_nFirst, range.m_nLast, &left, &right)) {
    img.FrameRect(left, l.m_nStripTop, right - left, l.m_nStripHeight, kOverviewMarker);
    left = std::max(left - 1, 0);
    right = std::min(right + 1, w);
    img.FrameRect(left, l.m_nStripTop, right - left, l.m_nStripHeight, kOverviewMarker);
  }
}

void DrawMap(CRgbImage& img, int top, const CMapBytes* bytes, const CMapGeometry& g,
             uint64_t position) {
  const int w = g.Width();
  const int h = g.Height();
  const int s = g.BlockSize();
  img.FillRect(0, top, w, h, kMapBackground);
  for (const CBlockRun& run : MapBlockRuns(bytes, g, position)) {
    const CRgb base = ClassColour(run.m_nClass, run.m_nLevel, s);
    for (int r = 0; r < s; ++r) {
      const int y = run.m_nY + r;
      if (y >= h) break;
      img.FillRect(run.m_nX, top + y, run.m_nCount * s, 1, StripRowColour(base, r, s));
    }
  }
  if (s > 4) {
    for (int x = 0; x < w; x += s) img.FillRect(x, top, 1, h, kMapBackground);
    for (int y = 0; y < h; y += s) img.FillRect(0, top + y, w, 1, kMapBackground);
  }
}

void DrawSwatch(CRgbImage& img, int x, int y, CRgb c) {
  for (int r = 0; r < kSwatch; ++r) {
    img.FillRect(x, y + r, kSwatch, 1, c);
    auto up = [](uint8_t v) { return static_cast<uint8_t>(v >= 244 ? 255 : v + 12); };
    c = CRgb{up(c.r), up(c.g), up(c.b)};
  }
  const CRgb black{0, 0, 0}, white{255, 255, 255};
  img.FillRect(x, y, kSwatch, 1, black);
  img.FillRect(x, y, 1, kSwatch, black);
  img.FillRect(x + 1, y + kSwatch - 2, kSwatch - 2, 1, white);
  img.FillRect(x + kSwatch - 2, y + 1, 1, kSwatch - 2, white);
}

void DrawLegend(CRgbImage& img, const CMapPictureLayout& l, const CMapBytes* bytes,
                const CMapGeometry& g, const CVisibleRange& range) {
  const int w = img.Width();
  const CRgb white{255, 255, 255};
  img.FillRect(0, l.m_nMapTop - kGap, w, kGap, kWindowBackground);
  img.FillRect(0, l.m_nLegendTop, w, l.m_nLegendHeight, kWindowBackground);
  int x = 6;
  int y = l.m_nLegendTop + kGap;
  for (int c : kLegendOrder) {
    const int itemWidth = LegendItemWidth(c);
    if (x > 6 && x + itemWidth > w) {
      x = 6;
      y += kLegendRow;
    }
    DrawSwatch(img, x, y, LegendColour(c));
    img.PutText(x + kSwatch + 3, y + 3, LegendText(c), white);
    x += itemWidth;
  }
  // What the picture shows, as the status bar would tell it.
  const uint64_t clusters = bytes && bytes->Length() > 0 ? bytes->Length() - 1u : 0;
  std::string info = GroupThousands(clusters) + " clusters";
  if (clusters > 0) {
    if (g.Compressed()) {
      info += ", " + GroupThousands(g.ClustersPerBlock()) + " per block";
    } else {
      const uint64_t last = std::min<uint64_t>(range.m_nLast, clusters - 1);
      info += ", showing " + GroupThousands(range.m_nFirst) + " - " + GroupThousands(last);
    }
  }
  img.PutText(6, y + kLegendRow + 2, info, white);
}

}  // namespace

bool CheckMapPictureOptions(const MapPictureOptions& o, std::string* error) {
  std::string why;
  if (o.width < 1 || o.width > kMaxSide)
    why = "the width must be 1 to " + std::to_string(kMaxSide) + " pixels";
  else if (o.height < 1 || o.height > kMaxSide)
    why = "the height must be 1 to " + std::to_string(kMaxSide) + " pixels";
  else if (o.blockSize < 1 || o.blockSize > 10)
    why = "the block size must be 1 to 10";
  if (why.empty()) return true;
  if (error) *error = why;
  return false;
}

CMapPictureLayout MapPictureLayout(const MapPictureOptions& o) {
  CMapPictureLayout l;
  l.m_nStripTop = 0;
  l.m_nStripHeight = kStripBand;
  l.m_nStripImageTop = kStripImageInset;
  l.m_nStripImageHeight = kStripBand - 2 * kStripImageInset;
  l.m_nMapTop = kStripBand + kGap;
  l.m_nLegendTop = l.m_nMapTop + o.height;
  // Legend rows, then one line of figures.
  l.m_nLegendHeight = kGap + LegendRows(o.width) * kLegendRow + kLegendRow + kGap;
  l.m_nHeight = l.m_nLegendTop + l.m_nLegendHeight;
  return l;
}

bool RenderMapPicture(const ClusterMap& map, const MapPictureOptions& o, CRgbImage* out,
                      std::string* error) {
  if (!CheckMapPictureOptions(o, error)) return false;
  const CMapSnapshot snapshot = map.Snapshot();
  const CMapBytes* bytes = snapshot.get();
  const uint64_t length = bytes ? bytes->Length() : 0;
  const CMapGeometry g(o.width, o.height, o.blockSize, !o.uncompressed, length);
  uint64_t position = 0;
  if (o.uncompressed) {
    const uint64_t perRow = std::max<uint64_t>(g.ClustersPerRow(), 1);
    position = std::min(o.firstCluster / perRow, g.ScrollMax());
  }
  const CVisibleRange range = g.VisibleRange(position);
  const CMapPictureLayout l = MapPictureLayout(o);
  CRgbImage img(o.width, l.m_nHeight, kWindowBackground);
  DrawStrip(img, l, bytes, g, range);
  DrawMap(img, l.m_nMapTop, bytes, g, position);
  DrawLegend(img, l, bytes, g, range);
  *out = std::move(img);
  return true;
}

bool WriteMapPng(const ClusterMap& map, const MapPictureOptions& o, const std::string& path,
                 std::string* error) {
  CRgbImage img;
  if (!RenderMapPicture(map, o, &img, error)) return false;
  return WritePngFile(img, path, error);
}

}  // namespace vt
