// The main window's arithmetic and texts, apart from the window: progress
// percentages and throughput, the range and view labels, the block-size
// slider, the tab rules and the layout of the map band.
#pragma once

#include <cstdint>
#include <string>

namespace vt {

// UM_PROGRESS code 4: "%.01f%%" of value against range (at most 100) and
// the bar's position. False when the range is 0 (nothing changes).
bool ProgressPercent(uint64_t value, uint64_t range, std::string* text);

// Code 5's pane 2: bytes moved per second as a size text and " / sec";
// empty without a start time or a current drive.
std::string ThroughputText(bool running, uint64_t movedClusters, uint32_t bytesPerCluster,
                           uint32_t startTick, uint32_t nowTick);

// The four range labels: first, end of the first row, start of the last
// row, last; all 0 when last is 0.
struct CRangeLabels {
  uint64_t m_nTopLeft = 0, m_nTopRight = 0, m_nBottomLeft = 0, m_nBottomRight = 0;
};
CRangeLabels MakeRangeLabels(uint64_t first, uint64_t last, uint64_t clustersPerRow, uint64_t rows);

std::string BlockSizeLabel(unsigned blockSize);
// The view description; empty while nothing is shown (last 0).
// bytesPerCluster 0: no current drive, no size.
std::string ViewDescription(bool compressed, unsigned clustersPerBlock, uint64_t first,
                            uint64_t last, uint64_t driveBytes, uint32_t bytesPerCluster);

// The slider's scroll requests (the SB_ codes) to its new position, within 1 to 10.
int SliderPosition(int code, int thumbPosition, int current);
constexpr int kMinBlockSize = 1;
constexpr int kMaxBlockSize = 10;

enum TabIndex : int { TAB_DRIVES = 0, TAB_FILES = 1, TAB_REPORT = 2, TAB_HELP = 3 };

// A tab change while busy goes back to the remembered tab.
int TabAfterChange(int selected, int remembered, long busyCount);

// The size a window may not go below, and the minimum height growing to the
// current one when the map has 200 pixels or less.
constexpr int kMinWindowWidth = 740;
constexpr int kMinWindowHeight = 400;

// Status bar panes: pane 0 the client width less the scroll bar width and
// 216 pixels, pane 1 100 pixels, pane 2 the rest. Right edges, as the bar
// takes them.
void StatusPaneEdges(int clientWidth, int scrollBarWidth, int edges[3]);

// Width of the map frame: whole blocks before the scroll bar.
int MapFrameWidth(int clientWidth, int scrollBarWidth, int left, int blockSize);

// "Version: %s" of the version resource's "FileVersion".
std::string VersionText(const std::string& fileVersion);

}  // namespace vt
