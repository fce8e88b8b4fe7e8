#include "pages/retrim.h"

#include "base/text.h"
#include "engine/globals.h"
#include "engine/report_sink.h"
#include "pages/drive_operations.h"

namespace vt {

const char* MediaText(int seekPenalty) {
  if (seekPenalty == SEEK_PENALTY_NO) return "Solid state drive";
  if (seekPenalty == SEEK_PENALTY_YES) return "Hard disk drive";
  return "";
}

const char* MediaName(int seekPenalty) {
  if (seekPenalty == SEEK_PENALTY_NO) return "ssd";
  if (seekPenalty == SEEK_PENALTY_YES) return "hdd";
  return "unknown";
}

bool IsSolidState(const CDriveData& drive) { return drive.m_nSeekPenalty == SEEK_PENALTY_NO; }

void QueryDriveMedia(IVolumeOps& ops, CDriveData& drive, bool* trim) {
  VOLUME_MEDIA_INFO media{SEEK_PENALTY_UNKNOWN, FALSE};
  if (!ops.GetVolumeMediaA(drive.m_strDrive.c_str(), &media))
    media = VOLUME_MEDIA_INFO{SEEK_PENALTY_UNKNOWN, FALSE};
  drive.m_nSeekPenalty = media.SeekPenalty;
  if (trim) *trim = media.TrimSupported != FALSE;
}

CRetrimResult RetrimDrive(CDefrag& engine, const CDriveData& drive, IReportSink* report) {
  CRetrimResult out;
  CBusy busy;
  const uint64_t start = NowMs();
  ULONGLONG trimmed = 0;
  IVolumeOps& ops = engine.Ops();
  out.m_bDone = ops.RetrimVolumeA(drive.m_strDrive.c_str(), &trimmed) != FALSE;
  out.m_dwError = out.m_bDone ? ERROR_SUCCESS : ops.GetLastError();
  out.m_nTrimmedBytes = trimmed;
  out.m_nElapsedMs = NowMs() - start;
  if (out.m_dwError == ERROR_OLD_WIN_VERSION) {
    out.m_bUnavailable = true;
    engine.Prompt().ShowMessage(kRetrimUnavailable, MB_OK | MB_ICONERROR);
    return out;
  }
  if (!out.m_bDone) {
    out.m_strError = engine.System().FormatSystemMessage(out.m_dwError);
    while (!out.m_strError.empty() &&
           (out.m_strError.back() == '\n' || out.m_strError.back() == '\r' ||
            out.m_strError.back() == ' '))
      out.m_strError.pop_back();
  }
  if (report) {
    // A retrim that failed does not say it completed.
    if (out.m_bDone)
      report->AddHeading(kRetrimHeading + drive.m_strDrive);
    else
      report->AddFailedHeading(kRetrimHeading + drive.m_strDrive);
    report->AddLine("Total time:",
                    FormatElapsed(out.m_nElapsedMs, out.m_nElapsedMs >= 86400000ull));
    report->AddLine("Bytes trimmed:", FormatByteSize(out.m_nTrimmedBytes));
    if (!out.m_bDone) report->AddLine("Retrim failed:", out.m_strError);
  }
  return out;
}

}  // namespace vt
