// Retrim: a solid-state drive is told which clusters are free instead of
// being defragmented, which only adds wear to it. The drive page, the
// scheduled run and the command line run it through here.
#pragma once

#include <cstdint>
#include <string>

#include "engine/defrag.h"

namespace vt {

class IReportSink;

constexpr const char* kRetrimHeading = "Retrim Drive ";
constexpr const char* kRetrimQuestion =
    "%s is a solid-state drive. Defragmenting it adds wear and does not make it faster. Retrim "
    "it instead?";
constexpr const char* kRetrimUnavailable = "Retrim is not available on this version of Windows.";

// The media column: "Solid state drive", "Hard disk drive", or "" unknown.
const char* MediaText(int seekPenalty);
// "ssd", "hdd" or "unknown" (the command line's JSON).
const char* MediaName(int seekPenalty);
bool IsSolidState(const CDriveData& drive);

// Asks the system what the drive's storage is and keeps the answer in the
// record; *trim (when given) says whether it takes trim requests.
void QueryDriveMedia(IVolumeOps& ops, CDriveData& drive, bool* trim = nullptr);

struct CRetrimResult {
  bool m_bDone = false;         // the retrim ran to its end
  bool m_bUnavailable = false;  // the system has no retrim; the message was shown
  DWORD m_dwError = ERROR_SUCCESS;
  std::string m_strError;  // the system's text for m_dwError
  uint64_t m_nTrimmedBytes = 0;
  uint64_t m_nElapsedMs = 0;
};

// Retrims one drive. Where the system has no retrim, the message box and
// nothing else; otherwise the report section "Retrim Drive <root>" with
// "Total time:" and "Bytes trimmed:" (and the reason when it failed).
CRetrimResult RetrimDrive(CDefrag& engine, const CDriveData& drive, IReportSink* report);

}  // namespace vt
