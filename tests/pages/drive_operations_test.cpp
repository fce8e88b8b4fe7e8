// The operations both front ends call, on a hand-built FAT16 volume: one
// open-and-analyse (cache, cancel, report), the drive operations' figures
// and report sections, and the file batch's results per file.
#include "pages/drive_operations.h"

#include <gtest/gtest.h>

#include "engine/globals.h"
#include "pages/drive_page.h"
#include "platform/image/block_device.h"
#include "platform/image/volume_set.h"
#include "platform/recording.h"
#include "report/report_document.h"
#include "tests/image/fat_builder.h"

namespace vt {
namespace {

using test::CFatImageBuilder;
using test::EBuildType;

class DriveOperationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CFatImageBuilder b(EBuildType::kFat16);
    const uint32_t cb = b.ClusterBytes();
    b.AddFile(0, u"Split.bin", "SPLIT   BIN", {40, 41, 60, 61, 80}, std::string(cb * 5, 's'));
    b.AddFile(0, u"Two.bin", "TWO     BIN", {90, 95}, std::string(cb * 2, 't'));
    b.AddFile(0, u"", "WHOLE   TXT", {100}, std::string(cb / 2, 'w'));
    std::unique_ptr<CBlockDevice> device = b.Device();
    m_pDevice = static_cast<CMemoryBlockDevice*>(device.get());
    ASSERT_EQ(ERROR_SUCCESS, m_set.MountDevice('V', std::move(device), "mem-ops", false));
    m_engine = MakeEngine(m_set);
    CScriptedPrompt prompt;
    std::vector<CDriveData> drives = EnumerateDrives(m_set, CEnumerateOptions(), prompt);
    ASSERT_EQ(drives.size(), 1u);
    m_drive = drives[0];
    SetCancel(false);
  }
  std::unique_ptr<CDefrag> MakeEngine(CImageVolumeSet& set) {
    CEngineServices services;
    services.volume = &set;
    services.system = &HostSystem();
    services.messages = &m_sink;
    services.prompt = &m_prompt;
    return std::make_unique<CDefrag>(services);
  }
  void TearDown() override {
    m_engine.reset();
    SetCurrentDrive(nullptr);
    SetCancel(false);
  }

  CImageVolumeSet m_set;
  CMemoryBlockDevice* m_pDevice = nullptr;  // owned by m_set
  CRecordingSink m_sink;
  CScriptedPrompt m_prompt;
  std::unique_ptr<CDefrag> m_engine;
  CDriveData m_drive;
  CReportDocument m_report;
};

TEST_F(DriveOperationsTest, OpenAndAnalyzeFillsTheStatisticsAndTheReport) {
  CAnalyzeOptions options;
  options.m_pReport = &m_report;
  bool opened = false;
  options.m_onOpened = [&]() { opened = true; };
  const CAnalysis a = OpenAndAnalyze(*m_engine, m_drive, options);
  EXPECT_EQ(a.m_result, AnalyzeResult::Ok);
  EXPECT_TRUE(opened);
  EXPECT_FALSE(a.m_bFromCache);
  EXPECT_EQ(m_drive.m_nState, DRIVE_STATE_ANALYZED);
  EXPECT_EQ(m_drive.m_nFragmentedFiles, 2u);
  EXPECT_EQ(m_drive.m_nFragments, 5u);
  const std::string text = m_report.PlainText();
  EXPECT_NE(text.find("Action: Analyze Drive V:\\"), std::string::npos);
  EXPECT_NE(text.find("Total fragments:\t5"), std::string::npos);
  EXPECT_EQ(BusyCounter().load(), 0);
}

TEST_F(DriveOperationsTest, TheCacheAnswersTheSecondAnalysisWithoutAReport) {
  CAnalyzeOptions options;
  options.m_bUseCache = true;
  ASSERT_EQ(OpenAndAnalyze(*m_engine, m_drive, options).m_result, AnalyzeResult::Ok);
  options.m_pReport = &m_report;
  const CAnalysis again = OpenAndAnalyze(*m_engine, m_drive, options);
  EXPECT_TRUE(again.m_bFromCache);
  EXPECT_EQ(m_drive.m_nFragmentedFiles, 2u);
  EXPECT_TRUE(m_report.IsEmpty());
  // Deleting the cache first analyses from the disk again.
  options.m_bDeleteCache = true;
  EXPECT_FALSE(OpenAndAnalyze(*m_engine, m_drive, options).m_bFromCache);
  EXPECT_FALSE(m_report.IsEmpty());
  m_engine->DeleteCache(m_drive);
}

TEST_F(DriveOperationsTest, AVolumeThatCannotBeOpenedIsReportedAsSuch) {
  m_set.Unmount('V');
  EXPECT_EQ(OpenAndAnalyze(*m_engine, m_drive, CAnalyzeOptions()).m_result,
            AnalyzeResult::OpenFailed);
  EXPECT_EQ(m_drive.m_nState, DRIVE_STATE_NOT_ANALYZED);
}

TEST_F(DriveOperationsTest, DefragDriveGivesItsFiguresAndReportSection) {
  ASSERT_EQ(OpenAndAnalyze(*m_engine, m_drive, CAnalyzeOptions()).m_result, AnalyzeResult::Ok);
  SetCancel(true);  // left over from an earlier Stop: the operation clears it
  CDriveOperation op;
  const CDriveOperationResult r = RunDriveOperation(*m_engine, m_drive, op, &m_report);
  EXPECT_EQ(r.m_nFragmentedBefore, 2u);
  EXPECT_EQ(m_drive.m_nFragmentedFiles, 0u);
  EXPECT_EQ(r.m_nMovedClusters, 7u);
  EXPECT_TRUE(r.m_errors.empty());
  const std::string text = m_report.PlainText();
  EXPECT_NE(text.find("Action: Defrag Drive V:\\"), std::string::npos);
  EXPECT_NE(text.find("Bytes processed:\t"), std::string::npos);
  EXPECT_EQ(text.find("Largest free block:"), std::string::npos);
}

TEST_F(DriveOperationsTest, FreeSpaceReportsTheLargestFreeBlock) {
  ASSERT_EQ(OpenAndAnalyze(*m_engine, m_drive, CAnalyzeOptions()).m_result, AnalyzeResult::Ok);
  CDriveOperation op;
  op.m_kind = DriveOperationKind::DefragFreeSpace;
  op.m_nFreeMode = kFreeModeMaximize;
  const CDriveOperationResult r = RunDriveOperation(*m_engine, m_drive, op, &m_report);
  EXPECT_GE(r.m_nLargestAfter, r.m_nLargestBefore);
  EXPECT_GT(r.m_nMovedClusters, 0u);
  const std::string text = m_report.PlainText();
  EXPECT_NE(text.find("Action: Defrag free space V:\\"), std::string::npos);
  EXPECT_NE(text.find("Largest free block:"), std::string::npos);
}

// A Stop that came before the pass, inside a running operation, is kept:
// only the outermost operation clears the flag.
TEST_F(DriveOperationsTest, AStopInsideARunningOperationIsNotWrittenOver) {
  ASSERT_EQ(OpenAndAnalyze(*m_engine, m_drive, CAnalyzeOptions()).m_result, AnalyzeResult::Ok);
  {
    CBusy running;
    SetCancel(true);
    const CDriveOperationResult r =
        RunDriveOperation(*m_engine, m_drive, CDriveOperation(), nullptr);
    EXPECT_TRUE(r.m_bCancelled);
    EXPECT_EQ(r.m_nMovedClusters, 0u);
    EXPECT_NE(OpenAndAnalyze(*m_engine, m_drive, CAnalyzeOptions()).m_result, AnalyzeResult::Ok);
    EXPECT_TRUE(IsCancelled());
  }
}

// Sets the cancel flag once the engine has moved that many chunks.
class CStopAfterChunks : public IClusterMapHost {
 public:
  explicit CStopAfterChunks(int chunks) : m_nLeft(chunks) {}
  void RebuildMap(const CDefrag&) override {}
  void MarkMove(uint64_t, uint64_t, uint32_t) override {
    if (--m_nLeft == 0) SetCancel(true);
  }

 private:
  int m_nLeft;
};

TEST_F(DriveOperationsTest, AFileAStopLeftPartWayIsReportedWithItsFragments) {
  ASSERT_EQ(OpenAndAnalyze(*m_engine, m_drive, CAnalyzeOptions()).m_result, AnalyzeResult::Ok);
  CStopAfterChunks stop(2);  // Split.bin's first two of three extents
  m_engine->SetMapHost(&stop);
  const CDriveOperationResult r =
      RunDriveOperation(*m_engine, m_drive, CDriveOperation(), &m_report);
  m_engine->SetMapHost(nullptr);
  EXPECT_TRUE(r.m_bCancelled);
  ASSERT_EQ(r.m_stopped.size(), 1u);
  EXPECT_EQ(r.m_stopped[0].m_strPath, "V:\\Split.bin");
  EXPECT_EQ(r.m_stopped[0].m_nFragmentsBefore, 3u);
  EXPECT_EQ(r.m_stopped[0].m_nFragmentsAfter, 2u);
  EXPECT_NE(m_report.PlainText().find("Stopped part-way:\tV:\\Split.bin (3 to 2 fragments)"),
            std::string::npos);
  EXPECT_EQ(m_drive.m_nFragmentedFiles, 2u);  // the row counts what is left
  // The heading says the pass was stopped, not that it completed.
  EXPECT_NE(m_report.PlainText().find("Action: Defrag Drive V:\\ Stopped at "), std::string::npos);
  EXPECT_EQ(m_report.PlainText().find("Action: Defrag Drive V:\\ Completed at "),
            std::string::npos);
  EXPECT_EQ(StoppedFileText({"V:\\a", 1000, 444}), "V:\\a (1,000 to 444 fragments)");
}

// A volume with a fragmented folder beside fragmented files of two types.
TEST_F(DriveOperationsTest, ATypeFilterTakesNoFolderAndTheReportCountsWhatItLeftOut) {
  CFatImageBuilder b(EBuildType::kFat16);
  const uint32_t cb = b.ClusterBytes();
  b.AddFile(0, u"Split.bin", "SPLIT   BIN", {40, 41, 60}, std::string(cb * 3, 's'));
  b.AddFile(0, u"Clip.AVI", "CLIP    AVI", {70, 72}, std::string(cb * 2, 'c'));
  b.AddFolder(0, u"Docs", "DOCS       ", {80, 85});
  ASSERT_EQ(ERROR_SUCCESS, m_set.MountDevice('X', b.Device(), "mem-filter", false));
  std::vector<CDriveData> drives = EnumerateDrives(m_set, CEnumerateOptions(), m_prompt);
  ASSERT_EQ(drives.size(), 2u);
  CDriveData& drive = drives[1];
  CDefrag& engine = *m_engine;
  CRecordingSink& sink = m_sink;
  auto fragments = [&](const char* name) {
    for (const CFileItem& f : engine.m_files)
      if (f.m_strName == name) return f.m_fragments.GetSize();
    return size_t(0);
  };
  ASSERT_EQ(OpenAndAnalyze(engine, drive, CAnalyzeOptions()).m_result, AnalyzeResult::Ok);
  ASSERT_EQ(fragments("Docs"), 2u);
  // A FAT folder stays where it is; let it be movable as an NTFS one is.
  for (CFileItem& f : engine.m_files)
    if (f.m_strName == "Docs") f.m_wFlags &= static_cast<uint16_t>(~FI_UNMOVABLE);
  auto triedDocs = [&]() {
    for (const std::string& text : sink.ProgressTexts(PROGRESS_TEXT))
      if (text.find("Docs") != std::string::npos) return true;
    return false;
  };
  CReportDocument& report = m_report;
  CDriveOperation op;
  op.m_filter = CDefragFilter::Types(OnlyTypes, {".avi", ".mdb"});
  CDriveOperationResult r = RunDriveOperation(engine, drive, op, &report);
  EXPECT_EQ(r.m_nFilteredFiles, 2u);  // Split.bin and the folder
  EXPECT_EQ(fragments("Clip.AVI"), 1u);
  EXPECT_EQ(fragments("Split.bin"), 2u);
  EXPECT_FALSE(triedDocs());
  EXPECT_NE(report.PlainText().find("Custom filter:\ton, 2 fragmented files left out"),
            std::string::npos);
  // All but the listed types takes no folder either.
  report.ClearReport();
  op.m_filter = CDefragFilter::Types(ExcludeTypes, {".avi"});
  r = RunDriveOperation(engine, drive, op, &report);
  EXPECT_EQ(r.m_nFilteredFiles, 1u);
  EXPECT_EQ(fragments("Split.bin"), 1u);
  EXPECT_FALSE(triedDocs());
  EXPECT_NE(report.PlainText().find("Custom filter:\ton, 1 fragmented file left out"),
            std::string::npos);
  // Without a filter there is no such line, and the folder is taken.
  report.ClearReport();
  r = RunDriveOperation(engine, drive, CDriveOperation(), &report);
  EXPECT_EQ(report.PlainText().find("Custom filter:"), std::string::npos);
  EXPECT_TRUE(triedDocs());
}

TEST_F(DriveOperationsTest, TheFileBatchAnswersPerFile) {
  ASSERT_EQ(OpenAndAnalyze(*m_engine, m_drive, CAnalyzeOptions()).m_result, AnalyzeResult::Ok);
  const auto rows = DefragFileBatch(
      *m_engine, "V:\\", {"/Split.bin", "V:\\missing.txt", "WHOLE.TXT"}, BestFit, IDNO, &m_report);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].m_strPath, "V:\\Split.bin");
  EXPECT_EQ(rows[0].m_result, FileBatchResult::Defragmented);
  EXPECT_EQ(rows[0].m_nFragmentsBefore, 3u);
  EXPECT_EQ(rows[0].m_nFragmentsAfter, 1u);
  EXPECT_EQ(rows[1].m_result, FileBatchResult::NotFound);
  EXPECT_EQ(rows[2].m_result, FileBatchResult::Skipped);  // one fragment, "skip" answered
  EXPECT_STREQ(FileBatchResultName(rows[2].m_result), "skipped");
  EXPECT_EQ(MoveAnywayAnswer().load(), -1);
  EXPECT_NE(m_report.PlainText().find("Action: Defrag file"), std::string::npos);
  EXPECT_EQ(VolumePath("W:\\", "a/b/"), "W:\\a\\b");
}

// The engine keeps the volume open between operations; what a batch moved
// must be on the device by then, not gathered in memory for a later store.
TEST_F(DriveOperationsTest, WhatABatchMovedIsStoredWhenItEnds) {
  ASSERT_EQ(OpenAndAnalyze(*m_engine, m_drive, CAnalyzeOptions()).m_result, AnalyzeResult::Ok);
  const auto rows = DefragFileBatch(*m_engine, "V:\\", {"/Split.bin"}, BestFit, IDNO, nullptr);
  ASSERT_EQ(rows.size(), 1u);
  ASSERT_EQ(rows[0].m_result, FileBatchResult::Defragmented);

  CImageVolumeSet stored;
  ASSERT_EQ(ERROR_SUCCESS, stored.MountDevice('W',
                                              std::make_unique<CMemoryBlockDevice>(
                                                  m_pDevice->Data(), m_pDevice->Size(), false),
                                              "mem-stored", false));
  std::unique_ptr<CDefrag> owned = MakeEngine(stored);
  CDefrag& engine = *owned;
  CScriptedPrompt prompt;
  std::vector<CDriveData> drives = EnumerateDrives(stored, CEnumerateOptions(), prompt);
  ASSERT_EQ(drives.size(), 1u);
  ASSERT_EQ(OpenAndAnalyze(engine, drives[0], CAnalyzeOptions()).m_result, AnalyzeResult::Ok);
  bool found = false;
  for (size_t i = 0; i < engine.m_files.GetSize(); ++i) {
    if (engine.GetItemPath(engine.m_files[i]) != "W:\\Split.bin") continue;
    found = true;
    EXPECT_EQ(engine.m_files[i].m_fragments.GetSize(), 1u);
  }
  EXPECT_TRUE(found);
}

TEST(CompletionTest, AStoppedRunSaysSoWithTwoBlanksAfterDrive) {
  EXPECT_EQ(CompletionCaptionShown(CompletionCaption(OP_DEFRAG_DRIVE), true),
            "Defrag Drive  Cancelled");
  EXPECT_EQ(CompletionCaptionShown(CompletionCaption(OP_DEFRAG_FREE), false), "Defrag Free Space");
  EXPECT_EQ(CompletionMessage("V:\\, W:\\"),
            "Defragmentation is complete for drive(s):\nV:\\, W:\\ ");
}

}  // namespace
}  // namespace vt
