// defrag-file: defragment named files as one batch, as the fragmented-file
// page does with its selection.
#include <cctype>
#include <cstdio>

#include "base/text.h"
#include "cli/commands.h"
#include "cli/console_host.h"
#include "cli/json_writer.h"
#include "cli/report_log.h"
#include "cli/session.h"
#include "cli/text_out.h"
#include "engine/globals.h"
#include "pages/drive_operations.h"
#include "report/report_document.h"

namespace vt {

int RunDefragFile(const std::vector<std::string>& args) {
  CParsedArgs parsed = ParseCommandArgs("defrag-file", args);
  if (!parsed.error.empty()) return Fail(EXIT_USAGE, parsed.error);
  if (parsed.positional.size() < 2) return Fail(EXIT_USAGE, "name a VOLUME and at least one PATH");
  if (parsed.Has("move-anyway") && parsed.Has("skip-unfragmented"))
    return Fail(EXIT_USAGE, "--move-anyway and --skip-unfragmented exclude each other");
  const std::string placementText = parsed.Get("placement", "best-fit");
  DefragPlacement placement;
  if (placementText == "best-fit")
    placement = BestFit;
  else if (placementText == "outer-track")
    placement = OuterTrack;
  else
    return Fail(EXIT_USAGE, "--placement is best-fit or outer-track");

  char letter = 'V';
  std::string error;
  if (!ReadLetterOption(parsed, &letter, &error)) return Fail(EXIT_USAGE, error);
  // A path on another drive is not a path of this volume.
  for (size_t i = 1; i < parsed.positional.size(); ++i) {
    const std::string& path = parsed.positional[i];
    if (PathDriveLetter(path) != 0 && PathDriveLetter(path) != letter)
      return Fail(EXIT_USAGE, path + " is not on drive " + std::string(1, letter) +
                                  ": (the volume's letter; see --letter)");
  }
  CCliSession session;
  int rc = session.Open(parsed.positional[0], letter, &error);
  if (rc != EXIT_OK) return Fail(rc, error);
  // Questions a person would answer: move unfragmented files only when asked
  // to, and do not start other operations.
  session.Prompt().SetAnswer(IDNO);
  rc = session.AnalyzeFiles(
      std::vector<std::string>(parsed.positional.begin() + 1, parsed.positional.end()), &error);
  if (rc != EXIT_OK) return Fail(rc, error);

  CDefrag& engine = session.Engine();
  CReportDocument report;
  const int moveAnyway = parsed.Has("move-anyway")         ? IDYES
                         : parsed.Has("skip-unfragmented") ? IDNO
                                                           : -1;
  COperationScope scope(engine);
  if (InterruptRequested()) SetCancel(true);  // a Ctrl-C during the analysis counts too
  const std::vector<CFileBatchItem> results = DefragFileBatch(
      engine, session.Root(),
      std::vector<std::string>(parsed.positional.begin() + 1, parsed.positional.end()), placement,
      moveAnyway, &report);
  session.DropCache();
  std::vector<CFileErrors> errors;
  for (const auto& e : engine.m_errors) errors.push_back(e);

  CJsonWriter json;
  json.BeginObject();
  json.Field("drive", session.Drive().m_strDrive);
  json.Key("files");
  json.BeginArray();
  int failures = 0;
  for (const CFileBatchItem& row : results) {
    json.BeginObject();
    json.Field("path", row.m_strPath);
    if (row.m_result == FileBatchResult::NotFound) {
      ++failures;
      std::fprintf(stderr, "vantrel-cli: %s: not found, or it holds no clusters\n",
                   AnsiForTerminal(row.m_strPath).c_str());
    } else {
      // A batch that stopped without a Ctrl-C stopped for a fault.
      if (row.m_result == FileBatchResult::Failed ||
          (row.m_result == FileBatchResult::Cancelled && !InterruptRequested()))
        ++failures;
      json.Field("fragments_before", row.m_nFragmentsBefore);
      json.Field("fragments_after", row.m_nFragmentsAfter);
      json.Field("first_lcn_before", row.m_nFirstLcnBefore);
      json.Field("first_lcn_after", row.m_nFirstLcnAfter);
    }
    json.Field("result", std::string(FileBatchResultName(row.m_result)));
    json.EndObject();
  }
  json.EndArray();
  json.Field("moved_clusters", static_cast<uint64_t>(engine.m_nMovedClusters));
  WriteErrorList(json, errors);
  json.Key("messages");
  json.BeginArray();
  for (const auto& m : session.Prompt().Messages()) json.String(m);
  json.EndArray();
  json.EndObject();

  const bool logged = FinishReport(report, !parsed.Has("json"), parsed.Has("log"));
  if (parsed.Has("json")) {
    std::printf("%s\n", json.Text().c_str());
  } else {
    for (const auto& m : session.Prompt().Messages()) PrintText("\n" + m + "\n");
  }
  failures += PrintFailures(errors);
  return failures == 0 && logged ? EXIT_OK : EXIT_FAILED;
}

}  // namespace vt
