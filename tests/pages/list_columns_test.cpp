// The lists' column widths: the page's split kept where every text fits,
// room moved to the columns whose header or cells would be cut.
#include "pages/list_columns.h"

#include <gtest/gtest.h>

#include <numeric>

namespace vt {
namespace {

int Sum(const std::vector<int>& v) { return std::accumulate(v.begin(), v.end(), 0); }

TEST(ListColumns, ThePagesSplitOfTheWidth) {
  EXPECT_EQ(EqualColumns(700, 7), std::vector<int>(7, 100));
  EXPECT_TRUE(EqualColumns(700, 0).empty());
  // 1000 / 10 = 100: Name 200, five columns 100, Folder the rest.
  const std::vector<int> files = FileListColumns(1000, 7);
  EXPECT_EQ(files, (std::vector<int>{200, 100, 100, 100, 100, 100, 300}));
  EXPECT_EQ(Sum(FileListColumns(1003, 7)), 1003);
}

TEST(ListColumns, AColumnThatWouldBeCutTakesRoomFromTheWidestSpare) {
  // "not fragmented" and "Fragmentation Degree" need 110 and 125; Folder
  // (300, needs 40) has the most to spare and gives it.
  const std::vector<int> base = {200, 100, 100, 100, 100, 100, 300};
  const std::vector<int> need = {150, 60, 110, 60, 125, 90, 40};
  const std::vector<int> fit = FitColumns(base, need);
  EXPECT_EQ(fit, (std::vector<int>{200, 100, 110, 100, 125, 100, 265}));
  EXPECT_EQ(Sum(fit), Sum(base));
  for (size_t i = 0; i < fit.size(); ++i) EXPECT_GE(fit[i], need[i]) << i;
}

TEST(ListColumns, EveryTextFitsOrNothingMoves) {
  const std::vector<int> base(7, 100);
  EXPECT_EQ(FitColumns(base, std::vector<int>(7, 80)), base);
  // Too little room for all: no giver drops below its own need, the short
  // column gets what there is.
  const std::vector<int> need = {100, 100, 100, 100, 100, 100, 160};
  const std::vector<int> fit = FitColumns(base, need);
  EXPECT_EQ(fit, base);
  const std::vector<int> some = FitColumns(base, {90, 95, 100, 100, 100, 100, 160});
  EXPECT_EQ(some, (std::vector<int>{90, 95, 100, 100, 100, 100, 115}));
  // Lists of unequal length: the extra widths stay as they are.
  EXPECT_EQ(FitColumns({50, 60}, {70}), (std::vector<int>{50, 60}));
}

}  // namespace
}  // namespace vt
