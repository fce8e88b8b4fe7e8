#include "engine/make_room.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "engine/defrag.h"
#include "engine/globals.h"
#include "engine/statistics.h"
#include "tests/support/engine_fixture.h"

namespace vt {
namespace test {
namespace {

// The volume as a string, one character a cluster: '.' free, '#' fixed, a
// letter a movable file (item = letter - 'a').
std::vector<CRoomSegment> Layout(const std::string& map) {
  std::vector<CRoomSegment> out;
  for (size_t i = 0; i < map.size(); ++i) {
    const char c = map[i];
    const int64_t item = c == '.' ? kRoomFree : c == '#' ? kRoomFixed : c - 'a';
    if (!out.empty() && out.back().m_nItem == item &&
        out.back().m_nLcn + out.back().m_nClusters == i)
      ++out.back().m_nClusters;
    else
      out.push_back({i, 1, item});
  }
  return out;
}

// The layout after the plan: every move checked to land on free clusters
// outside the stretch, which must then be free.
std::string Apply(std::string map, const CRoomPlan& plan) {
  for (const CRoomMove& m : plan.m_moves) {
    for (uint64_t k = 0; k < m.m_nClusters; ++k) {
      EXPECT_EQ(map[m.m_nFrom + k], static_cast<char>('a' + m.m_nItem));
      map[m.m_nFrom + k] = '.';
    }
    for (uint64_t k = 0; k < m.m_nClusters; ++k) {
      const uint64_t at = m.m_nTarget + k;
      EXPECT_EQ(map[at], '.') << "move onto used cluster " << at;
      EXPECT_TRUE(at < plan.m_nWindowLcn || at >= plan.m_nWindowLcn + plan.m_nWindowClusters)
          << "move into the stretch at " << at;
      map[at] = static_cast<char>('A' + m.m_nItem);  // placed: not free, not movable again
    }
  }
  for (uint64_t k = 0; k < plan.m_nWindowClusters; ++k)
    EXPECT_EQ(map[plan.m_nWindowLcn + k], '.') << "stretch not free at " << plan.m_nWindowLcn + k;
  return map;
}

TEST(PlanRoom, ChoosesTheStretchWithTheLeastToMove) {
  //                      0         1         2
  //                      01234567890123456789012345678
  const std::string m = "#aaaa..bb..#....cc..#.......#";
  CRoomPlan plan;
  // Eight clusters: 1..8 holds a and b (6), 12..19 only c (2), into 5..6.
  ASSERT_EQ(PlanRoom(Layout(m), m.size(), 8, &plan), ROOM_FOUND);
  EXPECT_EQ(plan.m_nWindowLcn, 12u);
  EXPECT_EQ(plan.m_nMovedClusters, 2u);
  ASSERT_EQ(plan.m_moves.size(), 1u);
  EXPECT_EQ(plan.m_moves[0].m_nItem, 2);
  EXPECT_EQ(plan.m_moves[0].m_nTarget, 5u);
  Apply(m, plan);
  // Seven free clusters at 21 need nothing moved at all.
  ASSERT_EQ(PlanRoom(Layout(m), m.size(), 7, &plan), ROOM_FOUND);
  EXPECT_EQ(plan.m_nWindowLcn, 21u);
  EXPECT_TRUE(plan.m_moves.empty());
}

TEST(PlanRoom, FilesOverlappingTheStretchMoveWholeAndCountWhole) {
  const std::string m = "#..aaaaaa..bb........#";
  CRoomPlan plan;
  // 10 clusters: from 1 the stretch holds a (6), from 3 a and b (8), from
  // 9 and from 11 only b (2): the lower wins; b goes to 1.
  ASSERT_EQ(PlanRoom(Layout(m), m.size(), 10, &plan), ROOM_FOUND);
  EXPECT_EQ(plan.m_nWindowLcn, 9u);
  EXPECT_EQ(plan.m_nMovedClusters, 2u);
  ASSERT_EQ(plan.m_moves.size(), 1u);
  EXPECT_EQ(plan.m_moves[0].m_nTarget, 1u);
  Apply(m, plan);
  // Five clusters of a in a stretch of 7 from 1 still move all 6 of it.
  const std::string part = "#..aaaaaa#......#";
  ASSERT_EQ(PlanRoom(Layout(part), part.size(), 7, &plan), ROOM_FOUND);
  EXPECT_EQ(plan.m_nWindowLcn, 1u);
  EXPECT_EQ(plan.m_nMovedClusters, 6u);
  Apply(part, plan);
}

TEST(PlanRoom, LargestFileFirstIntoTheSmallestPieceOutside) {
  // Free outside the stretch: 1..3 (3 clusters) and 20..21 (2).
  const std::string m = "#...####aaa.bb.#####..";
  CRoomPlan plan;
  ASSERT_EQ(PlanRoom(Layout(m), m.size(), 7, &plan), ROOM_FOUND);
  EXPECT_EQ(plan.m_nWindowLcn, 8u);
  ASSERT_EQ(plan.m_moves.size(), 2u);
  EXPECT_EQ(plan.m_moves[0].m_nItem, 0);  // a, 3 clusters, into 1..3
  EXPECT_EQ(plan.m_moves[0].m_nTarget, 1u);
  EXPECT_EQ(plan.m_moves[1].m_nItem, 1);  // b, 2 clusters, into 20..21
  EXPECT_EQ(plan.m_moves[1].m_nTarget, 20u);
  Apply(m, plan);
}

TEST(PlanRoom, NeverPlacesAFileInsideTheStretchOrOnClusterZero) {
  // Every stretch of 4 holds a, which no free run holds: it stays.
  CRoomPlan plan;
  EXPECT_EQ(PlanRoom(Layout("#..aaa..#"), 9, 4, &plan), ROOM_NO_WINDOW);
  // a and b fit the free runs outside one at a time, never both.
  EXPECT_EQ(PlanRoom(Layout("#.aa.bb.#.."), 11, 5, &plan), ROOM_NO_PLACE);
  // Cluster 0 is neither the stretch's start nor a place for a file.
  const std::string m = "...aa..#";
  ASSERT_EQ(PlanRoom(Layout(m), m.size(), 4, &plan), ROOM_FOUND);
  EXPECT_EQ(plan.m_nWindowLcn, 1u);
  EXPECT_EQ(plan.m_moves[0].m_nTarget, 5u);
  Apply(m, plan);
}

TEST(PlanRoom, TheFilesOwnLargePieceInPlaceAnchorsTheStretch) {
  // The file: 2 clusters at 1 (its start), 4 at 10 (from its third
  // cluster on), larger than any free run. Only the stretch 8..13 around
  // that piece, where it lies as it would, has no fixed clusters: a moves
  // out, the piece stays.
  std::vector<CRoomSegment> s = {{1, 2, kRoomOwn, 0},  {3, 5, kRoomFixed},  {8, 2, 0},
                                 {10, 4, kRoomOwn, 2}, {14, 6, kRoomFixed}, {20, 3, kRoomFree},
                                 {23, 1, kRoomFixed},  {24, 2, kRoomFree},  {26, 1, kRoomFixed},
                                 {27, 3, kRoomFree}};
  CRoomPlan plan;
  ASSERT_EQ(PlanRoom(s, 30, 6, &plan), ROOM_FOUND);
  EXPECT_EQ(plan.m_nWindowLcn, 8u);
  EXPECT_EQ(plan.m_nInPlaceClusters, 4u);
  EXPECT_EQ(plan.m_nMovedClusters, 2u);
  ASSERT_EQ(plan.m_moves.size(), 1u);
  EXPECT_EQ(plan.m_moves[0].m_nItem, 0);
  EXPECT_EQ(plan.m_moves[0].m_nTarget, 24u);
  // Out of place (one cluster later) the piece is in the way like any
  // other too large to move.
  s[3].m_nPos = 3;
  EXPECT_EQ(PlanRoom(s, 30, 6, &plan), ROOM_NO_WINDOW);
  // A small piece of the file in the stretch moves out like a file.
  s = {{1, 3, kRoomFixed}, {4, 2, kRoomOwn, 4},  {6, 4, kRoomFree},   {10, 2, kRoomFixed},
       {12, 2, kRoomFree}, {14, 1, kRoomOwn, 0}, {15, 3, kRoomOwn, 1}};
  ASSERT_EQ(PlanRoom(s, 18, 6, &plan), ROOM_FOUND);
  EXPECT_EQ(plan.m_nWindowLcn, 4u);
  ASSERT_EQ(plan.m_moves.size(), 1u);
  EXPECT_EQ(plan.m_moves[0].m_nItem, kRoomOwn);
  EXPECT_EQ(plan.m_moves[0].m_nTarget, 12u);
}

TEST(PlanRoom, VerdictsWhenNoRoomCanBeMade) {
  CRoomPlan plan;
  EXPECT_EQ(PlanRoom(Layout("#aa..bb..#"), 10, 5, &plan), ROOM_NO_SPACE);
  EXPECT_EQ(PlanRoom(Layout("#aa..bb..#"), 10, 0, &plan), ROOM_NO_SPACE);
  EXPECT_EQ(PlanRoom(Layout("#..#..#..#..#"), 13, 3, &plan), ROOM_NO_WINDOW);
  // Gaps no segment covers are fixed too.
  std::vector<CRoomSegment> gappy = {{1, 2, kRoomFree}, {5, 2, kRoomFree}, {9, 2, kRoomFree}};
  EXPECT_EQ(PlanRoom(gappy, 12, 3, &plan), ROOM_NO_WINDOW);
  // A stretch past the volume's end is never offered.
  EXPECT_EQ(PlanRoom(Layout("#..#.."), 6, 3, &plan), ROOM_NO_WINDOW);
}

TEST(PlanRoom, ClustersTwoSegmentsClaimStayWhereTheyAre) {
  // A stale list: a free run over file a's clusters; nothing there may be
  // planned as free or moved.
  std::vector<CRoomSegment> s = Layout("#aaaa.....#.....");
  s.push_back({3, 4, kRoomFree});
  CRoomPlan plan;
  ASSERT_EQ(PlanRoom(s, 16, 5, &plan), ROOM_FOUND);
  EXPECT_EQ(plan.m_nWindowLcn, 11u);
  EXPECT_TRUE(plan.m_moves.empty());
}

TEST(PlanRoom, AgreesWithEveryStretchTriedByHand) {
  // Random layouts of 60 clusters, then a tail of free pieces one cluster
  // too short for the stretch, so every file has a place but no stretch
  // lies in the tail: the plan must cost what the cheapest stretch found by
  // brute force costs, and be carried out cleanly.
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7fff; };
  int found = 0;
  for (int round = 0; round < 300; ++round) {
    const uint64_t needed = 5 + next() % 8;
    std::string m = "#";
    char item = 'a';
    while (m.size() < 60) {
      const unsigned r = next() % 10;
      const size_t len = 1 + next() % 4;
      if (r < 4)
        m.append(len, '.');
      else if (r < 9 && item <= 'z')
        m.append(len, item++);
      else
        m.append(1, '#');
    }
    const size_t head = m.size();
    while (m.size() < head + 120) m += "#" + std::string(needed - 1, '.');
    uint64_t best = ~0ull;
    for (uint64_t w = 1; w + needed <= head; ++w) {
      std::set<char> files;
      bool fixed = false;
      for (uint64_t k = w; k < w + needed; ++k) {
        fixed = fixed || m[k] == '#';
        if (m[k] >= 'a' && m[k] <= 'z') files.insert(m[k]);
      }
      uint64_t cost = 0;
      for (char f : files) cost += std::count(m.begin(), m.end(), f);
      if (!fixed) best = std::min(best, cost);
    }
    CRoomPlan plan;
    const RoomVerdict v = PlanRoom(Layout(m), m.size(), needed, &plan);
    if (best == ~0ull) {
      EXPECT_EQ(v, ROOM_NO_WINDOW) << m;
      continue;
    }
    ASSERT_EQ(v, ROOM_FOUND) << m << " needed " << needed;
    ++found;
    EXPECT_EQ(plan.m_nMovedClusters, best) << m << " needed " << needed;
    Apply(m, plan);
  }
  EXPECT_GT(found, 100);
}

class MakeRoomPass : public EngineTest {
 protected:
  MakeRoomPass() {
    volume.totalClusters = 64;
    volume.used.assign(64, 1);
  }
  FakeNode* AddFile(const std::string& name, std::vector<FakeExtent> extents) {
    uint64_t vcn = 0;
    for (const auto& e : extents) {
      if (e.lcn != ~0ull) volume.SetUsed(e.lcn, e.nextVcn - vcn);
      vcn = e.nextVcn;
    }
    return volume.root.AddFile(name, vcn * 4096, extents);
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
  void Run(bool makeRoom = true) {
    ASSERT_TRUE(Analyze());
    ComputeDriveStatistics(*engine, drive);
    engine->m_bMakeRoom = makeRoom;
    engine->DefragDrive(AllFiles, true, 0, 0, {});
  }
  // Free runs 10..12, 20..22, 24..25 and 40..43; small files between them;
  // big.bin in 3 pieces of 2 with fixed clusters between them.
  void NearlyFull() {
    volume.SetUsed(10, 3, false);
    volume.SetUsed(20, 3, false);
    volume.SetUsed(24, 2, false);
    volume.SetUsed(40, 4, false);
    AddFile("s1.bin", {{2, 13}});  // 13..14
    AddFile("s2.bin", {{5, 15}});  // 15..19
    AddFile("s3.bin", {{1, 23}});  // 23
    AddFile("big.bin", {{2, 30}, {4, 33}, {6, 36}});
  }
};

TEST_F(MakeRoomPass, MovesSmallFilesOutThenTheFileIn) {
  NearlyFull();
  Run();
  EXPECT_TRUE(Lines().empty()) << Lines()[0];
  const CFileItem* big = Item("big.bin");
  ASSERT_EQ(big->m_fragments.GetSize(), 1u);
  // 10..15 holds s1 and one cluster of s2, which moves whole: 7 clusters;
  // 15..20 costs 5, 20..25 holds only s3 (1 cluster), which goes to 10.
  EXPECT_EQ(big->m_nFirstLcn, 20u);
  EXPECT_EQ(Item("s3.bin")->m_fragments.GetSize(), 1u);
  EXPECT_EQ(Item("s3.bin")->m_nFirstLcn, 10u);
  // Every file still whole, the bitmap agreeing: 6 + 1 clusters moved.
  for (const char* name : {"s1.bin", "s2.bin", "s3.bin"})
    EXPECT_EQ(Item(name)->m_fragments.GetSize(), 1u) << name;
  EXPECT_EQ(engine->m_nMovedClusters, 7u);
  ASSERT_EQ(volume.moves.size(), 4u);
  EXPECT_EQ(volume.moves[0].file, "s3.bin");
  const std::vector<std::string> texts = sink.ProgressTexts(PROGRESS_TEXT);
  EXPECT_NE(std::find(texts.begin(), texts.end(), "Making room: C:\\s3.bin"), texts.end());
  for (uint64_t c = 20; c < 26; ++c) EXPECT_EQ(volume.used[c], 1) << c;
  for (uint64_t c : {30, 31, 33, 34, 36, 37}) EXPECT_EQ(volume.used[c], 0) << c;
}

TEST_F(MakeRoomPass, OffKeepsTheOldLine) {
  NearlyFull();
  Run(false);
  EXPECT_EQ(Item("big.bin")->m_fragments.GetSize(), 3u);
  EXPECT_TRUE(volume.moves.empty());
  EXPECT_EQ(Lines(), std::vector<std::string>{
                         "Your drive does not have sufficient contiguous free space. To defrag "
                         "this file you will need to first Defrag Free Space. C:\\big.bin."});
}

TEST_F(MakeRoomPass, RoomIsMadeOnlyWhereNoFreeRunHoldsTheFile) {
  NearlyFull();
  volume.SetUsed(50, 10, false);
  Run();
  EXPECT_EQ(Item("big.bin")->m_nFirstLcn, 50u);
  EXPECT_EQ(volume.moves.size(), 3u);  // only big.bin's pieces
}

TEST_F(MakeRoomPass, ReportsWhyNoRoomCouldBeMade) {
  AddFile("big.bin", {{2, 30}, {4, 33}});
  volume.SetUsed(10, 3, false);
  Run();
  EXPECT_EQ(Lines(), std::vector<std::string>{"Not enough free space on the drive to make room for "
                                              "this file. C:\\big.bin."});
  EXPECT_TRUE(volume.moves.empty());
}

TEST_F(MakeRoomPass, AFailedMoveOutStopsTheFileAndSaysWhich) {
  NearlyFull();
  volume.moveError = ERROR_ACCESS_DENIED;
  Run();
  EXPECT_EQ(Item("big.bin")->m_fragments.GetSize(), 3u);
  const std::vector<std::string> lines = Lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(),
            "No room could be made for this file: C:\\s3.bin could not be moved out of its way. "
            "C:\\big.bin.");
  // s3 is whole where it was, big.bin untouched.
  EXPECT_EQ(Item("s3.bin")->m_nFirstLcn, 23u);
  for (uint64_t c : {30, 31, 33, 34, 36, 37}) EXPECT_EQ(volume.used[c], 1) << c;
}

TEST_F(MakeRoomPass, TheFileIsPutTogetherAroundItsPieceInPlace) {
  // Free: 10..12 and 20..22. big.bin's clusters 2..5 lie at 40..43, more
  // than any free run holds; s.bin sits where its first two belong.
  volume.SetUsed(10, 3, false);
  volume.SetUsed(20, 3, false);
  AddFile("s.bin", {{2, 38}});
  AddFile("big.bin", {{2, 30}, {6, 40}});
  Run();
  EXPECT_TRUE(Lines().empty()) << Lines()[0];
  const CFileItem* big = Item("big.bin");
  ASSERT_EQ(big->m_fragments.GetSize(), 1u);
  EXPECT_EQ(big->m_nFirstLcn, 38u);
  EXPECT_EQ(Item("s.bin")->m_nFirstLcn, 10u);
  // s.bin's 2 and big.bin's first 2: the 4 in place never moved.
  EXPECT_EQ(engine->m_nMovedClusters, 4u);
  for (uint64_t c = 38; c < 44; ++c) EXPECT_EQ(volume.used[c], 1) << c;
  EXPECT_EQ(volume.used[30], 0);
  EXPECT_EQ(volume.used[31], 0);
}

TEST_F(MakeRoomPass, NtfsReservedAreaItemsDoNotPinWhatTheySpan) {
  // The analysis adds the MFT's reserved areas as single items over whole
  // ranges, whatever lies in them; here one spans s1..s3 and the free runs
  // between. What lies there is listed on its own: room is made as before.
  NearlyFull();
  ASSERT_TRUE(Analyze());
  ComputeDriveStatistics(*engine, drive);
  drive.m_bNtfs = true;
  CFileItem mirror;
  mirror.m_strName = "$MFT:MIRROR";
  mirror.m_wFlags = FI_UNMOVABLE | FI_FOLDER_LIST;
  mirror.m_nFirstLcn = 10;
  mirror.m_fragments.Add(CFileClusterItem(10, 16));
  engine->m_files.Add(mirror);
  engine->m_bMakeRoom = true;
  engine->DefragDrive(AllFiles, true, 0, 0, {});
  EXPECT_TRUE(Lines().empty()) << Lines()[0];
  EXPECT_EQ(Item("big.bin")->m_fragments.GetSize(), 1u);
  EXPECT_EQ(Item("big.bin")->m_nFirstLcn, 20u);
}

TEST_F(MakeRoomPass, RoomIsMadeFirstForWhatNoFreeRunHoldsAndFatFoldersStay) {
  NearlyFull();
  FakeNode* folder = volume.root.AddFolder("Dir");
  folder->extents = {{1, 23}};  // s3's place taken by a folder instead
  volume.root.children.erase(volume.root.children.begin() + 2);
  Run();
  // 20..25 is blocked by the folder. s2 (5 clusters) is larger than any
  // free run: room is made for it at 10..14 first (s1 out to 21), then
  // big.bin goes where s2 was, 15..20.
  EXPECT_TRUE(Lines().empty()) << Lines()[0];
  std::vector<std::string> moved;
  for (const auto& m : volume.moves) moved.push_back(m.file + "->" + std::to_string(m.lcn));
  EXPECT_EQ(moved, (std::vector<std::string>{"s1.bin->21", "s2.bin->10", "big.bin->15",
                                             "big.bin->17", "big.bin->19"}));
  for (const char* name : {"s1.bin", "s2.bin", "big.bin", "Dir"})
    EXPECT_EQ(Item(name)->m_fragments.GetSize(), 1u) << name;
  EXPECT_EQ(Item("Dir")->m_nFirstLcn, 23u);
}

// A FAT folder's first cluster stays where its subfolders' ".." entries
// point; the pieces after it move whole, like a fragmented file's, and the
// folder never ends with more pieces than it had.
TEST_F(MakeRoomPass, FatFoldersMoveAllButTheirFirstCluster) {
  NearlyFull();
  FakeNode* folder = volume.root.AddFolder("Dir");
  folder->extents = {{1, 23}, {2, 12}};
  volume.SetUsed(12, 1);
  volume.root.children.erase(volume.root.children.begin() + 2);
  Run();
  // 20..25 is blocked by the folder's first cluster; its second, at 12,
  // moves out of 10..15 (to 24, where it runs on from the first), s1 out
  // too, and s2 (larger than any free run) into 10..14; big.bin where s2 was.
  EXPECT_TRUE(Lines().empty()) << Lines()[0];
  std::vector<std::string> moved;
  for (const auto& m : volume.moves)
    moved.push_back(m.file + ":" + std::to_string(m.vcn) + "->" + std::to_string(m.lcn));
  EXPECT_EQ(moved, (std::vector<std::string>{"s1.bin:0->21", "Dir:1->24", "s2.bin:0->10",
                                             "big.bin:0->15", "big.bin:2->17", "big.bin:4->19"}));
  EXPECT_EQ(Item("Dir")->m_nFirstLcn, 23u);
  EXPECT_EQ(Item("Dir")->m_fragments.GetSize(), 1u);
  EXPECT_EQ(Item("big.bin")->m_fragments.GetSize(), 1u);
}

TEST_F(MakeRoomPass, AFatFoldersFirstClusterStaysInTheWay) {
  NearlyFull();
  FakeNode* folder = volume.root.AddFolder("Dir");
  folder->extents = {{1, 12}, {2, 23}};
  volume.SetUsed(12, 1);
  volume.root.children.erase(volume.root.children.begin() + 2);
  Run();
  // 10..15 holds the folder's first cluster; 20..25 only its second, which
  // goes to the smallest free run outside (10..11): the folder keeps its
  // two pieces, big.bin takes 20..25.
  EXPECT_TRUE(Lines().empty()) << Lines()[0];
  for (const auto& m : volume.moves) EXPECT_FALSE(m.file == "Dir" && m.vcn == 0);
  const CFileItem* dir = Item("Dir");
  ASSERT_EQ(dir->m_fragments.GetSize(), 2u);
  EXPECT_EQ(dir->m_fragments[0].m_nLcn, 12u);
  EXPECT_EQ(dir->m_fragments[1].m_nLcn, 10u);
  EXPECT_EQ(Item("big.bin")->m_fragments.GetSize(), 1u);
  EXPECT_EQ(Item("big.bin")->m_nFirstLcn, 20u);
}

// Whatever asks, a FAT folder's first piece is never moved: a move of the
// whole folder or of its first piece is refused before anything is issued,
// a later piece moves from its own VCN, and a folder whose moves keep
// failing stops being tried at all.
TEST_F(MakeRoomPass, AFatFolderMovesOnlyItsLaterPiecesAndStopsAfterFailures) {
  NearlyFull();
  FakeNode* folder = volume.root.AddFolder("Dir");
  folder->extents = {{1, 23}, {2, 12}};
  volume.SetUsed(12, 1);
  ASSERT_TRUE(Analyze());
  CFileItem* dir = nullptr;
  for (auto& item : engine->m_files)
    if (item.m_strName == "Dir") dir = &item;
  ASSERT_NE(dir, nullptr);
  EXPECT_TRUE(dir->IsUnmovable());
  EXPECT_TRUE(dir->IsTailMovable());
  auto request = [&](uint64_t filterLcn, uint64_t target = 40) {
    engine->BuildFreeRunList();
    size_t run = 0;
    EXPECT_TRUE(engine->SplitFreeRunAt(target, 1, &run));
    MoveRequest r;
    r.file = dir;
    r.targetRun = run;
    r.silent = true;
    r.hasFilter = filterLcn != ~0ull;
    r.filterLcn = filterLcn;
    r.filterCount = 1;
    return engine->MoveFileClusters(r);
  };
  EXPECT_FALSE(request(~0ull)) << "the whole folder";
  EXPECT_FALSE(request(23)) << "its first piece";
  EXPECT_TRUE(volume.moves.empty());
  ASSERT_TRUE(request(12));
  ASSERT_EQ(volume.moves.size(), 1u);
  EXPECT_EQ(volume.moves[0].vcn, 1u);
  EXPECT_EQ(volume.moves[0].lcn, 40u);
  EXPECT_EQ(dir->m_fragments[1].m_nLcn, 40u);
  EXPECT_EQ(dir->m_nFirstLcn, 23u);

  volume.moveError = ERROR_ACCESS_DENIED;
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(request(40, 41));
  EXPECT_FALSE(dir->IsTailMovable());
  const size_t tried = volume.moves.size();
  EXPECT_FALSE(request(40, 41));
  EXPECT_EQ(volume.moves.size(), tried);
}

// On NTFS a folder is a file like any other: it moves whole, first
// cluster and all.
TEST_F(MakeRoomPass, NtfsFoldersMoveWhole) {
  NearlyFull();
  FakeNode* folder = volume.root.AddFolder("Dir");
  folder->extents = {{1, 23}};
  volume.root.children.erase(volume.root.children.begin() + 2);
  ASSERT_TRUE(Analyze());
  ComputeDriveStatistics(*engine, drive);
  // The same items as an NTFS analysis lists them.
  drive.m_bNtfs = true;
  volume.fsName = "NTFS";
  for (auto& item : engine->m_files)
    item.m_wFlags = static_cast<uint16_t>(item.m_wFlags & ~(FI_UNMOVABLE | FI_TAIL_MOVABLE));
  engine->m_bMakeRoom = true;
  engine->DefragDrive(AllFiles, true, 0, 0, {});
  EXPECT_TRUE(Lines().empty()) << Lines()[0];
  EXPECT_EQ(Item("big.bin")->m_fragments.GetSize(), 1u);
  bool whole = false;
  for (const auto& m : volume.moves) whole = whole || (m.file == "Dir" && m.vcn == 0 && m.ok);
  EXPECT_TRUE(whole);
}

}  // namespace
}  // namespace test
}  // namespace vt
