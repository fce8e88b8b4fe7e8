#include <gtest/gtest.h>

#include "engine/records.h"

namespace vt {
namespace {

CFileItem ItemWith(std::initializer_list<CFileClusterItem> fragments) {
  CFileItem item;
  for (const auto& f : fragments) item.m_fragments.Add(f);
  return item;
}

TEST(FileItem, FragmentationDegree) {
  EXPECT_DOUBLE_EQ(ItemWith({}).GetFragmentationDegree(), 0.0);
  EXPECT_DOUBLE_EQ(ItemWith({{10, 50}}).GetFragmentationDegree(), 0.0);
  EXPECT_DOUBLE_EQ(ItemWith({{1, 1}, {3, 1}, {5, 1}}).GetFragmentationDegree(), 100.0);
  // No counted clusters: the divisor is taken as 1.
  EXPECT_DOUBLE_EQ(ItemWith({{1, 0}, {3, 0}}).GetFragmentationDegree(), 200.0);
  EXPECT_DOUBLE_EQ(ItemWith({{1, 3}, {9, 1}}).GetFragmentationDegree(), 50.0);
}

TEST(FileItem, ClusterSumWrapsAt32Bits) {
  CFileItem item = ItemWith({{0, 0xFFFFFFFFu}, {0x200000000ull, 2}});
  EXPECT_EQ(item.GetClusters(), 1u);
}

TEST(FileItem, CopyReplacesFragmentsAndSelfAssignKeepsThem) {
  CFileItem a = ItemWith({{1, 2}, {7, 3}});
  a.m_strName = "a.txt";
  a.m_nSize = 99;
  a.m_wFlags = FI_VIRTUAL;
  CFileItem b = ItemWith({{100, 1}, {200, 1}, {300, 1}});
  b = a;
  ASSERT_EQ(b.m_fragments.GetSize(), 2u);
  EXPECT_EQ(b.m_fragments[1].m_nLcn, 7u);
  EXPECT_EQ(b.m_strName, "a.txt");
  EXPECT_EQ(b.m_nSize, 99u);
  EXPECT_EQ(b.m_wFlags, FI_VIRTUAL);
  CFileItem& alias = a;
  a = alias;
  ASSERT_EQ(a.m_fragments.GetSize(), 2u);
  EXPECT_EQ(a.m_fragments[0].m_nClusters, 2u);
}

std::vector<uint64_t> Lcns(const CSortedArray& array) {
  std::vector<uint64_t> out;
  for (const auto& e : array) out.push_back(e.m_nLcn);
  return out;
}

TEST(SortedArray, SortsHighestLcnFirst) {
  CSortedArray array;
  for (uint64_t lcn : {5, 900, 12}) array.Add({lcn, 1, 0});
  array.Sort(0, -1);
  EXPECT_EQ(Lcns(array), (std::vector<uint64_t>{900, 12, 5}));
}

TEST(SortedArray, EmptyAndSingleAndPartialRanges) {
  CSortedArray empty;
  empty.Sort(0, -1);
  EXPECT_EQ(empty.GetSize(), 0u);

  CSortedArray one;
  one.Add({42, 1, 3});
  one.Sort(0, -1);
  EXPECT_EQ(Lcns(one), (std::vector<uint64_t>{42}));

  CSortedArray part;
  for (uint64_t lcn : {1, 2, 3, 4, 5}) part.Add({lcn, 1, 0});
  part.Sort(1, 3);  // only the middle three
  EXPECT_EQ(Lcns(part), (std::vector<uint64_t>{1, 4, 3, 2, 5}));
  part.Sort(3, 3);  // first >= last: unchanged
  EXPECT_EQ(Lcns(part), (std::vector<uint64_t>{1, 4, 3, 2, 5}));
}

TEST(SortedArray, LargeShuffledInputWithDuplicates) {
  CSortedArray array;
  uint64_t x = 12345;
  for (int i = 0; i < 5000; ++i) {
    x = x * 6364136223846793005ull + 1442695040888963407ull;
    array.Add({(x >> 33) % 700, 1, i});
  }
  array.Sort();
  for (size_t i = 1; i < array.GetSize(); ++i) ASSERT_GE(array[i - 1].m_nLcn, array[i].m_nLcn);
}

TEST(GrowableArray, GrowsInFixedSteps) {
  CGrowableArray<int> a;
  a.SetGrowBy(100);
  a.Add(1);
  EXPECT_EQ(a.GetCapacity(), 100u);
  for (int i = 0; i < 100; ++i) a.Add(i);
  EXPECT_EQ(a.GetCapacity(), 200u);
  a.RemoveAll();
  EXPECT_EQ(a.GetCapacity(), 0u);
}

}  // namespace
}  // namespace vt
