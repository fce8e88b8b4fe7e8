#include "app/main_window_logic.h"

#include <algorithm>

#include "base/text.h"

namespace vt {

bool ProgressPercent(uint64_t value, uint64_t range, std::string* text) {
  if (range == 0) return false;
  double percent = 100.0 * static_cast<double>(value) / static_cast<double>(range);
  if (percent > 100.0) percent = 100.0;
  *text = Format("%.01f%%", percent);
  return true;
}

std::string ThroughputText(bool running, uint64_t movedClusters, uint32_t bytesPerCluster,
                           uint32_t startTick, uint32_t nowTick) {
  if (!running || bytesPerCluster == 0) return std::string();
  const uint64_t bytes = movedClusters * bytesPerCluster;
  const uint64_t seconds = static_cast<uint32_t>(nowTick - startTick) / 1000 + 1;
  return FormatByteSize(bytes / seconds) + " / sec";
}

CRangeLabels MakeRangeLabels(uint64_t first, uint64_t last, uint64_t clustersPerRow,
                             uint64_t rows) {
  CRangeLabels labels;
  if (last == 0) return labels;
  labels.m_nTopLeft = first;
  // Rows past the volume's end are empty: the labels stop at its last row.
  labels.m_nTopRight = std::min(last, first + (clustersPerRow ? clustersPerRow - 1 : 0));
  const uint64_t lastRow = clustersPerRow ? (last - first) / clustersPerRow : 0;
  labels.m_nBottomLeft = first + clustersPerRow * std::min(lastRow, rows ? rows - 1 : 0);
  labels.m_nBottomRight = last;
  return labels;
}

std::string BlockSizeLabel(unsigned blockSize) { return Format("Block size (%u): ", blockSize); }

std::string ViewDescription(bool compressed, unsigned clustersPerBlock, uint64_t first,
                            uint64_t last, uint64_t driveBytes, uint32_t bytesPerCluster) {
  if (last == 0) return std::string();
  std::string text = compressed
                         ? Format("Compressed view (1 Block = %u Clusters)", clustersPerBlock)
                         : std::string("Uncompressed view (1 Block = 1 Cluster)");
  if (bytesPerCluster != 0) {
    const uint64_t bytes = compressed ? driveBytes : (last - first) * bytesPerCluster;
    text += "   " + FormatByteSize(bytes) + " viewable";
  }
  return text;
}

int SliderPosition(int code, int thumbPosition, int current) {
  // SB_LINELEFT 0, SB_LINERIGHT 1, SB_PAGELEFT 2, SB_PAGERIGHT 3,
  // SB_THUMBPOSITION 4, SB_THUMBTRACK 5, SB_LEFT 6, SB_RIGHT 7.
  int position = current;
  switch (code) {
    case 0:
    case 2:
      position = current - 1;
      break;
    case 1:
    case 3:
      position = current + 1;
      break;
    case 4:
    case 5:
      position = thumbPosition;
      break;
    case 6:
      position = 1;
      break;
    case 7:
      position = 9999;
      break;
    default:
      break;
  }
  return std::clamp(position, kMinBlockSize, kMaxBlockSize);
}

int TabAfterChange(int selected, int remembered, long busyCount) {
  return busyCount > 0 && selected != remembered ? remembered : selected;
}

void StatusPaneEdges(int clientWidth, int scrollBarWidth, int edges[3], int middleWidth) {
  middleWidth = std::max(100, middleWidth);
  const int first = std::max(0, clientWidth - scrollBarWidth - 216 - (middleWidth - 100));
  edges[0] = first;
  edges[1] = first + middleWidth;
  edges[2] = -1;  // to the right edge
}

int MinTrackHeight(int mapHeight, int windowHeight) {
  if (mapHeight <= 200) return std::max(kMinWindowHeight, windowHeight);
  return kMinWindowHeight;
}

void CLayoutSize::Start(int width, int height) {
  m_bStarted = true;
  m_nWidth = width;
  m_nHeight = height;
}

bool CLayoutSize::Resize(int width, int height, int* dx, int* dy) {
  *dx = *dy = 0;
  if (!m_bStarted) return false;
  *dx = width - m_nWidth;
  *dy = height - m_nHeight;
  m_nWidth = width;
  m_nHeight = height;
  return true;
}

bool CTabPages::Select(int index, bool hide[4]) {
  for (int i = 0; i < 4; ++i) {
    hide[i] = i != index && m_bShown[i];
    if (hide[i]) m_bShown[i] = false;
  }
  const bool show = index >= 0 && index < 4 && !m_bShown[index];
  if (show) m_bShown[index] = true;
  m_nCurrent = index;
  return show;
}

bool CDeferredStart::Poll(long busyCount) {
  if (!m_bPending || busyCount > 0) return false;
  m_bPending = false;
  return true;
}

int CentredRowLeft(int clientWidth, int rowWidth, int margin) {
  return std::max(margin, (clientWidth - rowWidth) / 2);
}

int MapFrameWidth(int clientWidth, int scrollBarWidth, int left, int blockSize) {
  if (blockSize < 1) blockSize = 1;
  const int room = clientWidth - scrollBarWidth - left;
  return room <= 0 ? 0 : room / blockSize * blockSize;
}

std::string VersionText(const std::string& fileVersion) { return "Version: " + fileVersion; }

}  // namespace vt
