#include "pages/scheduled_run.h"

#include "engine/globals.h"
#include "pages/drive_operations.h"
#include "pages/operation_scope.h"
#include "pages/retrim.h"
#include "pages/scheduler_page.h"

namespace vt {

std::string ScheduledRunTip(const std::string& root) {
  std::string tip = "Vantrel - Defragging " + root;
  if (tip.size() > 63) tip.resize(63);
  return tip;
}

int DriveLetterIndex(const CDriveData& drive) {
  if (drive.m_strDrive.empty()) return -1;
  char letter = drive.m_strDrive[0];
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  return letter >= 'A' && letter <= 'Z' ? letter - 'A' : -1;
}

CScheduledRunResult RunScheduledDefrag(CDefrag& engine, const SettingsFile& settings,
                                       std::vector<CDriveData>& candidates, IScheduledRunView& view,
                                       IReportSink* report) {
  CScheduledRunResult out;
  // The one place the run clears the cancel flag: a "Cancel Defrag" from
  // here on is never written over.
  COperationScope scope(engine);
  SetCancel(false);
  const std::vector<int> requested = ParseIndexList(settings.AutoDefragDrives());
  for (int index : requested) {
    if (IsCancelled()) break;
    for (CDriveData& drive : candidates) {
      if (DriveLetterIndex(drive) != index) continue;
      if (IsCancelled()) break;
      SetCurrentDrive(&drive);
      view.SetTip(ScheduledRunTip(drive.m_strDrive));
      // A solid-state drive is retrimmed instead: defragmenting it only
      // wears it. Where the system has no retrim it is left alone.
      if (IsSolidState(drive)) {
        if (!RetrimDrive(engine, drive, report).m_bUnavailable) {
          out.m_done.push_back(drive.m_strDrive);
          out.m_retrimmed.push_back(drive.m_strDrive);
        }
        continue;
      }
      CAnalyzeOptions analyze;
      analyze.m_bMarkAnalyzed = true;
      const DWORD start = engine.System().GetTickCount();
      engine.m_freeRuns.RemoveAll();
      const CAnalysis analysis = OpenAndAnalyze(engine, drive, analyze);
      if (analysis.m_result == AnalyzeResult::OpenFailed) continue;
      if (analysis.m_result == AnalyzeResult::Failed && !IsCancelled()) continue;
      // A stop during the analysis still ends in the drive's report; the
      // pass then moves nothing.
      CDriveOperation op;
      op.m_kind = DriveOperationKind::DefragDrive;
      op.m_filter = CDefragFilter::All();
      op.m_bSinceStart = true;  // "Total time:" includes the analysis
      op.m_dwStartTick = start;
      op.m_pszHeading = kScheduledHeading;
      RunDriveOperation(engine, drive, op, report);
      out.m_done.push_back(drive.m_strDrive);
    }
  }
  out.m_bCancelled = IsCancelled();
  SetCurrentDrive(nullptr);
  return out;
}

}  // namespace vt
