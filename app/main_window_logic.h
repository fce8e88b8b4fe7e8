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
// takes them. A middle pane whose text needs more than 100 pixels takes
// them from pane 0 (which never goes below 0).
void StatusPaneEdges(int clientWidth, int scrollBarWidth, int edges[3], int middleWidth = 100);

// The minimum tracking height: 400 pixels, or the window's current height
// while the map has 200 pixels or less.
int MinTrackHeight(int mapHeight, int windowHeight);

// The client size the controls are laid out for. Resizes before the first
// Start (the saved position restored while the dialog is being set up)
// move nothing; afterwards each gives its change from the last.
class CLayoutSize {
 public:
  void Start(int width, int height);
  bool Started() const { return m_bStarted; }
  // False (and no change) before Start.
  bool Resize(int width, int height, int* dx, int* dy);

 private:
  bool m_bStarted = false;
  int m_nWidth = 0;
  int m_nHeight = 0;
};

// Which page of the tab control is shown. The pages' shown state is kept
// here, not read from the windows: before the main window is first shown
// every page reads as invisible.
class CTabPages {
 public:
  // Makes index the shown page; hide[i] tells which pages to hide, the
  // result whether index must be shown.
  bool Select(int index, bool hide[4]);
  int Current() const { return m_nCurrent; }

 private:
  bool m_bShown[4] = {false, false, false, false};
  int m_nCurrent = -1;
};

// A free-space pass asked for by an operation that is still running (the
// file defragmentation's "Would you like to do this now?"): it starts once
// the busy counter is back at 0.
class CDeferredStart {
 public:
  void Request() { m_bPending = true; }
  bool Pending() const { return m_bPending; }
  // True once, at the first poll with nothing running.
  bool Poll(long busyCount);
  void Drop() { m_bPending = false; }

 private:
  bool m_bPending = false;
};

// The left edge of the row of the block-size label, slider, check box and
// view description: centred in the client width, never left of margin.
int CentredRowLeft(int clientWidth, int rowWidth, int margin);

// Width of the map frame: whole blocks before the scroll bar.
int MapFrameWidth(int clientWidth, int scrollBarWidth, int left, int blockSize);

// "Version: %s" of the version resource's "FileVersion".
std::string VersionText(const std::string& fileVersion);

}  // namespace vt
