#include <gtest/gtest.h>

#include "engine/defrag.h"
#include "engine/globals.h"
#include "engine/report_sink.h"
#include "tests/support/engine_fixture.h"

namespace vt {
namespace test {
namespace {

class CRecordingReport : public IReportSink {
 public:
  std::vector<std::string> lines;
  void AddHeading(const std::string& action) override { lines.push_back("# " + action); }
  void AddLine(const std::string& label, const std::string& value) override {
    lines.push_back(label + "=" + value);
  }
  void AddNumberLine(const std::string& label, uint64_t number) override {
    lines.push_back(label + "=" + std::to_string(number));
  }
  void AddBold(const std::string& text) override { lines.push_back("*" + text); }
  void AddFileList(CGrowableArray<CFileErrors>& errors) override { errors.RemoveAll(); }
  void ClearReport() override { lines.clear(); }
};

class FileDefrag : public EngineTest {
 protected:
  FileDefrag() {
    MoveAnywayAnswer().store(-1);
    volume.totalClusters = 400;
    volume.used.assign(400, 0);
  }
  ~FileDefrag() override { MoveAnywayAnswer().store(-1); }

  // Adds a file whose extents are marked used on the volume.
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
  std::vector<std::pair<uint64_t, uint32_t>> FreeRuns(bool includeMerged = false) const {
    std::vector<std::pair<uint64_t, uint32_t>> out;
    for (const auto& r : engine->m_freeRuns)
      if (includeMerged || r.m_nState == RUN_FREE) out.push_back({r.m_nLcn, r.m_nClusters});
    return out;
  }
  void SetRuns(std::vector<CClusterItem> runs) {
    engine->m_freeRuns.RemoveAll();
    for (const auto& r : runs) engine->m_freeRuns.Add(r);
  }
  CRecordingReport report;
};

TEST_F(FileDefrag, BestFitTakesTheLowestRunThatHoldsTheFile) {
  CFileItem file;
  file.m_fragments.Add({0, 4});
  file.m_fragments.Add({50, 6});
  SetRuns({{10, 9, RUN_FREE}, {30, 40, RUN_MERGED}, {100, 20, RUN_FREE}, {200, 10, RUN_FREE}});
  size_t run = 99;
  uint64_t lcn = 0;
  ASSERT_TRUE(engine->FindTargetRun(file, BestFit, &run, &lcn));
  EXPECT_EQ(run, 2u);  // the consumed run and the too-short one are passed over
  EXPECT_EQ(lcn, 100u);
  ASSERT_TRUE(engine->FindTargetRun(file, OuterTrack, &run, &lcn));
  EXPECT_EQ(run, 3u);
  EXPECT_EQ(lcn, 200u);  // exactly as long: the run's start
  SetRuns({{100, 20, RUN_FREE}, {200, 25, RUN_FREE}});
  ASSERT_TRUE(engine->FindTargetRun(file, OuterTrack, &run, &lcn));
  EXPECT_EQ(lcn, 215u);  // ends on the run's last cluster
  SetRuns({{100, 9, RUN_FREE}});
  EXPECT_FALSE(engine->FindTargetRun(file, BestFit, &run, &lcn));
  EXPECT_FALSE(engine->FindTargetRun(file, OuterTrack, &run, &lcn));
}

TEST_F(FileDefrag, VacatedChunksJoinOnlyTheirPredecessor) {
  SetRuns({{10, 5, RUN_FREE}, {40, 5, RUN_FREE}});
  engine->AddFreeRun(15, 3);  // starts where 10..14 ends: merges into it
  EXPECT_EQ(FreeRuns(), (std::vector<std::pair<uint64_t, uint32_t>>{{10, 8}, {40, 5}}));
  EXPECT_EQ(engine->m_freeRuns.GetSize(), 3u);
  EXPECT_EQ(engine->m_freeRuns[1].m_nState, RUN_MERGED);
  engine->AddFreeRun(35, 5);  // ends where 40 starts: stays apart
  EXPECT_EQ(FreeRuns(), (std::vector<std::pair<uint64_t, uint32_t>>{{10, 8}, {35, 5}, {40, 5}}));
  engine->AddFreeRun(2, 8);  // a new first run: nothing before it to join
  EXPECT_EQ(FreeRuns().front(), (std::pair<uint64_t, uint32_t>{2, 8}));
  engine->AddFreeRun(45, 1);  // appended after the last, joining it
  EXPECT_EQ(FreeRuns().back(), (std::pair<uint64_t, uint32_t>{40, 6}));
}

TEST_F(FileDefrag, MovesAFragmentedFileIntoOneRun) {
  FakeNode* data = volume.root.AddFolder("Data");
  data->extents = {{1, 0}};
  volume.SetUsed(0, 1);
  AddFile("f.bin", {{3, 10}, {5, 20}, {9, 30}}, data);  // 3 + 2 + 4 clusters
  volume.SetUsed(13, 7);                               // keep the runs between them used
  volume.SetUsed(22, 8);
  ASSERT_TRUE(Analyze());
  CFileItem* file = Item("f.bin");
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(file->m_fragments.GetSize(), 3u);
  drive.m_bDirty = false;
  engine->SetReport(&report);

  ASSERT_TRUE(engine->DefragFile(*file, BestFit, true));
  ASSERT_EQ(file->m_fragments.GetSize(), 1u);
  EXPECT_EQ(file->m_fragments[0].m_nLcn, 1u);  // the lowest run that holds 9: exactly 1..9
  EXPECT_EQ(file->m_fragments[0].m_nClusters, 9u);
  EXPECT_EQ(file->m_nFirstLcn, 1u);
  EXPECT_TRUE(drive.m_bDirty);
  EXPECT_EQ(engine->m_nMovedClusters, 9u);
  // The three chunks went to consecutive targets.
  ASSERT_EQ(volume.moves.size(), 3u);
  EXPECT_EQ(volume.moves[0].lcn, 1u);
  EXPECT_EQ(volume.moves[1].lcn, 4u);
  EXPECT_EQ(volume.moves[2].lcn, 6u);
  EXPECT_EQ(volume.moves[2].vcn, 5u);
  EXPECT_EQ(map.moves.size(), 3u);
  EXPECT_EQ(map.moves[1], (std::vector<uint64_t>{20, 4, 2}));
  // The target run is used up; the vacated chunks came back, each apart
  // since none starts where a free run ends.
  EXPECT_EQ(FreeRuns(), (std::vector<std::pair<uint64_t, uint32_t>>{
                            {10, 3}, {20, 2}, {30, 4}, {34, 366}}));
  // Chunk texts and status.
  auto chunks = sink.ProgressTexts(PROGRESS_THROUGHPUT);
  ASSERT_EQ(chunks.size(), 3u);
  EXPECT_EQ(chunks[0], "   12.0 KB / 36.0 KB");
  EXPECT_EQ(sink.ProgressTexts(PROGRESS_TEXT).back(), "Moving: C:\\Data\\f.bin");
  EXPECT_EQ(report.lines,
            (std::vector<std::string>{"# Defrag file", "Filename:\t=C:\\Data\\f.bin",
                                      "Size:\t=36.0 KB", "Clusters:\t=9",
                                      "Fragments prior to defragging:=3",
                                      "Fragments after defragging:\t=Not fragmented",
                                      "Defrag method:\t\t=Best fit",
                                      "Starting cluster prior to defrag:=10",
                                      "Starting cluster after defrag:\t=1"}));
  size_t updates = 0;
  for (const auto& m : sink.Messages()) updates += m.posted && m.msg == UM_DRIVE_UPDATE;
  EXPECT_EQ(updates, 1u);
  EXPECT_EQ(volume.openHandles(), 1u);
}

TEST_F(FileDefrag, KeptFreeRunsMatchAFreshRebuild) {
  AddFile("a.bin", {{2, 10}, {4, 20}, {5, 40}});
  AddFile("b.bin", {{3, 12}, {6, 30}});
  AddFile("c.bin", {{1, 50}, {2, 60}});
  ASSERT_TRUE(Analyze());
  for (const char* name : {"a.bin", "b.bin", "c.bin"})
    ASSERT_TRUE(engine->DefragFile(*Item(name), BestFit, false)) << name;
  // The list kept up during the moves, consumed entries left out and
  // neighbouring entries joined (a vacated chunk never joins its successor).
  std::vector<std::pair<uint64_t, uint32_t>> kept;
  for (const auto& r : engine->m_freeRuns) {
    if (r.m_nState != RUN_FREE || r.m_nClusters == 0) continue;
    if (!kept.empty() && kept.back().first + kept.back().second == r.m_nLcn)
      kept.back().second += r.m_nClusters;
    else
      kept.push_back({r.m_nLcn, r.m_nClusters});
  }
  ASSERT_TRUE(engine->BuildFreeRunList());
  EXPECT_EQ(kept, FreeRuns());
}

TEST_F(FileDefrag, OuterTrackEndsAtTheRunsEndAndRebuildsTheList) {
  AddFile("f.bin", {{2, 10}, {4, 20}});
  ASSERT_TRUE(Analyze());
  CFileItem* file = Item("f.bin");
  ASSERT_TRUE(engine->DefragFile(*file, OuterTrack, false));
  EXPECT_EQ(file->m_nFirstLcn, 396u);
  ASSERT_EQ(file->m_fragments.GetSize(), 1u);
  EXPECT_EQ(FreeRuns(true), (std::vector<std::pair<uint64_t, uint32_t>>{{0, 396}}));
}

TEST_F(FileDefrag, SparseRunsAreSkipped) {
  AddFile("sparse.bin", {{2, 10}, {6, ~0ull}, {8, 20}});
  ASSERT_TRUE(Analyze());
  CFileItem* file = Item("sparse.bin");
  ASSERT_EQ(file->m_fragments.GetSize(), 2u);
  ASSERT_TRUE(engine->DefragFile(*file, BestFit, false));
  ASSERT_EQ(volume.moves.size(), 2u);
  EXPECT_EQ(volume.moves[0].vcn, 0u);
  EXPECT_EQ(volume.moves[1].vcn, 6u);  // the hole was jumped over
  EXPECT_EQ(volume.moves[1].count, 2u);
  EXPECT_EQ(file->m_fragments.GetSize(), 1u);
  EXPECT_NE(file->m_wFlags & FI_VIRTUAL, 0);
}

TEST_F(FileDefrag, UnfragmentedFilesAskOncePerBatch) {
  AddFile("a.bin", {{2, 10}});
  AddFile("b.bin", {{2, 20}});
  AddFile("c.bin", {{2, 30}});
  ASSERT_TRUE(Analyze());
  prompt.Script(IDNO);  // "Skip file"
  EXPECT_FALSE(engine->DefragFile(*Item("a.bin"), BestFit, false));
  EXPECT_FALSE(engine->DefragFile(*Item("b.bin"), BestFit, false));
  ASSERT_EQ(prompt.Prompts().size(), 1u);
  EXPECT_EQ(prompt.Prompts()[0].text, "a.bin does not need to be defragmented.\nMove file anyway?");
  EXPECT_TRUE(volume.moves.empty());

  MoveAnywayAnswer().store(-1);  // the next batch asks again
  prompt.Script(IDYES);  // "Defrag file"
  EXPECT_TRUE(engine->DefragFile(*Item("b.bin"), BestFit, false));
  EXPECT_TRUE(engine->DefragFile(*Item("c.bin"), BestFit, false));
  EXPECT_EQ(prompt.Prompts().size(), 2u);
  EXPECT_EQ(volume.moves.size(), 2u);

  MoveAnywayAnswer().store(-1);
  prompt.Script(IDCANCEL);
  EXPECT_FALSE(engine->DefragFile(*Item("a.bin"), BestFit, false));
  EXPECT_TRUE(IsCancelled());
}

TEST_F(FileDefrag, NoRoomOffersFreeSpaceDefrag) {
  volume.used.assign(400, 1);
  volume.SetUsed(100, 3, false);
  volume.SetUsed(0, 1, true);
  AddFile("big.bin", {{3, 0}, {6, 200}});
  ASSERT_TRUE(Analyze());
  prompt.Script(IDYES);
  EXPECT_FALSE(engine->DefragFile(*Item("big.bin"), BestFit, false));
  ASSERT_EQ(prompt.Prompts().size(), 1u);
  EXPECT_EQ(prompt.Prompts()[0].text,
            "Your drive does not have sufficient contiguous free space.\nTo defrag big.bin you "
            "will need to first Defrag Free Space.\n\nWould you like to do this now?");
  EXPECT_TRUE(IsCancelled());
  EXPECT_EQ(sink.Count(UM_DEFRAG_FREE_NOW), 1u);

  SetCancel(false);
  prompt.Script(IDNO);
  EXPECT_FALSE(engine->DefragFile(*Item("big.bin"), BestFit, false));
  EXPECT_FALSE(IsCancelled());
  EXPECT_EQ(sink.Count(UM_DEFRAG_FREE_NOW), 1u);
}

TEST_F(FileDefrag, RepeatedMoveFailuresMakeTheFileUnmovableAndReportOnce) {
  AddFile("stuck.bin", {{2, 10}, {4, 20}});
  ASSERT_TRUE(Analyze());
  CFileItem* file = Item("stuck.bin");
  volume.moveError = ERROR_ACCESS_DENIED;
  // Each DefragFile attempts twice while the file stays movable.
  EXPECT_FALSE(engine->DefragFile(*file, BestFit, false));
  EXPECT_EQ(file->m_nMoveFailures, 2);
  EXPECT_FALSE(engine->DefragFile(*file, BestFit, false));
  EXPECT_EQ(file->m_nMoveFailures, 4);
  EXPECT_TRUE(prompt.Prompts().empty());
  EXPECT_FALSE(engine->DefragFile(*file, BestFit, false));
  EXPECT_EQ(file->m_nMoveFailures, 5);
  EXPECT_TRUE(file->IsUnmovable());
  ASSERT_EQ(prompt.Prompts().size(), 1u);
  EXPECT_EQ(prompt.Prompts()[0].text,
            "Vantrel could not defragment the following file:\n\nC:\\stuck.bin\n\nSystem error "
            "message: Access is denied. ");
  // Unmovable files are not tried again.
  volume.moves.clear();
  EXPECT_FALSE(engine->DefragFile(*file, BestFit, false));
  EXPECT_TRUE(volume.moves.empty());
}

TEST_F(FileDefrag, SilentFailuresGoToTheErrorList) {
  AddFile("stuck.bin", {{2, 10}, {4, 20}});
  ASSERT_TRUE(Analyze());
  CFileItem* file = Item("stuck.bin");
  file->m_nMoveFailures = 4;
  volume.moveError = ERROR_SHARING_VIOLATION;
  engine->m_bSilent = true;
  EXPECT_FALSE(engine->DefragFile(*file, BestFit, false));
  EXPECT_TRUE(prompt.Prompts().empty());
  ASSERT_EQ(engine->m_errors.GetSize(), 1u);
  EXPECT_EQ(engine->m_errors[0].m_strPath, "C:\\stuck.bin");
  EXPECT_EQ(engine->m_errors[0].m_dwError, static_cast<uint32_t>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(engine->m_errors[0].m_nSize, 4u * 4096);
}

TEST_F(FileDefrag, FileThatCannotBeOpenedIsUnmovableAtOnce) {
  FakeNode* node = AddFile("locked.bin", {{2, 10}, {4, 20}});
  ASSERT_TRUE(Analyze());
  node->openError = ERROR_SHARING_VIOLATION;
  CFileItem* file = Item("locked.bin");
  prompt.Script(IDCANCEL);
  MoveRequest request;
  request.file = file;
  request.targetRun = 0;
  EXPECT_FALSE(engine->MoveFileClusters(request));
  EXPECT_EQ(request.error, -1);
  EXPECT_TRUE(file->IsUnmovable());
  ASSERT_EQ(prompt.Prompts().size(), 1u);
  EXPECT_EQ(prompt.Prompts()[0].text.rfind("Defrag file error:  C:\\locked.bin\n\n", 0), 0u);
  EXPECT_EQ(prompt.Prompts()[0].type & 0xF, static_cast<UINT>(MB_OKCANCEL));
  EXPECT_TRUE(IsCancelled());
}

TEST_F(FileDefrag, ModeTwoAndTheExtentFilterMoveOneChunk) {
  AddFile("f.bin", {{2, 10}, {5, 20}, {9, 30}});
  ASSERT_TRUE(Analyze());
  CFileItem* file = Item("f.bin");
  size_t run = 0;
  uint64_t lcn = 0;
  ASSERT_TRUE(engine->FindTargetRun(*file, BestFit, &run, &lcn));

  MoveRequest first;
  first.file = file;
  first.targetRun = run;
  first.mode = 2;
  ASSERT_TRUE(engine->MoveFileClusters(first));
  ASSERT_EQ(volume.moves.size(), 1u);
  EXPECT_EQ(volume.moves[0].vcn, 0u);
  EXPECT_EQ(volume.moves[0].count, 2u);

  MoveRequest filtered;
  filtered.file = file;
  filtered.targetRun = run;
  filtered.hasFilter = true;
  filtered.filterLcn = 30;
  filtered.filterCount = 3;
  ASSERT_TRUE(engine->MoveFileClusters(filtered));
  ASSERT_EQ(volume.moves.size(), 2u);
  EXPECT_EQ(volume.moves[1].vcn, 5u);
  EXPECT_EQ(volume.moves[1].count, 3u);
  EXPECT_EQ(volume.moves[1].lcn, engine->m_freeRuns[run].m_nLcn - 3);
}

TEST_F(FileDefrag, OlderSystemsCheckWhereTheClustersLanded) {
  system.major = 5;
  system.minor = 0;
  MakeEngine();
  AddFile("f.bin", {{2, 10}, {4, 20}});
  ASSERT_TRUE(Analyze());
  volume.misplaceMoves = true;
  CFileItem* file = Item("f.bin");
  size_t run = 0;
  uint64_t lcn = 0;
  ASSERT_TRUE(engine->FindTargetRun(*file, BestFit, &run, &lcn));
  MoveRequest request;
  request.file = file;
  request.targetRun = run;
  EXPECT_FALSE(engine->MoveFileClusters(request));
  EXPECT_EQ(request.error, ERROR_ACCESS_DENIED);
  EXPECT_EQ(file->m_nMoveFailures, 1);
}

TEST_F(FileDefrag, CancelBeforeTheMoveIsASuccessThatMovesNothing) {
  AddFile("f.bin", {{2, 10}, {4, 20}});
  ASSERT_TRUE(Analyze());
  SetCancel(true);
  MoveRequest request;
  request.file = Item("f.bin");
  EXPECT_TRUE(engine->MoveFileClusters(request));
  EXPECT_TRUE(volume.moves.empty());
  EXPECT_TRUE(drive.m_bDirty);
}

}  // namespace
}  // namespace test
}  // namespace vt
