// retrim: the free clusters of a volume given back to its storage (holes in
// an image file, discards on a device), refused as a move is.
#include <cstdio>

#include "cli/commands.h"
#include "cli/json_writer.h"
#include "cli/report_log.h"
#include "cli/session.h"
#include "pages/retrim.h"
#include "report/report_document.h"

namespace vt {

int RunRetrim(const std::vector<std::string>& args) {
  CParsedArgs parsed = ParseCommandArgs("retrim", args);
  if (!parsed.error.empty()) return Fail(EXIT_USAGE, parsed.error);
  if (parsed.positional.size() != 1)
    return Fail(EXIT_USAGE, "name exactly one VOLUME (see --help)");
  char letter = 'V';
  std::string error;
  if (!ReadLetterOption(parsed, &letter, &error)) return Fail(EXIT_USAGE, error);
  // Opened as for a move: the writer's lock, and the allocation check that
  // refuses a damaged volume.
  CCliSession session;
  int rc = session.Open(parsed.positional[0], letter, &error);
  if (rc != EXIT_OK) return Fail(rc, error);
  CDriveData& drive = session.Drive();
  bool trim = false;
  QueryDriveMedia(session.Ops(), drive, &trim);
  CReportDocument report;
  const CRetrimResult result = RetrimDrive(session.Engine(), drive, &report);
  if (result.m_bUnavailable) return EXIT_FAILED;  // the prompt printed why

  if (parsed.Has("json")) {
    CJsonWriter json;
    json.BeginObject();
    json.Field("drive", drive.m_strDrive);
    json.Field("media", MediaName(drive.m_nSeekPenalty));
    json.Field("trim", trim);
    json.Field("trimmed_bytes", result.m_nTrimmedBytes);
    json.Field("free_bytes", drive.m_nFreeBytes);
    json.Field("elapsed_ms", result.m_nElapsedMs);
    if (!result.m_bDone) json.Field("error", result.m_strError);
    json.EndObject();
    std::printf("%s\n", json.Text().c_str());
  }
  const bool logged = FinishReport(report, !parsed.Has("json"), parsed.Has("log"));
  if (!result.m_bDone)
    return Fail(EXIT_FAILED, "retrim of " + drive.m_strDrive + " failed: " + result.m_strError);
  return logged ? EXIT_OK : EXIT_FAILED;
}

}  // namespace vt
