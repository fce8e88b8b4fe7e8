// What a move must never do: open a file by a bare name, spill past its run,
// count clusters it did not move, or call a stopped or unreadable move a
// success; and paths the file list shows for NTFS items and request items.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/defrag.h"
#include "engine/globals.h"
#include "ondisk/ntfs_attr.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/ntfs_builder.h"

namespace vt {
namespace test {
namespace {

using Runs = std::vector<std::pair<uint64_t, uint32_t>>;

class MoveFaults : public EngineTest {
 protected:
  MoveFaults() {
    MoveAnywayAnswer().store(-1);
    volume.totalClusters = 400;
    volume.used.assign(400, 0);
  }
  ~MoveFaults() override { MoveAnywayAnswer().store(-1); }

  FakeNode* AddFile(const std::string& name, std::vector<FakeExtent> extents,
                    FakeNode* folder = nullptr) {
    uint64_t vcn = 0;
    for (const auto& e : extents) {
      if (e.lcn != ~0ull) volume.SetUsed(e.lcn, e.nextVcn - vcn);
      vcn = e.nextVcn;
    }
    return (folder ? folder : &volume.root)->AddFile(name, vcn * 4096, extents);
  }
  CFileItem* Item(const std::string& name) {
    for (auto& item : engine->m_files)
      if (item.m_strName == name) return &item;
    return nullptr;
  }
  // The kept list with consumed entries left out and touching runs joined.
  Runs Kept() const {
    Runs kept;
    for (const auto& r : engine->m_freeRuns) {
      if (r.m_nState != RUN_FREE || r.m_nClusters == 0) continue;
      if (!kept.empty() && kept.back().first + kept.back().second == r.m_nLcn)
        kept.back().second += r.m_nClusters;
      else
        kept.push_back({r.m_nLcn, r.m_nClusters});
    }
    return kept;
  }
  Runs Fresh() {
    EXPECT_TRUE(engine->BuildFreeRunList());
    return Kept();
  }
  uint64_t MovedOnVolume() const {
    uint64_t n = 0;
    for (const auto& m : volume.moves) n += m.ok ? m.count : 0;
    return n;
  }
  size_t FailedMoves() const {
    size_t n = 0;
    for (const auto& m : volume.moves) n += !m.ok;
    return n;
  }
};

// At every move, no free entry of the list may cover a cluster in use (the
// target's just-moved chunk aside): the list's bounds stay exact.
class CRunChecker : public CRecordingMap {
 public:
  CRunChecker(const CDefrag& engine, const CFakeVolume& volume) : m_engine(engine), m_volume(volume) {}
  void MarkMove(uint64_t oldLcn, uint64_t newLcn, uint32_t count) override {
    CRecordingMap::MarkMove(oldLcn, newLcn, count);
    for (const auto& r : m_engine.m_freeRuns) {
      if (r.m_nState != RUN_FREE) continue;
      for (uint64_t c = r.m_nLcn; c < r.m_nLcn + r.m_nClusters; ++c) {
        if (r.m_nLcn == newLcn && c < newLcn + count) continue;
        if (c >= m_volume.used.size() || m_volume.used[c]) {
          ++overlaps;
          break;
        }
      }
    }
  }
  int overlaps = 0;

 private:
  const CDefrag& m_engine;
  const CFakeVolume& m_volume;
};

TEST_F(MoveFaults, AFileGrownSinceTheAnalysisIsPlacedAgainNotSpilled) {
  volume.SetUsed(0, 100);
  volume.SetUsed(40, 5, false);  // the lowest hole: 5 clusters
  FakeNode* node = AddFile("grow.bin", {{2, 110}, {4, 120}});
  ASSERT_TRUE(Analyze());
  // Moved where the analysis saw it? Not any more: it grew by four clusters.
  node->extents.push_back({8, 300});
  volume.SetUsed(300, 4);
  node->size = 8 * 4096;
  CRunChecker checker(*engine, volume);
  engine->SetMapHost(&checker);

  ASSERT_TRUE(engine->DefragFile(*Item("grow.bin"), BestFit, false));
  EXPECT_EQ(FailedMoves(), 0u);  // no chunk was sent past the 5-cluster hole
  ASSERT_EQ(Item("grow.bin")->m_fragments.GetSize(), 1u);
  EXPECT_EQ(Item("grow.bin")->GetClusters(), 8u);
  EXPECT_EQ(checker.overlaps, 0);
  EXPECT_EQ(engine->m_nMovedClusters, 8u);
  const Runs kept = Kept();
  EXPECT_EQ(kept, Fresh());

  // Grown beyond every free run: refused, nothing moved, the list exact.
  node = AddFile("huge.bin", {{2, 130}, {4, 140}});
  ASSERT_TRUE(Analyze());
  volume.SetUsed(0, 400);
  volume.SetUsed(300, 40, false);
  node->extents.push_back({60, 340});
  volume.moves.clear();
  EXPECT_FALSE(engine->DefragFile(*Item("huge.bin"), BestFit, false));
  EXPECT_TRUE(volume.moves.empty());
  EXPECT_EQ(Item("huge.bin")->GetClusters(), 60u);  // as it is now
  EXPECT_EQ(Kept(), Fresh());
}

TEST_F(MoveFaults, OuterTrackShrinksTheRunItPlacesInto) {
  AddFile("f.bin", {{3, 10}, {5, 20}, {9, 30}});
  ASSERT_TRUE(Analyze());
  CRunChecker checker(*engine, volume);
  engine->SetMapHost(&checker);
  ASSERT_TRUE(engine->DefragFile(*Item("f.bin"), OuterTrack, false));
  EXPECT_EQ(Item("f.bin")->m_nFirstLcn, 391u);
  EXPECT_EQ(checker.moves.size(), 3u);
  EXPECT_EQ(checker.overlaps, 0);  // the run's start moved up and its length shrank with it
}

TEST_F(MoveFaults, OnlyClustersThatMovedAreCounted) {
  AddFile("a.bin", {{3, 10}, {5, 20}, {9, 30}});
  AddFile("b.bin", {{2, 50}, {4, 60}});
  ASSERT_TRUE(Analyze());
  static_assert(sizeof(engine->m_nMovedClusters) == 8, "64-bit count");
  volume.moveError = ERROR_ACCESS_DENIED;
  volume.movesBeforeFailure = 2;
  const uint64_t moved = engine->DefragDrive(AllFiles, true, 0, 0, {});
  EXPECT_GT(FailedMoves(), 0u);
  EXPECT_EQ(MovedOnVolume(), 5u);  // a.bin's first two chunks
  EXPECT_EQ(moved, MovedOnVolume());
  EXPECT_EQ(engine->m_nMovedClusters, MovedOnVolume());
}

TEST_F(MoveFaults, AStopPartWayIsCancelledAndTheFileStaysFragmented) {
  AddFile("f.bin", {{3, 10}, {5, 20}, {9, 30}});
  ASSERT_TRUE(Analyze());
  volume.cancelAfterMoves = 1;
  CFileItem* file = Item("f.bin");
  EXPECT_FALSE(engine->DefragFile(*file, BestFit, false));
  EXPECT_TRUE(IsCancelled());
  EXPECT_EQ(volume.moves.size(), 1u);  // stopped after the first chunk, not tried again
  EXPECT_EQ(file->m_fragments.GetSize(), 3u);
  EXPECT_EQ(engine->m_nMovedClusters, 3u);
  EXPECT_EQ(Kept(), Fresh());  // the vacated chunk is free again

  SetCancel(false);
  volume.cancelAfterMoves = 2;
  size_t run = 0;
  uint64_t lcn = 0;
  ASSERT_TRUE(engine->FindTargetRun(*file, BestFit, &run, &lcn));
  MoveRequest request;
  request.file = file;
  request.targetRun = run;
  EXPECT_FALSE(engine->MoveFileClusters(request));
  EXPECT_EQ(request.error, static_cast<int32_t>(ERROR_CANCELLED));
  EXPECT_GT(file->m_fragments.GetSize(), 1u);
}

TEST_F(MoveFaults, AnUnreadableResultIsAnErrorNotAnEmptyFile) {
  AddFile("f.bin", {{3, 10}, {5, 20}, {9, 30}});
  ASSERT_TRUE(Analyze());
  volume.extentsErrorAfterMove = ERROR_INVALID_FUNCTION;
  engine->m_bSilent = true;
  CFileItem* file = Item("f.bin");
  EXPECT_FALSE(engine->DefragFile(*file, BestFit, false));
  EXPECT_EQ(volume.moves.size(), 3u);  // one attempt: trying again would not help
  EXPECT_EQ(file->m_fragments.GetSize(), 3u);  // still listed, not cleared
  ASSERT_EQ(engine->m_errors.GetSize(), 1u);
  EXPECT_EQ(engine->m_errors[0].m_strPath, "C:\\f.bin");
  EXPECT_EQ(engine->m_errors[0].m_dwError, static_cast<uint32_t>(ERROR_INVALID_FUNCTION));
  EXPECT_EQ(Kept(), Fresh());
  engine->m_bSilent = false;
}

TEST(SortedArray, StackStaysShallowOnAnAdversarialOrder) {
  // McIlroy's adversary: values are fixed only as the sort compares them,
  // always so that the pivot turns out smallest. Replaying the values it
  // fixed gives an input that costs the sort the most.
  static std::vector<int> s_value;
  static int s_solid, s_candidate;
  static uintptr_t s_low, s_high;
  const int n = 4000;
  const int gas = n;
  s_value.assign(n, gas);
  s_solid = 0;
  s_candidate = 0;
  auto adversary = [](const CSortedLcn& a, const CSortedLcn& b) {
    const int x = a.m_nItem, y = b.m_nItem;
    if (s_value[x] == n && s_value[y] == n) s_value[x == s_candidate ? x : y] = s_solid++;
    if (s_value[x] == n)
      s_candidate = x;
    else if (s_value[y] == n)
      s_candidate = y;
    return s_value[x] < s_value[y] ? -1 : (s_value[x] > s_value[y] ? 1 : 0);
  };
  CSortedArray list(adversary);
  for (int i = 0; i < n; ++i) list.Add({0, 0, i});
  list.Sort();
  for (int& v : s_value)
    if (v == gas) v = s_solid++;

  auto measured = [](const CSortedLcn& a, const CSortedLcn& b) {
    int here = 0;
    const auto at = reinterpret_cast<uintptr_t>(&here);
    s_low = std::min(s_low, at);
    s_high = std::max(s_high, at);
    return a.m_nLcn < b.m_nLcn ? -1 : (a.m_nLcn > b.m_nLcn ? 1 : 0);
  };
  CSortedArray replay(measured);
  for (int i = 0; i < n; ++i) replay.Add({static_cast<uint64_t>(s_value[i]), 0, i});
  s_low = ~uintptr_t{0};
  s_high = 0;
  replay.Sort();
  for (int i = 1; i < n; ++i) ASSERT_LE(replay[i - 1].m_nLcn, replay[i].m_nLcn);
  // Recursing on both sides would nest about n / 2 calls deep here.
  EXPECT_LT(s_high - s_low, 64u * 1024u);
}

// An NTFS volume whose MFT holds files whose parent folder is not there.
class UnresolvedNtfs : public EngineTest {
 protected:
  static constexpr uint64_t kMftLcn = 4;
  static constexpr uint32_t kRoot = 5;
  UnresolvedNtfs() {
    volume.fsName = "NTFS";
    volume.totalClusters = 4000;
    volume.used.assign(4000, 0);
    volume.SetUsed(0, 40);
    volume.raw.assign(kMftLcn * 4096 + 64 * 1024, 0);
    uint8_t* boot = volume.raw.data();
    std::memcpy(boot + 3, "NTFS    ", 8);
    boot[0x0C] = 0x02;  // 512 bytes per sector
    boot[0x0D] = 8;
    boot[0x28] = 0x80;  // 4000 clusters and more
    boot[0x29] = 0x7D;
    boot[0x30] = static_cast<uint8_t>(kMftLcn);
    boot[0x40] = 0xF6;  // 1024-byte records
    boot[0x44] = 0xF4;  // 4096-byte index blocks
    const uint32_t inUse[] = {0, 5, 30, 31};
    std::vector<uint8_t> bits(8, 0);
    for (uint32_t r : inUse) bits[r / 8] |= static_cast<uint8_t>(1u << (r % 8));
    std::vector<uint8_t> record = CNtfsRecordBuilder()
                                      .FileName(u"$MFT", kRoot, 3, false)
                                      .NonResident(0x80, {{kMftLcn, 16}}, 64 * 1024ull)
                                      .ResidentData(static_cast<uint32_t>(bits.size()), 0xB0)
                                      .Build();
    const auto found = ntfs::WalkAttributes(record.data(), record.size());
    const ntfs::CAttribute* attr = ntfs::FindUnnamed(found, 0xB0);
    std::memcpy(record.data() + attr->m_nOffset + attr->m_nValueOffset, bits.data(), bits.size());
    std::memcpy(volume.raw.data() + kMftLcn * 4096, record.data(), record.size());
    volume.records[0] = record;
    volume.records[5] = CNtfsRecordBuilder().FileName(u".", kRoot, 3, true).Build();
    // Parent 777 is no folder of this volume.
    volume.records[30] =
        CNtfsRecordBuilder().AttributeList().FileName(u"stray.bin", 777, 1, false).Build();
    volume.records[31] = CNtfsRecordBuilder()
                             .FileName(u"lost.bin", 777, 1, false)
                             .NonResident(0x80, {{100, 2}, {200, 2}}, 4 * 4096)
                             .Build();
    volume.SetUsed(100, 2);
    volume.SetUsed(200, 2);
    // Files of the same names in the process's current folder.
    m_cwd.AddFile("stray.bin", 4096, {{1, 500}});
    m_cwd.AddFile("lost.bin", 8192, {{1, 600}, {2, 700}});
    volume.currentFolder = &m_cwd;
  }
  FakeNode m_cwd;
};

TEST_F(UnresolvedNtfs, NeverOpenedByItsBareNameAndListedWithTheReason) {
  auto onlyFullPaths = [this] {
    for (const auto& open : volume.opens)
      EXPECT_TRUE(open.path.rfind("C:\\", 0) == 0 || open.path.rfind("\\\\", 0) == 0) << open.path;
  };
  ASSERT_TRUE(Analyze());
  onlyFullPaths();
  ASSERT_EQ(engine->m_errors.GetSize(), 1u);
  EXPECT_EQ(engine->m_errors[0].m_strMessage,
            "File not processed. Its folder could not be found on the volume (MFT record 30): "
            "stray.bin");
  CFileItem* lost = nullptr;
  for (auto& item : engine->m_files)
    if (item.m_strName == "lost.bin") lost = &item;
  ASSERT_NE(lost, nullptr);
  EXPECT_EQ(engine->GetItemPath(*lost), "");
  ASSERT_EQ(lost->m_fragments.GetSize(), 2u);

  prompt.Script(IDOK);
  EXPECT_FALSE(engine->DefragFile(*lost, BestFit, false));
  EXPECT_TRUE(volume.moves.empty());
  EXPECT_TRUE(lost->IsUnmovable());
  EXPECT_EQ(m_cwd.children[1]->extents[1].lcn, 700u);  // the namesake is untouched
  ASSERT_EQ(prompt.Prompts().size(), 1u);
  EXPECT_EQ(prompt.Prompts()[0].text,
            "Defrag file error:  lost.bin\n\nIts folder could not be found on the volume (MFT "
            "record 31).");
  ASSERT_EQ(engine->m_errors.GetSize(), 2u);
  EXPECT_EQ(engine->m_errors[1].m_dwError, 0u);  // the report shows the message
  onlyFullPaths();
}

TEST_F(UnresolvedNtfs, PathsOfTheRootAndOfRequestItems) {
  ASSERT_TRUE(Analyze());
  const CFileItem* root = nullptr;
  for (const auto& item : engine->m_files)
    if (item.m_nRecord == kRoot) root = &item;
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(engine->GetItemPath(*root), "C:\\");  // not "C:\."
  // Items of the folder walk on NTFS resolve through the folder list.
  engine->m_folders = {"C:", "C:\\Data"};
  CFileItem walked;
  walked.m_strName = "a.bin";
  walked.m_nFolder = 1;
  walked.m_wFlags = FI_FOLDER_LIST;
  EXPECT_EQ(engine->GetItemPath(walked), "C:\\Data\\a.bin");
  EXPECT_EQ(engine->GetItemFolder(walked), "C:\\Data");
  walked.m_nFolder = 0;
  EXPECT_EQ(engine->GetItemPath(walked), "C:\\a.bin");
  walked.m_nFolder = 7;  // out of range: no path, not "\a.bin"
  EXPECT_EQ(engine->GetItemPath(walked), "");
  EXPECT_EQ(engine->OpenFileForMove("a.bin"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(engine->OpenFileForMove("C:a.bin"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(volume.GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

}  // namespace
}  // namespace test
}  // namespace vt
