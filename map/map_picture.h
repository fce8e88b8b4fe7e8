// The cluster map drawn as the map window shows it, with the overview strip
// above and the legend below, into an image or a PNG file.
#pragma once

#include <cstdint>
#include <string>

#include "map/rgb_image.h"

namespace vt {

class ClusterMap;

struct MapPictureOptions {
  int width = 705;    // the map's client width in pixels
  int height = 400;   // the map's client height in pixels
  int blockSize = 7;  // 1..10
  bool uncompressed = false;
  uint64_t firstCluster = 0;  // uncompressed view: this cluster's row is on top
};

// Where the parts sit in the picture: strip band on top, then the map, then
// the legend band. The picture is options.width wide.
struct CMapPictureLayout {
  int m_nStripTop = 0;
  int m_nStripHeight = 0;  // the strip band (frame) height
  int m_nStripImageTop = 0;
  int m_nStripImageHeight = 0;
  int m_nMapTop = 0;
  int m_nLegendTop = 0;
  int m_nLegendHeight = 0;
  int m_nHeight = 0;  // whole picture
};

// Checks the options; false with the reason when they cannot be drawn.
bool CheckMapPictureOptions(const MapPictureOptions& options, std::string* error);
CMapPictureLayout MapPictureLayout(const MapPictureOptions& options);

bool RenderMapPicture(const ClusterMap& map, const MapPictureOptions& options, CRgbImage* out,
                      std::string* error);
bool WriteMapPng(const ClusterMap& map, const MapPictureOptions& options, const std::string& path,
                 std::string* error);

}  // namespace vt
