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

// The file-list index of a path, SIZE_MAX when it is not there.
size_t FindItem(const CDefrag& engine, const std::string& path) {
  for (size_t i = 0; i < engine.m_files.GetSize(); ++i)
    if (EqualsNoCase(engine.GetItemPath(engine.m_files[i]), path)) return i;
  return SIZE_MAX;
}

}  // namespace

CAnalysis OpenAndAnalyze(CDefrag& engine, CDriveData& drive, const CAnalyzeOptions& options) {
  CAnalysis out;
  COperationScope scope(engine);
  if (!engine.OpenVolume(&drive)) {
    out.m_result = AnalyzeResult::OpenFailed;
    return out;
  }
  engine.GetVolumeClusters();
  if (options.m_onOpened) options.m_onOpened();
  if (options.m_bDeleteCache) engine.DeleteCache(drive);
  const DWORD start = engine.System().GetTickCount();
  if (options.m_bUseCache && !options.m_bDeleteCache)
    out.m_bFromCache = engine.LoadDriveData(drive);
  bool ok = true;
  if (!out.m_bFromCache) {
    ok = engine.AnalyzeVolume(engine.m_hProgressWnd);
    if (ok) ok = engine.BuildFreeRunList();
  }
  out.m_nElapsedMs = TicksSince(engine, start);
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

std::string FilterNote(uint64_t left) {
  return Format("on, %s fragmented %s left out", GroupThousands(left).c_str(),
                left == 1 ? "file" : "files");
}

std::string StoppedFileText(const CStoppedFile& file) {
  return Format("%s (%s to %s fragments)", file.m_strPath.c_str(),
                GroupThousands(file.m_nFragmentsBefore).c_str(),
                GroupThousands(file.m_nFragmentsAfter).c_str());
}

CDriveOperationResult RunDriveOperation(CDefrag& engine, CDriveData& drive,
                                        const CDriveOperation& op, IReportSink* report) {
  CDriveOperationResult out;
  COperationScope scope(engine);
  out.m_nFragmentedBefore = drive.m_nFragmentedFiles;
  out.m_nLargestBefore = LargestFreeBytes(engine, drive);
  const DWORD start = op.m_bSinceStart ? op.m_dwStartTick : scope.StartTick();
  // A stop can leave the file in progress part-way: which one shows in the
  // fragment counts before and after.
  std::vector<uint32_t> fragmentsBefore;
  fragmentsBefore.reserve(engine.m_files.GetSize());
  for (const CFileItem& file : engine.m_files)
    fragmentsBefore.push_back(static_cast<uint32_t>(file.m_fragments.GetSize()));
  SettingsFile settings;
  settings.ApplyProcessSettings();
  engine.m_errors.RemoveAll();
  engine.m_nFilteredFiles = 0;
  if (op.m_onStart) op.m_onStart();
  if (op.m_kind == DriveOperationKind::DefragDrive) {
    out.m_nMovedClusters = RunDefragDrive(engine, op.m_filter);
  } else {
    out.m_nMovedClusters = engine.DefragFreeSpace(op.m_nFreeMode);
  }
  if (op.m_onEnd) op.m_onEnd();
  out.m_bCancelled = IsCancelled();
  out.m_nFilteredFiles = engine.m_nFilteredFiles;
  SettingsFile::ResetProcessSettings();
  out.m_nElapsedMs = TicksSince(engine, start);
  if (out.m_bCancelled) {
    for (size_t i = 0; i < fragmentsBefore.size() && i < engine.m_files.GetSize(); ++i) {
      const CFileItem& file = engine.m_files[i];
      const uint64_t after = file.m_fragments.GetSize();
      if (after > 1 && after < fragmentsBefore[i])
        out.m_stopped.push_back({engine.GetItemPath(file), fragmentsBefore[i], after});
    }
  }
  if (op.m_kind == DriveOperationKind::DefragDrive)
    drive.m_nState = DRIVE_STATE_ANALYZED;
  else
    engine.BuildFreeRunList();
  ComputeDriveStatistics(engine, drive);
  out.m_nLargestAfter = LargestFreeBytes(engine, drive);
  for (const auto& e : engine.m_errors) out.m_errors.push_back(e);
  if (report) {
    const std::string action =
        (op.m_pszHeading ? op.m_pszHeading : OperationHeading(op.m_kind)) + drive.m_strDrive;
    if (out.m_bCancelled)
      report->AddStoppedHeading(action);
    else
      report->AddHeading(action);
    report->AddLine("Total time:",
                    FormatElapsed(out.m_nElapsedMs, out.m_nElapsedMs >= 86400000ull));
    report->AddLine("Bytes processed:",
                    FormatByteSize(out.m_nMovedClusters * drive.m_dwBytesPerCluster));
    if (op.m_kind == DriveOperationKind::DefragDrive && op.m_filter.m_kind != AllFiles)
      report->AddLine("Custom filter:", FilterNote(out.m_nFilteredFiles));
    if (out.m_bCancelled && !op.m_strCancelledLine.empty())
      report->AddLine("Cancelled:", op.m_strCancelledLine);
    for (const CStoppedFile& file : out.m_stopped)
      report->AddLine("Stopped part-way:", StoppedFileText(file));
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

std::vector<CFileBatchItem> DefragFileItems(CDefrag& engine, const std::vector<size_t>& items,
                                            DefragPlacement placement,
                                            const std::function<void(size_t)>& before,
                                            const std::function<void(size_t)>& after,
                                            int moveAnyway, bool report) {
  std::vector<CFileBatchItem> out;
  COperationScope scope(engine);
  // What this batch moves is what shows as defragged afterwards.
  if (engine.MapHost()) engine.MapHost()->ClearMarks();
  MoveAnywayAnswer().store(moveAnyway);
  scope.ResetCounters();
  for (size_t index : items) {
    CFileBatchItem row;
    if (index >= engine.m_files.GetSize()) {
      out.push_back(row);
      continue;
    }
    CFileItem& item = engine.m_files[index];
    row.m_strPath = engine.GetItemPath(item);
    row.m_nFragmentsBefore = item.m_fragments.GetSize();
    row.m_nFirstLcnBefore = item.m_nFirstLcn;
    if (IsCancelled()) {
      row.m_result = FileBatchResult::Cancelled;
      row.m_nFragmentsAfter = row.m_nFragmentsBefore;
      row.m_nFirstLcnAfter = row.m_nFirstLcnBefore;
      out.push_back(row);
      continue;
    }
    if (before) before(index);
    const bool ok = engine.DefragFile(item, placement, report);
    row.m_nFragmentsAfter = item.m_fragments.GetSize();
    row.m_nFirstLcnAfter = item.m_nFirstLcn;
    if (ok)
      row.m_result = FileBatchResult::Defragmented;
    else if (IsCancelled())
      row.m_result = FileBatchResult::Cancelled;
    else if (row.m_nFragmentsAfter <= 1 && row.m_nFragmentsBefore <= 1)
      row.m_result = FileBatchResult::Skipped;
    else
      row.m_result = FileBatchResult::Failed;
    out.push_back(row);
    if (after) after(index);
  }
  MoveAnywayAnswer().store(-1);
  return out;
}

std::vector<CFileBatchItem> DefragFileBatch(CDefrag& engine, const std::string& root,
                                            const std::vector<std::string>& paths,
                                            DefragPlacement placement, int moveAnyway,
                                            IReportSink* report) {
  std::vector<size_t> items;
  std::vector<std::string> names;
  for (const std::string& name : paths) {
    names.push_back(VolumePath(root, name));
    items.push_back(FindItem(engine, names.back()));
  }
  IReportSink* previous = engine.Report();
  engine.SetReport(report);
  std::vector<CFileBatchItem> out =
      DefragFileItems(engine, items, placement, {}, {}, moveAnyway, report != nullptr);
  engine.SetReport(previous);
  // Rows keep the names as asked, found or not.
  for (size_t i = 0; i < out.size(); ++i) out[i].m_strPath = names[i];
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
