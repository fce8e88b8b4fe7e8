// defrag-file: defragment named files as one batch, as the fragmented-file
// page does with its selection.
#include <cctype>
#include <cstdio>

#include "cli/commands.h"
#include "cli/json_writer.h"
#include "cli/report_log.h"
#include "cli/session.h"
#include "cli/text_out.h"
#include "engine/globals.h"
#include "engine/text.h"
#include "report/report_document.h"

namespace vt {

namespace {

// "\Data\a.txt", "/Data/a.txt", "Data/a.txt" or "V:\Data\a.txt" as a path
// on the volume whose root is "V:\".
std::string VolumePath(const std::string& root, std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
  if (path.size() >= 2 && path[1] == ':') path = path.substr(2);
  while (!path.empty() && path[0] == '\\') path.erase(0, 1);
  while (!path.empty() && path.back() == '\\') path.pop_back();
  return root.substr(0, 2) + "\\" + path;
}

CFileItem* FindItem(CDefrag& engine, const std::string& path) {
  for (auto& item : engine.m_files)
    if (EqualsNoCase(engine.GetItemPath(item), path)) return &item;
  return nullptr;
}

}  // namespace

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
  engine.SetReport(&report);
  MoveAnywayAnswer().store(parsed.Has("move-anyway")         ? IDYES
                           : parsed.Has("skip-unfragmented") ? IDNO
                                                             : -1);
  engine.m_dwStartTick = HostSystem().GetTickCount();
  engine.m_nMovedClusters = 0;

  CJsonWriter json;
  json.BeginObject();
  json.Field("drive", session.Drive().m_strDrive);
  json.Key("files");
  json.BeginArray();
  int failures = 0;
  for (size_t i = 1; i < parsed.positional.size(); ++i) {
    const std::string path = VolumePath(session.Root(), parsed.positional[i]);
    CFileItem* item = FindItem(engine, path);
    json.BeginObject();
    json.Field("path", path);
    if (!item) {
      ++failures;
      std::string why = "not found, or it holds no clusters";
      std::fprintf(stderr, "vantrel-cli: %s: %s\n", AnsiForTerminal(path).c_str(), why.c_str());
      json.Field("result", std::string("not-found"));
      json.EndObject();
      continue;
    }
    const uint64_t fragmentsBefore = item->m_fragments.GetSize();
    const uint64_t firstBefore = item->m_nFirstLcn;
    bool ok = IsCancelled() ? false : engine.DefragFile(*item, placement, true);
    std::string result = ok ? "defragmented" : IsCancelled() ? "cancelled"
                         : item->m_fragments.GetSize() <= 1 && fragmentsBefore <= 1 ? "skipped"
                                                                                     : "failed";
    if (!ok && result == "failed") ++failures;
    json.Field("fragments_before", fragmentsBefore);
    json.Field("fragments_after", static_cast<uint64_t>(item->m_fragments.GetSize()));
    json.Field("first_lcn_before", firstBefore);
    json.Field("first_lcn_after", item->m_nFirstLcn);
    json.Field("result", result);
    json.EndObject();
  }
  json.EndArray();
  json.Field("moved_clusters", static_cast<uint64_t>(engine.m_nMovedClusters));
  json.Key("messages");
  json.BeginArray();
  for (const auto& m : session.Prompt().Messages()) json.String(m);
  json.EndArray();
  json.EndObject();
  engine.SetReport(nullptr);
  MoveAnywayAnswer().store(-1);

  const bool logged = FinishReport(report, !parsed.Has("json"), parsed.Has("log"));
  if (parsed.Has("json")) {
    std::printf("%s\n", json.Text().c_str());
  } else {
    for (const auto& m : session.Prompt().Messages()) PrintText("\n" + m + "\n");
  }
  return failures == 0 && logged ? EXIT_OK : EXIT_FAILED;
}

}  // namespace vt
