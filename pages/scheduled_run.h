// The unattended scheduled run ("/auto"): every drive chosen on the
// Scheduler page, one after the other, defragmented with no filter; a
// "Scheduled Defrag Drive " report per drive while logging is on.
#pragma once

#include <string>
#include <vector>

#include "app/settings_file.h"
#include "engine/defrag.h"

namespace vt {

class IReportSink;

constexpr const char* kScheduledHeading = "Scheduled Defrag Drive ";

// "Vantrel - Defragging C:\" (cut to the 63 characters a tip holds).
std::string ScheduledRunTip(const std::string& root);

// The drive's letter as an index, 0 for A: (the drive page numbers its
// rows in m_nDriveIndex instead); -1 without a letter.
int DriveLetterIndex(const CDriveData& drive);

// What the tray shows while the run works.
class IScheduledRunView {
 public:
  virtual ~IScheduledRunView() = default;
  virtual void SetTip(const std::string& text) = 0;
};

struct CScheduledRunResult {
  std::vector<std::string> m_done;       // roots whose pass ran, in order
  std::vector<std::string> m_retrimmed;  // the solid-state ones among them
  bool m_bCancelled = false;
};

// The run over "AutoDefragDrives": candidates are the fixed drives from C:
// on (as the drive page lists them); an index without a candidate is passed
// over, one listed twice runs twice, a drive that cannot be opened is
// skipped, a solid-state drive is retrimmed ("Retrim Drive " report)
// instead of defragmented. report: where the sections go (null: logging off). The cancel
// flag is cleared at the start and checked before each drive.
CScheduledRunResult RunScheduledDefrag(CDefrag& engine, const SettingsFile& settings,
                                       std::vector<CDriveData>& candidates, IScheduledRunView& view,
                                       IReportSink* report);

}  // namespace vt
