#include "pages/drive_operations.h"

#include <chrono>

#include "app/settings_file.h"
#include "base/text.h"
#include "engine/globals.h"
#include "engine/report_sink.h"
#include "engine/statistics.h"
#include "pages/custom_defrag_options.h"

namespace vt {

uint64_t NowMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

namespace {

uint64_t LargestFreeBytes(const CDefrag& engine, const CDriveData& drive) {
  return LargestFreeRunClusters(engine) * drive.m_dwBytesPerCluster;
}

CFileItem* FindItem(CDefrag& engine, const std::string& path) {
  for (auto& item : engine.m_files)
    if (EqualsNoCase(engine.GetItemPath(item), path)) return &item;
  return nullptr;
}

}  // namespace

CAnalysis OpenAndAnalyze(CDefrag& engine, CDriveData& drive, const CAnalyzeOptions& options) {
  CAnalysis out;
  CBusy busy;
  SetCancel(options.m_bStartCancelled);
  if (!engine.OpenVolume(&drive)) {
    out.m_result = AnalyzeResult::OpenFailed;
    return out;
  }
  engine.GetVolumeClusters();
  if (options.m_onOpened) options.m_onOpened();
  if (options.m_bDeleteCache) engine.DeleteCache(drive);
  const uint64_t start = NowMs();
  if (options.m_bUseCache && !options.m_bDeleteCache)
    out.m_bFromCache = engine.LoadDriveData(drive);
  bool ok = true;
  if (!out.m_bFromCache) {
    ok = engine.AnalyzeVolume(engine.m_hProgressWnd);
    if (ok) ok = engine.BuildFreeRunList();
  }
  out.m_nElapsedMs = NowMs() - start;
  if (!ok) {
    // A cancelled analysis still leaves what it found for the views.
    if (IsCancelled()) ComputeDriveStatistics(engine, drive);
    out.m_result = AnalyzeResult::Failed;
    return out;
  }
  ComputeDriveStatistics(engine, drive);
  if (IsCancelled()) {
    out.m_result = AnalyzeResult::Cancelled;
    return out;
  }
  if (!out.m_bFromCache) {
    if (options.m_bUseCache || options.m_bDeleteCache) engine.SaveDriveData(drive);
    if (options.m_pReport) {
      options.m_pReport->AddHeading(AnalysisHeading(drive));
      for (const auto& line : AnalysisReportLines(engine, drive, out.m_nElapsedMs))
        options.m_pReport->AddLine(line.label, line.value);
      options.m_pReport->AddFileList(engine.m_errors);
    }
  }
  if (options.m_bMarkAnalyzed) drive.m_nState = DRIVE_STATE_ANALYZED;
  out.m_result = AnalyzeResult::Ok;
  return out;
}

const char* OperationHeading(DriveOperationKind kind) {
  return kind == DriveOperationKind::DefragDrive ? "Defrag Drive " : "Defrag free space ";
}

CDriveOperationResult RunDriveOperation(CDefrag& engine, CDriveData& drive,
                                        const CDriveOperation& op, IReportSink* report) {
  CDriveOperationResult out;
  CBusy busy;
  out.m_nFragmentedBefore = drive.m_nFragmentedFiles;
  out.m_nLargestBefore = LargestFreeBytes(engine, drive);
  const uint64_t start = NowMs();
  SettingsFile settings;
  settings.ApplyProcessSettings();
  engine.m_errors.RemoveAll();
  SetCancel(op.m_bStartCancelled);
  if (op.m_onStart) op.m_onStart();
  if (op.m_kind == DriveOperationKind::DefragDrive) {
    out.m_nMovedClusters = RunDefragDrive(engine, op.m_filter);
  } else {
    out.m_nMovedClusters = engine.DefragFreeSpace(op.m_nFreeMode);
  }
  if (op.m_onEnd) op.m_onEnd();
  out.m_bCancelled = IsCancelled();
  SettingsFile::ResetProcessSettings();
  out.m_nElapsedMs = NowMs() - start;
  if (op.m_kind == DriveOperationKind::DefragDrive)
    drive.m_nState = DRIVE_STATE_ANALYZED;
  else
    engine.BuildFreeRunList();
  ComputeDriveStatistics(engine, drive);
  out.m_nLargestAfter = LargestFreeBytes(engine, drive);
  for (const auto& e : engine.m_errors) out.m_errors.push_back(e);
  if (report) {
    report->AddHeading((op.m_pszHeading ? op.m_pszHeading : OperationHeading(op.m_kind)) +
                       drive.m_strDrive);
    report->AddLine("Total time:",
                    FormatElapsed(out.m_nElapsedMs, out.m_nElapsedMs >= 86400000ull));
    report->AddLine("Bytes processed:",
                    FormatByteSize(out.m_nMovedClusters * drive.m_dwBytesPerCluster));
    if (out.m_bCancelled && !op.m_strCancelledLine.empty())
      report->AddLine("Cancelled:", op.m_strCancelledLine);
    if (op.m_kind == DriveOperationKind::DefragFreeSpace)
      report->AddLine("Largest free block:", FormatByteSize(out.m_nLargestAfter));
    report->AddFileList(engine.m_errors);
  }
  return out;
}

std::string VolumePath(const std::string& root, std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
  if (path.size() >= 2 && path[1] == ':') path = path.substr(2);
  while (!path.empty() && path[0] == '\\') path.erase(0, 1);
  while (!path.empty() && path.back() == '\\') path.pop_back();
  return root.substr(0, 2) + "\\" + path;
}

std::vector<CFileBatchItem> DefragFileBatch(CDefrag& engine, const std::string& root,
                                            const std::vector<std::string>& paths,
                                            DefragPlacement placement, int moveAnyway,
                                            IReportSink* report) {
  std::vector<CFileBatchItem> out;
  CBusy busy;
  IReportSink* previous = engine.Report();
  engine.SetReport(report);
  MoveAnywayAnswer().store(moveAnyway);
  engine.m_dwStartTick = engine.System().GetTickCount();
  engine.m_nMovedClusters = 0;
  for (const std::string& name : paths) {
    CFileBatchItem row;
    row.m_strPath = VolumePath(root, name);
    CFileItem* item = FindItem(engine, row.m_strPath);
    if (!item) {
      out.push_back(row);
      continue;
    }
    row.m_nFragmentsBefore = item->m_fragments.GetSize();
    row.m_nFirstLcnBefore = item->m_nFirstLcn;
    const bool ok = IsCancelled() ? false : engine.DefragFile(*item, placement, report != nullptr);
    row.m_nFragmentsAfter = item->m_fragments.GetSize();
    row.m_nFirstLcnAfter = item->m_nFirstLcn;
    if (ok)
      row.m_result = FileBatchResult::Defragmented;
    else if (IsCancelled())
      row.m_result = FileBatchResult::Cancelled;
    else if (row.m_nFragmentsAfter <= 1 && row.m_nFragmentsBefore <= 1)
      row.m_result = FileBatchResult::Skipped;
    else
      row.m_result = FileBatchResult::Failed;
    out.push_back(row);
  }
  engine.SetReport(previous);
  MoveAnywayAnswer().store(-1);
  return out;
}

const char* FileBatchResultName(FileBatchResult result) {
  switch (result) {
    case FileBatchResult::Defragmented:
      return "defragmented";
    case FileBatchResult::Skipped:
      return "skipped";
    case FileBatchResult::Failed:
      return "failed";
    case FileBatchResult::Cancelled:
      return "cancelled";
    case FileBatchResult::NotFound:
      break;
  }
  return "not-found";
}

}  // namespace vt
