#include "pages/list_columns.h"

#include <algorithm>

namespace vt {

std::vector<int> FitColumns(const std::vector<int>& base, const std::vector<int>& need) {
  std::vector<int> widths = base;
  const size_t n = std::min(base.size(), need.size());
  for (size_t i = 0; i < n; ++i) {
    int shortBy = need[i] - widths[i];
    while (shortBy > 0) {
      // The column with the most room beyond its own need gives first.
      size_t giver = n;
      int spare = 0;
      for (size_t j = 0; j < n; ++j) {
        if (j == i) continue;
        const int room = widths[j] - std::max(need[j], 0);
        if (room > spare) {
          spare = room;
          giver = j;
        }
      }
      if (giver == n) break;
      const int take = std::min(shortBy, spare);
      widths[giver] -= take;
      widths[i] += take;
      shortBy -= take;
    }
  }
  return widths;
}

std::vector<int> EqualColumns(int width, int count) {
  if (count <= 0) return {};
  return std::vector<int>(static_cast<size_t>(count), std::max(width, 0) / count);
}

std::vector<int> FileListColumns(int width, int count) {
  if (count <= 0) return {};
  width = std::max(width, 0);
  const int w = width / (count + 3);
  std::vector<int> widths(static_cast<size_t>(count), w);
  widths[0] = 2 * w;
  if (count > 1) widths.back() = width - 2 * w - w * (count - 2);
  return widths;
}

}  // namespace vt
