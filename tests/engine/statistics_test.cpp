#include <gtest/gtest.h>

#include "engine/statistics.h"
#include "base/text.h"
#include "pages/file_rows.h"
#include "tests/support/engine_fixture.h"

namespace vt {
namespace test {
namespace {

using Statistics = EngineTest;

TEST_F(Statistics, FragmentedFilesAndPercentage) {
  volume.totalClusters = 1000;
  volume.used.assign(1000, 0);
  volume.root.AddFile("one.bin", 4096 * 10, {{10, 100}});
  volume.root.AddFile("two.bin", 4096 * 30, {{10, 200}, {30, 300}});      // 2 fragments, 30 clusters
  volume.root.AddFile("three.bin", 4096 * 20, {{5, 400}, {10, 500}, {20, 600}});  // 3, 20
  FakeNode* folder = volume.root.AddFolder("Dir");
  folder->extents = {{1, 700}, {2, 800}};  // a fragmented folder is not counted on FAT
  ASSERT_TRUE(Analyze());
  ComputeDriveStatistics(*engine, drive);
  EXPECT_EQ(drive.m_nFragmentedFiles, 2u);
  EXPECT_EQ(drive.m_nFragments, 5u);
  EXPECT_DOUBLE_EQ(drive.m_dPercentFragmented, 50.0 * 100.0 / 1000.0);
  EXPECT_EQ(drive.m_nItems, 5u);  // 2 folders + 3 files
  EXPECT_EQ(Format("%.02f%%", drive.m_dPercentFragmented), "5.00%");
}

TEST_F(Statistics, NothingFragmentedIsZeroPercent) {
  volume.root.AddFile("one.bin", 4096, {{1, 100}});
  ASSERT_TRUE(Analyze());
  ComputeDriveStatistics(*engine, drive);
  EXPECT_EQ(drive.m_nFragmentedFiles, 0u);
  EXPECT_EQ(Format("%.02f%%", drive.m_dPercentFragmented), "0.00%");
}

TEST(StatisticsRules, SystemItemsAndNtfsFolders) {
  CFileItem mft;
  mft.m_strName = "$MFT";
  mft.m_wFlags = FI_UNMOVABLE;
  EXPECT_FALSE(IsCountedItem(mft, true));
  mft.m_wFlags = 0;
  EXPECT_TRUE(IsCountedItem(mft, true));  // "$" alone does not exclude
  CFileItem folder;
  folder.m_strName = "Dir";
  folder.m_wFlags = FI_DIRECTORY;
  EXPECT_TRUE(IsCountedItem(folder, true));
  EXPECT_FALSE(IsCountedItem(folder, false));
}

TEST_F(Statistics, ReportLines) {
  volume.totalClusters = 1000;
  volume.used.assign(1000, 1);
  volume.SetUsed(100, 300, false);  // the largest free run: 300 clusters
  volume.SetUsed(500, 20, false);
  volume.root.AddFile("two.bin", 4096 * 30, {{10, 200}, {30, 300}});
  ASSERT_TRUE(Analyze());
  ComputeDriveStatistics(*engine, drive);
  auto lines = AnalysisReportLines(*engine, drive, 3723004);
  std::vector<std::string> labels;
  for (const auto& l : lines) labels.push_back(l.label);
  EXPECT_EQ(labels, (std::vector<std::string>{"Total time:", "Files per second:", "Total files:",
                                              "Total folders:", "Total clusters:",
                                              "Total fragments:", "Fragmented files:",
                                              "Largest free block:"}));
  EXPECT_EQ(lines[0].value, "01:02:03");
  EXPECT_EQ(lines[4].value, "1,000");
  EXPECT_EQ(lines[5].value, "2");
  EXPECT_EQ(lines[7].value, "1.17 MB");  // 300 clusters of 4 KB
  EXPECT_EQ(AnalysisHeading(drive), "Analyze Drive C:\\");
}

TEST(StatisticsRules, FilesPerSecondCountsZeroElapsedAsOneMillisecond) {
  EXPECT_EQ(FilesPerSecond(10, 2, 0), 12000u);
  EXPECT_EQ(FilesPerSecond(10, 2, 1), 12000u);
  EXPECT_EQ(FilesPerSecond(1000, 0, 3000), 333u);
}

TEST(TextFormats, GroupedNumbersSizesAndTimes) {
  EXPECT_EQ(GroupThousands(0), "0");
  EXPECT_EQ(GroupThousands(999), "999");
  EXPECT_EQ(GroupThousands(1000), "1,000");
  EXPECT_EQ(GroupThousands(1234567), "1,234,567");
  EXPECT_EQ(GroupThousands(18446744073709551615ull), "18,446,744,073,709,551,615");

  EXPECT_EQ(FormatByteSize(0), "0 bytes");
  EXPECT_EQ(FormatByteSize(1023), "1023 bytes");
  EXPECT_EQ(FormatByteSize(1024), "1.00 KB");
  EXPECT_EQ(FormatByteSize(1536), "1.50 KB");
  EXPECT_EQ(FormatByteSize(10239), "9.99 KB");  // truncated, not rounded
  EXPECT_EQ(FormatByteSize(12345), "12.0 KB");
  EXPECT_EQ(FormatByteSize(123456), "120 KB");
  EXPECT_EQ(FormatByteSize(1024000), "0.97 MB");
  EXPECT_EQ(FormatByteSize(5ull << 30), "5.00 GB");
  EXPECT_EQ(FormatByteSize(1500ull << 30), "1.46 TB");

  EXPECT_EQ(FormatElapsed(0), "00:00:00");
  EXPECT_EQ(FormatElapsed(59999), "00:00:59");
  EXPECT_EQ(FormatElapsed(90061000), "01:01:01");  // a day and more: hours within the day
  EXPECT_EQ(FormatElapsed(90061000, true), "1:01:01:01");
}

TEST(FileRows, DateOfAFileTimeAsStored) {
  // 2008-03-14 00:00:00 UTC.
  const uint64_t ticks = (1205452800ull + 11644473600ull) * 10000000ull;
  FILETIME ft = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  EXPECT_EQ(FileTimeDateText(ft), "3/14/2008");
  FILETIME epoch = {0, 0};
  EXPECT_EQ(FileTimeDateText(epoch), "1/1/1601");
  // 2000-02-29 23:59:59.
  const uint64_t leap = (951868799ull + 11644473600ull) * 10000000ull;
  FILETIME lf = {static_cast<DWORD>(leap), static_cast<DWORD>(leap >> 32)};
  EXPECT_EQ(FileTimeDateText(lf), "2/29/2000");
}

using FileList = EngineTest;

TEST_F(FileList, RowsFilterAndCells) {
  FakeNode* data = volume.root.AddFolder("Data");
  data->extents = {{1, 40}};
  data->AddFile("Report.DOC", 4096 * 4, {{2, 100}, {4, 200}});
  data->AddFile("plain.txt", 10, {{1, 300}});
  volume.root.AddFile("notes.doc", 4096 * 3, {{1, 400}, {2, 500}, {3, 600}});
  ASSERT_TRUE(Analyze());

  auto rows = CollectFileRows(*engine, false, false, "");
  SortRowsByFragmentsDescending(*engine, rows);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].m_strName, "notes.doc");
  EXPECT_EQ(rows[0].m_strFragments, "3");
  EXPECT_EQ(rows[0].m_strClusters, "3");
  EXPECT_EQ(rows[0].m_strDegree, "100.000");
  EXPECT_EQ(rows[0].m_strFolder, "C:");
  EXPECT_EQ(rows[1].m_strFolder, "C:\\Data");
  EXPECT_EQ(rows[1].m_strSize, "16.0 KB");
  EXPECT_EQ(FragmentedCountText(*engine, rows), "Total fragmented files: 2");

  // The filter matches names, else folder paths, case-insensitively.
  auto byName = CollectFileRows(*engine, false, false, "REPORT");
  ASSERT_EQ(byName.size(), 1u);
  EXPECT_EQ(byName[0].m_strName, "Report.DOC");
  auto byFolder = CollectFileRows(*engine, false, true, "data");
  ASSERT_EQ(byFolder.size(), 2u);
  EXPECT_EQ(FragmentedCountText(*engine, byFolder), "Total fragmented files: 1 out of 2");
  for (const auto& r : byFolder) EXPECT_NE(r.m_strName, "Data");  // folders are not rows on FAT
  auto plain = CollectFileRows(*engine, false, true, "plain");
  ASSERT_EQ(plain.size(), 1u);
  EXPECT_EQ(plain[0].m_strFragments, "not fragmented");
  EXPECT_EQ(plain[0].m_strDegree, "0.000");
}

}  // namespace
}  // namespace test
}  // namespace vt
