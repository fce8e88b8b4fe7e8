#include <gtest/gtest.h>

#include <algorithm>

#include "engine/defrag.h"
#include "engine/globals.h"
#include "tests/support/engine_fixture.h"

namespace vt {
namespace test {
namespace {

constexpr uint64_t kSparse = ~0ull;

class Analysis : public EngineTest {
 protected:
  const CFileItem* Find(const std::string& name) const {
    for (const auto& item : engine->m_files)
      if (item.m_strName == name) return &item;
    return nullptr;
  }
};

TEST_F(Analysis, EmptyRootGivesOneFolderAndNoItems) {
  ASSERT_TRUE(Analyze());
  EXPECT_EQ(engine->m_folders, std::vector<std::string>{"C:"});
  // A root without entries cannot be enumerated at all (the system answers
  // "file not found"), so its walk ends before it is counted.
  EXPECT_EQ(drive.m_nFolders, 0u);
  EXPECT_EQ(drive.m_nFiles, 0u);
  EXPECT_TRUE(engine->m_files.IsEmpty());
  // The walk ends with the notify message to the window it was given.
  auto messages = sink.Messages();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().msg, static_cast<UINT>(UM_DRIVE_UPDATE));
  EXPECT_EQ(messages.back().wnd, reinterpret_cast<HWND>(static_cast<intptr_t>(0x77)));
}

TEST_F(Analysis, AdjacentExtentsMergeAndGapsSplit) {
  volume.root.AddFile("merged.bin", 20 * 4096, {{10, 100}, {20, 110}});
  volume.root.AddFile("split.bin", 20 * 4096, {{10, 100 + 200}, {20, 200 + 200}});
  ASSERT_TRUE(Analyze());
  const CFileItem* merged = Find("merged.bin");
  ASSERT_NE(merged, nullptr);
  ASSERT_EQ(merged->m_fragments.GetSize(), 1u);
  EXPECT_EQ(merged->m_fragments[0].m_nLcn, 100u);
  EXPECT_EQ(merged->m_fragments[0].m_nClusters, 20u);
  EXPECT_EQ(merged->m_nFirstLcn, 100u);

  const CFileItem* split = Find("split.bin");
  ASSERT_NE(split, nullptr);
  ASSERT_EQ(split->m_fragments.GetSize(), 2u);
  EXPECT_EQ(split->m_fragments[1].m_nLcn, 400u);
  EXPECT_EQ(split->m_fragments[1].m_nClusters, 10u);
}

TEST_F(Analysis, VirtualRunsMarkTheItemAndKeepNeighboursApart) {
  // 10 clusters at 100, a hole of 5, then 10 clusters at 115: not adjacent to
  // the first extent's end (110), so two fragments.
  volume.root.AddFile("sparse.bin", 25 * 4096, {{10, 100}, {15, kSparse}, {25, 115}});
  // A hole between two extents that are physically adjacent: one fragment.
  volume.root.AddFile("joined.bin", 25 * 4096, {{10, 300}, {15, kSparse}, {25, 310}});
  // A file starting with a hole takes its first LCN from the first real extent.
  volume.root.AddFile("leading.bin", 8 * 4096, {{4, kSparse}, {8, 500}});
  ASSERT_TRUE(Analyze());
  const CFileItem* sparse = Find("sparse.bin");
  ASSERT_NE(sparse, nullptr);
  EXPECT_NE(sparse->m_wFlags & FI_VIRTUAL, 0);
  EXPECT_EQ(sparse->m_fragments.GetSize(), 2u);
  const CFileItem* joined = Find("joined.bin");
  ASSERT_NE(joined, nullptr);
  EXPECT_NE(joined->m_wFlags & FI_VIRTUAL, 0);
  ASSERT_EQ(joined->m_fragments.GetSize(), 1u);
  EXPECT_EQ(joined->m_fragments[0].m_nClusters, 20u);
  const CFileItem* leading = Find("leading.bin");
  ASSERT_NE(leading, nullptr);
  EXPECT_EQ(leading->m_nFirstLcn, 500u);
  ASSERT_EQ(leading->m_fragments.GetSize(), 1u);
  EXPECT_EQ(leading->m_fragments[0].m_nClusters, 4u);
}

TEST_F(Analysis, RepliesCutShortAreContinued) {
  std::vector<FakeExtent> extents;
  uint64_t vcn = 0;
  for (int i = 0; i < 50; ++i) {
    vcn += 2;
    extents.push_back({vcn, static_cast<uint64_t>(10 + i * 3)});
  }
  volume.root.AddFile("many.bin", vcn * 4096, extents);
  volume.maxExtentsPerReply = 7;
  ASSERT_TRUE(Analyze());
  const CFileItem* many = Find("many.bin");
  ASSERT_NE(many, nullptr);
  ASSERT_EQ(many->m_fragments.GetSize(), 50u);
  EXPECT_EQ(many->m_fragments[49].m_nLcn, 10u + 49 * 3);
  EXPECT_EQ(many->GetClusters(), 100u);
}

TEST_F(Analysis, ReparsePointsAreNeitherRecordedNorEntered) {
  FakeNode* link = volume.root.AddFolder("junction");
  link->attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
  link->extents = {{1, 50}};
  link->AddFile("inside.txt", 10, {{1, 60}});
  volume.root.AddFile("plain.txt", 10, {{1, 70}});
  ASSERT_TRUE(Analyze());
  EXPECT_EQ(Find("junction"), nullptr);
  EXPECT_EQ(Find("inside.txt"), nullptr);
  EXPECT_NE(Find("plain.txt"), nullptr);
  EXPECT_EQ(drive.m_nFolders, 1u);
  EXPECT_EQ(drive.m_nFiles, 1u);
}

TEST_F(Analysis, FoldersAreUnmovableItemsOnFatAndCountedByTheirWalk) {
  FakeNode* data = volume.root.AddFolder("Data");
  data->extents = {{1, 40}};
  data->AddFile("a.txt", 5000, {{2, 41}});
  FakeNode* deeper = data->AddFolder("Deeper");
  deeper->extents = {{1, 43}};
  deeper->AddFile("b.txt", 10, {{1, 44}});
  ASSERT_TRUE(Analyze());
  const CFileItem* folder = Find("Data");
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(folder->m_wFlags & (FI_DIRECTORY | FI_UNMOVABLE), FI_DIRECTORY | FI_UNMOVABLE);
  EXPECT_EQ(drive.m_nFolders, 3u);
  EXPECT_EQ(drive.m_nFiles, 2u);
  EXPECT_EQ(engine->GetItemPath(*Find("a.txt")), "C:\\Data\\a.txt");
  EXPECT_EQ(engine->GetItemPath(*Find("b.txt")), "C:\\Data\\Deeper\\b.txt");
  EXPECT_EQ(engine->GetItemPath(*folder), "C:\\Data");
  EXPECT_EQ(engine->BytesAnalyzed(), 5010u);
}

TEST_F(Analysis, EmptyFilesAreCountedButNotStored) {
  volume.root.AddFile("empty.txt", 0, {});
  FakeNode* sized = volume.root.AddFile("sized.txt", 0, {{1, 90}});
  sized->handleSize = 777;  // the folder entry said 0; the handle knows better
  ASSERT_TRUE(Analyze());
  EXPECT_EQ(Find("empty.txt"), nullptr);
  ASSERT_NE(Find("sized.txt"), nullptr);
  EXPECT_EQ(Find("sized.txt")->m_nSize, 777u);
  EXPECT_EQ(drive.m_nFiles, 2u);
  EXPECT_TRUE(engine->m_errors.IsEmpty());
}

TEST_F(Analysis, ShortNameRetryThenErrorEntry) {
  FakeNode* retry = volume.root.AddFile("A very long name.txt", 10, {{1, 20}});
  retry->shortName = "AVERYL~1.TXT";
  retry->longNameOpenError = ERROR_FILE_NOT_FOUND;
  FakeNode* locked = volume.root.AddFile("locked file.dat", 12345, {{1, 30}});
  locked->shortName = "LOCKED~1.DAT";
  locked->openError = ERROR_SHARING_VIOLATION;
  FakeNode* noShort = volume.root.AddFile("x.txt", 5, {{1, 35}});
  noShort->openError = ERROR_ACCESS_DENIED;
  ASSERT_TRUE(Analyze());

  const CFileItem* byShort = Find("AVERYL~1.TXT");
  ASSERT_NE(byShort, nullptr);
  EXPECT_EQ(byShort->m_nFirstLcn, 20u);
  EXPECT_EQ(Find("locked file.dat"), nullptr);

  ASSERT_EQ(engine->m_errors.GetSize(), 2u);
  EXPECT_EQ(engine->m_errors[0].m_strPath, "C:\\locked file.dat");
  EXPECT_EQ(engine->m_errors[0].m_strMessage, "");
  EXPECT_EQ(engine->m_errors[0].m_nSize, 12345u);
  EXPECT_EQ(engine->m_errors[0].m_dwError, static_cast<uint32_t>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(engine->m_errors[1].m_strPath, "C:\\x.txt");
  EXPECT_EQ(engine->m_errors[1].m_dwError, static_cast<uint32_t>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(drive.m_nFiles, 3u);
  EXPECT_EQ(volume.openHandles(), 1u);  // only the volume
}

TEST_F(Analysis, LongPathsAreWalkedAndUnlistableFoldersReported) {
  FakeNode* folder = &volume.root;
  for (int i = 0; i < 9; ++i)
    folder = folder->AddFolder("Überschrift über lange Ordnernamen " + std::to_string(i));
  folder->AddFile("Отчёт 🎉.txt", 10, {{2, 40}});
  FakeNode* locked = volume.root.AddFolder("locked");
  locked->openError = ERROR_ACCESS_DENIED;
  locked->AddFile("inside.dat", 10, {{1, 60}});
  ASSERT_TRUE(Analyze());

  const CFileItem* deep = Find("Отчёт 🎉.txt");
  ASSERT_NE(deep, nullptr);
  EXPECT_GT(engine->GetItemPath(*deep).size(), 300u);
  EXPECT_EQ(deep->m_nFirstLcn, 40u);
  // The folder itself is an error entry, and so is the walk into it.
  ASSERT_EQ(engine->m_errors.GetSize(), 2u);
  EXPECT_EQ(engine->m_errors[1].m_strPath, "C:\\locked");
  EXPECT_EQ(engine->m_errors[1].m_dwError, static_cast<uint32_t>(ERROR_PATH_NOT_FOUND));
}

TEST_F(Analysis, AWalkDeeperThanAnyRealVolumeEndsWithAnErrorEntry) {
  FakeNode* folder = &volume.root;
  for (int i = 0; i < 300; ++i) folder = folder->AddFolder("d");
  ASSERT_TRUE(Analyze());
  ASSERT_EQ(engine->m_errors.GetSize(), 1u);
  EXPECT_EQ(engine->m_errors[0].m_dwError, static_cast<uint32_t>(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_EQ(
      std::count(engine->m_errors[0].m_strPath.begin(), engine->m_errors[0].m_strPath.end(), '\\'),
      257);
}

TEST_F(Analysis, NameFilterAnalysesOneEntry) {
  FakeNode* data = volume.root.AddFolder("Data");
  data->extents = {{1, 10}};
  data->AddFile("a.txt", 1, {{1, 11}});
  data->AddFile("b.txt", 1, {{1, 12}});
  data->AddFile("c.txt", 1, {{1, 13}});
  FakeNode* sub = data->AddFolder("Sub");
  sub->extents = {{1, 14}};
  sub->AddFile("d.txt", 1, {{1, 15}});
  sub->AddFolder("Inner")->AddFile("e.txt", 1, {{1, 16}});
  sub->children.back()->extents = {{1, 17}};
  ASSERT_TRUE(Open());
  engine->BuildFreeRunList();

  engine->ScanFolder("C:\\Data", "B.TXT");
  ASSERT_EQ(engine->m_files.GetSize(), 1u);
  EXPECT_EQ(engine->m_files[0].m_strName, "b.txt");

  engine->m_files.RemoveAll();
  engine->ScanFolder("C:\\Data", "sub");
  std::vector<std::string> names;
  for (const auto& item : engine->m_files) names.push_back(item.m_strName);
  EXPECT_EQ(names, (std::vector<std::string>{"Sub", "d.txt", "Inner", "e.txt"}));
}

TEST_F(Analysis, FolderProgressEveryTwoHundredFolders) {
  for (int i = 0; i < 400; ++i) volume.root.AddFolder("f" + std::to_string(i));
  ASSERT_TRUE(Analyze());
  EXPECT_EQ(drive.m_nFolders, 401u);
  // Folder counts 0, 200 and 400 announce themselves; 199 and 201 do not.
  EXPECT_EQ(
      sink.ProgressTexts(PROGRESS_TEXT),
      (std::vector<std::string>{"Analyzing: C:", "Analyzing: C:\\f199", "Analyzing: C:\\f399"}));
}

TEST_F(Analysis, ProgressRangeIsTheUsedBytes) {
  volume.totalClusters = 1000;
  volume.used.assign(1000, 0);
  volume.SetUsed(0, 250);
  ASSERT_TRUE(Analyze());
  auto ranges = sink.ProgressValues(PROGRESS_RANGE);
  ASSERT_EQ(ranges.size(), 1u);
  EXPECT_EQ(ranges[0], 250u * 4096);
}

TEST_F(Analysis, MapRefreshIntervalGrows) {
  for (int i = 0; i < 2300; ++i)
    volume.root.AddFile("f" + std::to_string(i), 1, {{1, static_cast<uint64_t>(i)}});
  ASSERT_TRUE(Analyze());
  // Refreshes at 100, then every interval that grows by 500: 600, 1100, ...
  // but a refresh only happens when the file count is a multiple of the
  // current interval: 100, 600, 1200 (interval 1100 -> no, 1100 hit first).
  std::vector<size_t> expected;
  uint64_t interval = 100;
  for (uint64_t n = 1; n <= 2300; ++n) {
    if (n % interval == 0) {
      expected.push_back(n);
      if (interval < 20000) interval += 500;
    }
  }
  EXPECT_EQ(map.rebuildsAtFileCount, expected);
  EXPECT_EQ(expected.front(), 100u);
  EXPECT_EQ(engine->m_nRefreshInterval, interval);
  // Posted byte totals at multiples of 5000 files: none here; notify sends
  // at 2000 and at the end.
  size_t notifies = 0;
  for (const auto& m : sink.Messages())
    if (m.msg == UM_DRIVE_UPDATE) ++notifies;
  EXPECT_EQ(notifies, 2u);
}

TEST_F(Analysis, UnattendedRunDoesNotRebuildTheMap) {
  for (int i = 0; i < 250; ++i)
    volume.root.AddFile("f" + std::to_string(i), 1, {{1, static_cast<uint64_t>(i)}});
  SetUnattended(true);
  ASSERT_TRUE(Analyze());
  EXPECT_TRUE(map.rebuildsAtFileCount.empty());
}

TEST_F(Analysis, CancelStopsTheWalkButStillSucceeds) {
  for (int i = 0; i < 10; ++i)
    volume.root.AddFile("f" + std::to_string(i), 1, {{1, static_cast<uint64_t>(i)}});
  ASSERT_TRUE(Open());
  SetCancel(true);
  EXPECT_TRUE(engine->AnalyzeVolume(nullptr));
  EXPECT_TRUE(engine->m_files.IsEmpty());
}

TEST_F(Analysis, LookupsByCluster) {
  volume.root.AddFile("a", 1, {{2, 10}, {4, 20}});
  volume.root.AddFile("b", 1, {{3, 30}});
  volume.SetUsed(10, 2);
  volume.SetUsed(20, 2);
  volume.SetUsed(30, 3);
  ASSERT_TRUE(Analyze());
  ASSERT_NE(engine->FindFileAtCluster(21), nullptr);
  EXPECT_EQ(engine->FindFileAtCluster(21)->m_strName, "a");
  EXPECT_EQ(engine->FindFileAtCluster(32)->m_strName, "b");
  EXPECT_EQ(engine->FindFileAtCluster(33), nullptr);
  CClusterItem run;
  ASSERT_TRUE(engine->FindFreeRunAtCluster(15, &run));
  EXPECT_EQ(run.m_nLcn, 12u);
  EXPECT_EQ(run.m_nClusters, 8u);
  EXPECT_FALSE(engine->FindFreeRunAtCluster(31, &run));
  engine->m_mapRuns.Add({500, 10, RUN_MAP});
  EXPECT_TRUE(engine->FindMapRunAtCluster(509, &run));
  EXPECT_FALSE(engine->FindMapRunAtCluster(510, &run));
}

class FreeRuns : public EngineTest {
 protected:
  std::vector<std::pair<uint64_t, uint32_t>> Runs() const {
    std::vector<std::pair<uint64_t, uint32_t>> out;
    for (const auto& r : engine->m_freeRuns) out.push_back({r.m_nLcn, r.m_nClusters});
    return out;
  }
};

TEST_F(FreeRuns, RunsBetweenUsedClustersAndToTheEnd) {
  volume.totalClusters = 100;
  volume.used.assign(100, 0);
  volume.SetUsed(0, 10);
  volume.SetUsed(20, 5);
  volume.SetUsed(50, 1);
  ASSERT_TRUE(Open());
  ASSERT_TRUE(engine->BuildFreeRunList());
  EXPECT_EQ(Runs(), (std::vector<std::pair<uint64_t, uint32_t>>{{10, 10}, {25, 25}, {51, 49}}));
  EXPECT_EQ(engine->m_freeRuns.GetGrowBy(), 12288u);
  for (const auto& r : engine->m_freeRuns) EXPECT_EQ(r.m_nState, RUN_FREE);
}

TEST_F(FreeRuns, FreeClusterZeroAndFullVolume) {
  volume.totalClusters = 64;
  volume.used.assign(64, 1);
  volume.SetUsed(0, 3, false);
  ASSERT_TRUE(Open());
  ASSERT_TRUE(engine->BuildFreeRunList());
  EXPECT_EQ(Runs(), (std::vector<std::pair<uint64_t, uint32_t>>{{0, 3}}));

  volume.used.assign(64, 1);
  ASSERT_TRUE(engine->BuildFreeRunList());
  EXPECT_TRUE(Runs().empty());
}

TEST_F(FreeRuns, ManyRepliesJoinSeamlessly) {
  // 1.5 million clusters, walked 655360 at a time; a free run straddles each
  // seam. One full reply holds them all and is asked for once (then the end
  // of the volume); replies of 655360 clusters put a reply's seam there too.
  volume.totalClusters = 1500000;
  volume.used.assign(volume.totalClusters, 1);
  volume.SetUsed(655000, 1000, false);
  volume.SetUsed(1310000, 1000, false);
  volume.SetUsed(1499990, 10, false);
  const std::vector<std::pair<uint64_t, uint32_t>> expected = {
      {655000, 1000}, {1310000, 1000}, {1499990, 10}};
  ASSERT_TRUE(Open());
  volume.bitmapCalls = 0;
  ASSERT_TRUE(engine->BuildFreeRunList());
  EXPECT_EQ(Runs(), expected);
  EXPECT_EQ(volume.bitmapCalls, 2u);

  volume.bitmapCalls = 0;
  volume.maxBitmapBytesPerReply = 655360 / 8;
  ASSERT_TRUE(engine->BuildFreeRunList());
  EXPECT_EQ(Runs(), expected);
  EXPECT_EQ(volume.bitmapCalls, 4u);
}

TEST_F(FreeRuns, WordsOfOneStateAndSingleClusterChanges) {
  // Runs that start and end at every position within a 64-bit word, single
  // free clusters between used ones, and a volume that ends mid-word.
  volume.totalClusters = 1000;
  volume.used.assign(1000, 1);
  std::vector<std::pair<uint64_t, uint32_t>> expected;
  for (uint64_t first = 1, len = 1; first + len < 990; first += len + 1 + len % 7, ++len) {
    volume.SetUsed(first, static_cast<uint32_t>(len), false);
    expected.push_back({first, static_cast<uint32_t>(len)});
  }
  volume.SetUsed(995, 5, false);
  expected.push_back({995, 5});
  volume.maxBitmapBytesPerReply = 5;  // replies that end inside a word
  ASSERT_TRUE(Open());
  ASSERT_TRUE(engine->BuildFreeRunList());
  EXPECT_EQ(Runs(), expected);
}

TEST_F(FreeRuns, SmallRepliesFromTheSystem) {
  volume.totalClusters = 1000;
  volume.used.assign(1000, 0);
  volume.SetUsed(100, 100);
  volume.maxBitmapBytesPerReply = 3;  // 24 clusters a reply
  ASSERT_TRUE(Open());
  ASSERT_TRUE(engine->BuildFreeRunList());
  EXPECT_EQ(Runs(), (std::vector<std::pair<uint64_t, uint32_t>>{{0, 100}, {200, 800}}));
}

TEST_F(FreeRuns, BitmapErrorShowsTheSystemText) {
  ASSERT_TRUE(Open());
  volume.bitmapError = ERROR_ACCESS_DENIED;
  EXPECT_FALSE(engine->BuildFreeRunList());
  EXPECT_EQ(prompt.Texts().back(), "Access is denied. ");
  engine->CloseVolume();
  EXPECT_FALSE(engine->BuildFreeRunList());
}

TEST_F(FreeRuns, ReservedAreasAreUsedOnlyOnOlderSystems) {
  volume.fsName = "NTFS";
  volume.totalClusters = 200;
  volume.used.assign(200, 0);
  volume.SetUsed(0, 10);
  volume.hasNtfsData = true;
  volume.ntfsData.BytesPerCluster = 4096;
  volume.ntfsData.MftValidDataLength.QuadPart = 4096 * 10;
  volume.ntfsData.MftStartLcn.QuadPart = 10;
  volume.ntfsData.Mft2StartLcn.QuadPart = 150;
  volume.ntfsData.MftZoneStart.QuadPart = 20;
  volume.ntfsData.MftZoneEnd.QuadPart = 60;
  ASSERT_TRUE(Open());
  ASSERT_TRUE(engine->BuildFreeRunList());
  EXPECT_EQ(Runs(), (std::vector<std::pair<uint64_t, uint32_t>>{{10, 190}}));

  system.major = 5;
  system.minor = 0;
  MakeEngine();
  ASSERT_TRUE(Open());
  ASSERT_TRUE(engine->BuildFreeRunList());
  // MFT 10..20, zone 20..60 and mirror 150..160 are kept out, ends included.
  EXPECT_EQ(Runs(), (std::vector<std::pair<uint64_t, uint32_t>>{{61, 89}, {161, 39}}));
}

}  // namespace
}  // namespace test
}  // namespace vt
