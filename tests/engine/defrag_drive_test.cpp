#include <gtest/gtest.h>

#include "engine/defrag.h"
#include "engine/globals.h"
#include "engine/statistics.h"
#include "tests/support/engine_fixture.h"

namespace vt {
namespace test {
namespace {

class DrivePass : public EngineTest {
 protected:
  DrivePass() {
    volume.totalClusters = 300;
    volume.used.assign(300, 0);
  }
  FakeNode* AddFile(const std::string& name, std::vector<FakeExtent> extents, uint64_t size = 0) {
    uint64_t vcn = 0;
    for (const auto& e : extents) {
      if (e.lcn != ~0ull) volume.SetUsed(e.lcn, e.nextVcn - vcn);
      vcn = e.nextVcn;
    }
    return volume.root.AddFile(name, size ? size : vcn * 4096, extents);
  }
  const CFileItem* Item(const std::string& name) {
    for (auto& item : engine->m_files)
      if (item.m_strName == name) return &item;
    return nullptr;
  }
  std::vector<std::string> Lines() {
    std::vector<std::string> out;
    for (const auto& e : engine->m_errors) out.push_back(e.m_strMessage);
    return out;
  }
  uint64_t Run(DefragFilter kind, double percent = 0, uint32_t size = 0,
               std::vector<std::string> types = {}) {
    EXPECT_TRUE(Analyze());
    ComputeDriveStatistics(*engine, drive);
    return engine->DefragDrive(kind, true, percent, size, types);
  }
};

TEST_F(DrivePass, MovesEveryFragmentedFile) {
  AddFile("a.bin", {{2, 10}, {4, 20}});
  AddFile("b.bin", {{1, 30}, {3, 40}});
  AddFile("one.bin", {{3, 50}});
  EXPECT_EQ(Run(AllFiles), 7u);  // 4 + 3 clusters
  EXPECT_EQ(Item("a.bin")->m_fragments.GetSize(), 1u);
  EXPECT_EQ(Item("b.bin")->m_fragments.GetSize(), 1u);
  EXPECT_TRUE(Lines().empty());
  EXPECT_EQ(sink.ProgressValues(PROGRESS_POSITION).size() >= 2, true);
  EXPECT_EQ(sink.ProgressValues(PROGRESS_RANGE).back(), 2u);  // the fragmented files
  EXPECT_EQ(sink.ProgressTexts(PROGRESS_TEXT).back(), "Defragging file: C:\\b.bin");
}

TEST_F(DrivePass, AVolumeThatRefusesWritesStopsThePassAtOnce) {
  AddFile("a.bin", {{2, 10}, {4, 20}});
  AddFile("b.bin", {{1, 30}, {3, 40}});
  volume.moveError = ERROR_DISK_CORRUPT;
  Run(AllFiles);
  EXPECT_EQ(volume.moves.size(), 1u);  // no second file is tried
  ASSERT_EQ(engine->m_errors.GetSize(), 1u);
  EXPECT_EQ(engine->m_errors[0].m_dwError, static_cast<uint32_t>(ERROR_DISK_CORRUPT));
  EXPECT_TRUE(IsCancelled());
  SetCancel(false);
}

TEST_F(DrivePass, SizeThresholdIsInclusive) {
  AddFile("exact.bin", {{1, 10}, {2, 20}}, 5000);
  AddFile("over.bin", {{1, 30}, {2, 40}}, 5001);
  Run(BySize, 0, 5000);
  EXPECT_EQ(Item("exact.bin")->m_fragments.GetSize(), 1u);
  EXPECT_EQ(Item("over.bin")->m_fragments.GetSize(), 2u);
  EXPECT_EQ(Lines(), std::vector<std::string>{"File ignored. Size equals (4.88 KB) C:\\over.bin "});
}

TEST_F(DrivePass, SizesOfFourGigabytesAreAlwaysOver) {
  AddFile("huge.bin", {{1, 10}, {2, 20}}, 1ull << 32);
  Run(BySize, 0, 0xFFFFFFFFu);
  EXPECT_EQ(Item("huge.bin")->m_fragments.GetSize(), 2u);
  ASSERT_EQ(Lines().size(), 1u);
}

TEST_F(DrivePass, PercentThresholdIsInclusive) {
  AddFile("half.bin", {{2, 10}, {4, 20}});          // 2 / 4 = 50%
  AddFile("less.bin", {{3, 30}, {6, 40}});          // 2 / 6 = 33.33%
  Run(ByPercent, 50.0);
  EXPECT_EQ(Item("half.bin")->m_fragments.GetSize(), 1u);
  EXPECT_EQ(Item("less.bin")->m_fragments.GetSize(), 2u);
  EXPECT_EQ(Lines(), std::vector<std::string>{
                         "File ignored. Percent fragmented equals (33.33%) C:\\less.bin "});
}

TEST_F(DrivePass, TypeFilters) {
  AddFile("report.final.DOC", {{1, 10}, {2, 20}});
  AddFile("noext", {{1, 30}, {2, 40}});
  AddFile("photo.jpg", {{1, 50}, {2, 60}});
  Run(OnlyTypes, 0, 0, {".doc"});
  EXPECT_EQ(Item("report.final.DOC")->m_fragments.GetSize(), 1u);
  EXPECT_EQ(Item("noext")->m_fragments.GetSize(), 1u);  // no dot: passes
  EXPECT_EQ(Item("photo.jpg")->m_fragments.GetSize(), 2u);
  EXPECT_TRUE(Lines().empty());  // type skips leave no line
}

TEST_F(DrivePass, EmptyOnlyListTakesNamesWithoutDots) {
  AddFile("a.txt", {{1, 10}, {2, 20}});
  AddFile("plain", {{1, 30}, {2, 40}});
  Run(OnlyTypes);
  EXPECT_EQ(Item("a.txt")->m_fragments.GetSize(), 2u);
  EXPECT_EQ(Item("plain")->m_fragments.GetSize(), 1u);
}

TEST_F(DrivePass, ExcludeList) {
  AddFile("a.TMP", {{1, 10}, {2, 20}});
  AddFile("b.txt", {{1, 30}, {2, 40}});
  Run(ExcludeTypes, 0, 0, {".log", ".tmp"});
  EXPECT_EQ(Item("a.TMP")->m_fragments.GetSize(), 2u);
  EXPECT_EQ(Item("b.txt")->m_fragments.GetSize(), 1u);
}

TEST_F(DrivePass, NoRoomLeavesALine) {
  volume.used.assign(300, 1);
  AddFile("big.bin", {{2, 10}, {4, 20}});
  volume.SetUsed(100, 3, false);
  engine->m_bMakeRoom = false;  // with it, the line says why no room was made
  Run(AllFiles);
  EXPECT_EQ(Lines(), std::vector<std::string>{
                         "Your drive does not have sufficient contiguous free space. To defrag "
                         "this file you will need to first Defrag Free Space. C:\\big.bin."});
}

TEST_F(DrivePass, RebuildsOnceBeforeGivingUp) {
  // a.bin leaves 5..9 free; with 10..14 already free that makes room for the
  // 10 clusters of b.bin only once the two runs are joined by a rebuild.
  volume.used.assign(300, 1);
  AddFile("a.bin", {{5, 5}, {6, 50}});
  AddFile("b.bin", {{5, 60}, {10, 70}});
  volume.SetUsed(10, 5, false);
  volume.SetUsed(100, 6, false);
  Run(AllFiles);
  EXPECT_EQ(Item("a.bin")->m_nFirstLcn, 100u);
  EXPECT_EQ(Item("b.bin")->m_fragments.GetSize(), 1u);
  EXPECT_EQ(Item("b.bin")->m_nFirstLcn, 5u);
  EXPECT_TRUE(Lines().empty());
}

TEST_F(DrivePass, UnmovableAndWholeFilesAreSilent) {
  AddFile("one.bin", {{3, 10}});
  AddFile("stuck.bin", {{1, 20}, {2, 30}});
  ASSERT_TRUE(Analyze());
  for (auto& item : engine->m_files)
    if (item.m_strName == "stuck.bin") item.m_wFlags |= FI_UNMOVABLE;
  ComputeDriveStatistics(*engine, drive);
  engine->DefragDrive(AllFiles, true, 0, 0, {});
  EXPECT_TRUE(Lines().empty());
  EXPECT_TRUE(sink.ProgressValues(PROGRESS_POSITION).empty());
  EXPECT_TRUE(volume.moves.empty());
}

TEST_F(DrivePass, FailingFilesEndUpUnmovableAndListed) {
  AddFile("a.bin", {{2, 10}, {4, 20}});
  volume.moveError = ERROR_ACCESS_DENIED;
  Run(AllFiles);
  EXPECT_TRUE(Item("a.bin")->IsUnmovable());
  ASSERT_EQ(engine->m_errors.GetSize(), 1u);
  EXPECT_EQ(engine->m_errors[0].m_strPath, "C:\\a.bin");
  EXPECT_EQ(volume.moves.size(), 5u);
}

TEST_F(DrivePass, FilesThatStayFragmentedAreGivenUpAfterThreeAttempts) {
  // Every move lands one cluster off, so the file never comes together.
  AddFile("wobbly.bin", {{2, 10}, {4, 20}});
  ASSERT_TRUE(Analyze());
  ComputeDriveStatistics(*engine, drive);
  volume.misplaceMoves = true;
  engine->DefragDrive(AllFiles, true, 0, 0, {});
  size_t moveCalls = volume.moves.size();
  EXPECT_EQ(moveCalls, 3u * 2u);  // three attempts of two chunks each
  ASSERT_EQ(engine->m_errors.GetSize(), 1u);
  EXPECT_EQ(engine->m_errors[0].m_strPath, "C:\\wobbly.bin");
  EXPECT_EQ(engine->m_errors[0].m_strMessage, "C:\\wobbly.bin");
  EXPECT_FALSE(Item("wobbly.bin")->IsUnmovable());
}

class FreeSpace : public DrivePass {};

TEST_F(FreeSpace, NoGapsMovesNothingInOnePass) {
  AddFile("a.bin", {{10, 1}});
  volume.SetUsed(0, 1);
  ASSERT_TRUE(Analyze());
  EXPECT_EQ(engine->DefragFreeSpace(kFreeModeDontFragment), 0u);
  EXPECT_EQ(sink.ProgressTexts(PROGRESS_TEXT),
            (std::vector<std::string>{"Analyzing: C:", "Optimizing file map",
                                      "Defragging free space"}));
  EXPECT_FALSE(engine->m_bSilent);
}

TEST_F(FreeSpace, WholeFilesFillGapsFromTheLowEnd) {
  volume.SetUsed(0, 1);
  AddFile("a.bin", {{3, 1}});      // 1..3
  AddFile("b.bin", {{4, 20}});     // 20..23 above a gap of 16
  AddFile("c.bin", {{2, 40}});     // 40..41
  ASSERT_TRUE(Analyze());
  EXPECT_EQ(engine->DefragFreeSpace(kFreeModeDontFragment), 6u);
  // The highest candidate that fits goes first, to the gap's start.
  EXPECT_EQ(Item("c.bin")->m_nFirstLcn, 4u);
  EXPECT_EQ(Item("b.bin")->m_nFirstLcn, 6u);
  EXPECT_EQ(engine->m_nProgressLcn, 6u);
}

TEST_F(FreeSpace, LongContiguousFilesSplitOnlyWhenMaximizing) {
  volume.SetUsed(0, 1);
  AddFile("a.bin", {{3, 1}});      // gap 4..9
  volume.SetUsed(10, 2);           // something unmovable-sized in between
  volume.root.AddFile("fixed.sys", 2 * 4096, {{2, 10}})->attributes |= FILE_ATTRIBUTE_SYSTEM;
  AddFile("long.bin", {{20, 30}}); // 20 clusters above a gap of 6
  ASSERT_TRUE(Analyze());
  for (auto& item : engine->m_files)
    if (item.m_strName == "fixed.sys") item.m_wFlags |= FI_UNMOVABLE;
  engine->DefragFreeSpace(kFreeModeDontFragment);
  EXPECT_EQ(Item("long.bin")->m_fragments.GetSize(), 1u);  // never split

  engine->DefragFreeSpace(kFreeModeMaximize);
  ASSERT_GE(Item("long.bin")->m_fragments.GetSize(), 2u);
  EXPECT_EQ(Item("long.bin")->m_nFirstLcn, 4u);  // its first 6 clusters fill the gap exactly
  EXPECT_EQ(Item("long.bin")->m_fragments[0].m_nClusters, 6u);
}

TEST_F(FreeSpace, OlderSystemsNeverSplitUnlessClustersAre4K) {
  system.major = 5;
  system.minor = 0;
  volume.sectorsPerCluster = 4;  // 2048-byte clusters
  MakeEngine();
  volume.SetUsed(0, 1);
  AddFile("a.bin", {{3, 1}});
  volume.root.AddFile("fixed.sys", 2 * 2048, {{2, 10}});
  volume.SetUsed(10, 2);
  AddFile("long.bin", {{20, 30}});
  ASSERT_TRUE(Analyze());
  for (auto& item : engine->m_files)
    if (item.m_strName == "fixed.sys") item.m_wFlags |= FI_UNMOVABLE;
  engine->DefragFreeSpace(kFreeModeMaximize);
  EXPECT_EQ(Item("long.bin")->m_nFirstLcn, 30u);
}

TEST_F(FreeSpace, CancelStopsAndClearsSilent) {
  volume.SetUsed(0, 1);
  AddFile("b.bin", {{4, 20}});
  ASSERT_TRUE(Analyze());
  SetCancel(true);
  EXPECT_EQ(engine->DefragFreeSpace(kFreeModeDontFragment), 0u);
  EXPECT_FALSE(engine->m_bSilent);
  EXPECT_TRUE(volume.moves.empty());
}

TEST_F(FreeSpace, APassInWhichEveryMoveFailedIsNotTheLast) {
  // The highest file is locked after the analysis: the first pass only fails
  // on it, the next one moves the file below it into the gap.
  volume.SetUsed(0, 1);
  AddFile("a.bin", {{3, 1}});  // 1..3, then a gap of 16
  AddFile("low.bin", {{4, 20}});
  FakeNode* locked = AddFile("locked.bin", {{2, 40}});
  ASSERT_TRUE(Analyze());
  locked->openError = ERROR_SHARING_VIOLATION;
  engine->DefragFreeSpace(kFreeModeDontFragment);
  EXPECT_TRUE(Item("locked.bin")->IsUnmovable());
  EXPECT_EQ(Item("locked.bin")->m_nFirstLcn, 40u);
  EXPECT_EQ(Item("low.bin")->m_nFirstLcn, 4u);
  ASSERT_EQ(engine->m_errors.GetSize(), 1u);
  EXPECT_EQ(engine->m_errors[0].m_strPath, "C:\\locked.bin");
}

TEST_F(FreeSpace, ClusterZeroIsNeverFilledAndFatFoldersStay) {
  FakeNode* folder = volume.root.AddFolder("Dir");
  folder->extents = {{1, 50}};
  volume.SetUsed(50, 1);
  ASSERT_TRUE(Analyze());
  engine->DefragFreeSpace(kFreeModeMaximize);
  EXPECT_TRUE(volume.moves.empty());
}

}  // namespace
}  // namespace test
}  // namespace vt
