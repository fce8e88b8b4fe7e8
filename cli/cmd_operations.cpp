// defrag, freespace and map: the drive page's operations on one volume.
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/settings_file.h"
#include "base/text.h"
#include "cli/commands.h"
#include "cli/json_writer.h"
#include "cli/report_log.h"
#include "cli/session.h"
#include "cli/text_out.h"
#include "engine/globals.h"
#include "engine/statistics.h"
#include "map/map_picture.h"
#include "pages/custom_defrag_options.h"
#include "pages/drive_operations.h"
#include "report/report_document.h"

namespace vt {

namespace {

// "all", "size:BYTES", "degree:PERCENT", "only:.ext,.ext", "exclude:.ext,.ext".
bool ParseFilter(const std::string& text, CDefragFilter* filter, std::string* error) {
  const size_t colon = text.find(':');
  const std::string kind = text.substr(0, colon);
  const std::string value = colon == std::string::npos ? std::string() : text.substr(colon + 1);
  if (kind == "all" && colon == std::string::npos) {
    *filter = CDefragFilter::All();
    return true;
  }
  if (kind == "size") {
    uint32_t bytes = 0;
    if (!ParseUInt32(value, &bytes)) {
      *error = "--filter size:BYTES takes a whole number of bytes below 4 GiB";
      return false;
    }
    *filter = CDefragFilter::Size(bytes);
    return true;
  }
  if (kind == "degree") {
    char* end = nullptr;
    const double percent = std::strtod(value.c_str(), &end);
    if (value.empty() || *end != '\0' || !(percent >= 0.0) || percent > 100.0) {
      *error = "--filter degree:PERCENT takes a number from 0 to 100";
      return false;
    }
    *filter = CDefragFilter::Percent(percent);
    return true;
  }
  if (kind == "only" || kind == "exclude") {
    std::vector<std::string> types;
    size_t start = 0;
    while (start <= value.size()) {
      size_t comma = value.find(',', start);
      if (comma == std::string::npos) comma = value.size();
      std::string entry = value.substr(start, comma - start);
      if (!entry.empty()) {
        if (entry[0] != '.') entry = "." + entry;
        types.push_back(entry);
      }
      start = comma + 1;
    }
    *filter = CDefragFilter::Types(kind == "only" ? OnlyTypes : ExcludeTypes, types);
    return true;
  }
  *error = "--filter is all, size:BYTES, degree:PERCENT, only:.ext,... or exclude:.ext,...";
  return false;
}

bool ReadPictureOptions(const CParsedArgs& parsed, MapPictureOptions* options, std::string* error) {
  auto number = [&](const char* name, uint64_t* out) {
    if (!parsed.Has(name)) return true;
    const std::string text = parsed.Get(name);
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || text[0] == '-') {
      *error = std::string("--") + name + " takes a whole number";
      return false;
    }
    *out = v;
    return true;
  };
  uint64_t width = static_cast<uint64_t>(options->width);
  uint64_t height = static_cast<uint64_t>(options->height);
  uint64_t block = static_cast<uint64_t>(SettingsFile().BlockSize());
  if (block < 1 || block > 10) block = 7;
  if (!number("width", &width) || !number("height", &height) || !number("block-size", &block) ||
      !number("first-cluster", &options->firstCluster))
    return false;
  // The picture's own check says what the limits are, in one message each.
  options->width = static_cast<int>(std::min<uint64_t>(width, INT_MAX));
  options->height = static_cast<int>(std::min<uint64_t>(height, INT_MAX));
  options->blockSize = static_cast<int>(std::min<uint64_t>(block, INT_MAX));
  options->uncompressed = parsed.Has("uncompressed");
  return CheckMapPictureOptions(*options, error);
}

// Draws the map after the operation, its moves still marked.
int DrawAfter(const CParsedArgs& parsed, CCliSession& session) {
  if (!parsed.Has("png")) return EXIT_OK;
  MapPictureOptions options;
  std::string error;
  if (!ReadPictureOptions(parsed, &options, &error)) return Fail(EXIT_USAGE, error);
  if (!WriteMapPng(session.Map(), options, parsed.Get("png"), &error))
    return Fail(EXIT_FAILED, error);
  return EXIT_OK;
}

}  // namespace

namespace {

// A drive operation as the drive page runs it (pages/drive_operations), then
// the JSON figures, the printed report and the map.
int RunOperation(const CParsedArgs& parsed, const CDriveOperation& op) {
  std::string error;
  if (parsed.Has("png") && !CheckOutputPath(parsed, parsed.Get("png"), &error))
    return Fail(EXIT_USAGE, error);
  CCliSession session;
  int rc = OpenAndAnalyze(parsed, session, parsed.Has("png"));
  if (rc != EXIT_OK) return rc;
  CDriveData& drive = session.Drive();
  CReportDocument report;
  CDriveOperation run = op;
  CDefrag& engine = session.Engine();
  COperationScope scope(engine);
  if (InterruptRequested()) SetCancel(true);  // a Ctrl-C before the start counts too
  const uint64_t bytesPerCluster = drive.m_dwBytesPerCluster;
  run.m_onStart = [&session, &engine, bytesPerCluster] {
    session.Sink().TrackMoves(
        [&engine, bytesPerCluster] { return engine.m_nMovedClusters * bytesPerCluster; });
  };
  // The "Cancelled:" line is written after this: it gives the real reason,
  // which is a signal only when one came.
  std::string stopReason;
  run.m_onEnd = [&session, &engine, &run, &stopReason] {
    session.Sink().Finish();
    if (InterruptRequested())
      run.m_strCancelledLine = InterruptText() + " after the move in progress";
    else if (IsCancelled())
      run.m_strCancelledLine = stopReason = StopReason(engine, HostSystem());
    session.NoteLostClusters();
  };
  const CDriveOperationResult result = RunDriveOperation(engine, drive, run, &report);
  session.DropCache();
  const int failed = PrintFailures(result.m_errors);

  CJsonWriter json;
  json.BeginObject();
  json.Field("drive", drive.m_strDrive);
  if (op.m_kind == DriveOperationKind::DefragFreeSpace) json.Field("mode", op.m_nFreeMode);
  json.Field("cancelled", result.m_bCancelled);
  json.Field("moved_clusters", result.m_nMovedClusters);
  json.Field("fragmented_files_before", result.m_nFragmentedBefore);
  json.Field("fragmented_files_after", drive.m_nFragmentedFiles);
  json.Field("largest_free_block_before", result.m_nLargestBefore);
  json.Field("largest_free_block_after", result.m_nLargestAfter);
  WriteErrorList(json, result.m_errors);
  json.EndObject();

  const bool logged = FinishReport(report, !parsed.Has("json"), parsed.Has("log"));
  if (parsed.Has("json")) std::printf("%s\n", json.Text().c_str());

  rc = DrawAfter(parsed, session);
  if (rc != EXIT_OK) return rc;
  if (!stopReason.empty()) Fail(EXIT_FAILED, stopReason);
  return logged && failed == 0 && stopReason.empty() ? EXIT_OK : EXIT_FAILED;
}

}  // namespace

int RunDefrag(const std::vector<std::string>& args) {
  CParsedArgs parsed = ParseCommandArgs("defrag", args);
  CDefragFilter filter;
  if (parsed.error.empty()) {
    std::string error;
    if (parsed.Has("filter")) {
      if (!ParseFilter(parsed.Get("filter"), &filter, &error)) return Fail(EXIT_USAGE, error);
    } else {
      filter = ReadDefragFilter(SettingsFile());
    }
    filter.m_bMakeRoom = ReadDefragFilter(SettingsFile()).m_bMakeRoom;
    if (parsed.Has("make-room")) {
      const std::string text = parsed.Get("make-room");
      if (text != "on" && text != "off") return Fail(EXIT_USAGE, "--make-room is on or off");
      filter.m_bMakeRoom = text == "on";
    }
  }
  CDriveOperation op;
  op.m_kind = DriveOperationKind::DefragDrive;
  op.m_filter = filter;
  return RunOperation(parsed, op);
}

int RunFreeSpace(const std::vector<std::string>& args) {
  CParsedArgs parsed = ParseCommandArgs("freespace", args);
  // Only 3 asks to maximize; anything else stored is the default.
  int32_t mode = SettingsFile().DefragFreeMode() == kFreeModeMaximize ? kFreeModeMaximize
                                                                      : kFreeModeDontFragment;
  if (parsed.Has("mode")) {
    const std::string text = parsed.Get("mode");
    if (text == "dont-fragment")
      mode = kFreeModeDontFragment;
    else if (text == "maximize")
      mode = kFreeModeMaximize;
    else
      return Fail(EXIT_USAGE, "--mode is dont-fragment or maximize");
  }
  CDriveOperation op;
  op.m_kind = DriveOperationKind::DefragFreeSpace;
  op.m_nFreeMode = mode;
  return RunOperation(parsed, op);
}

int RunMap(const std::vector<std::string>& args) {
  CParsedArgs parsed = ParseCommandArgs("map", args);
  if (parsed.error.empty() && !parsed.Has("png") && !parsed.Has("bytes"))
    return Fail(EXIT_USAGE, "map needs --png FILE or --bytes FILE");
  MapPictureOptions options;
  std::string error;
  if (parsed.error.empty() && !ReadPictureOptions(parsed, &options, &error))
    return Fail(EXIT_USAGE, error);
  for (const char* output : {"bytes", "png"}) {
    if (parsed.Has(output) && !CheckOutputPath(parsed, parsed.Get(output), &error))
      return Fail(EXIT_USAGE, error);
  }
  CCliSession session;
  session.ForReading();
  session.CheckAlways();
  int rc = OpenAndAnalyze(parsed, session, true);
  if (rc != EXIT_OK) return rc;
  if (parsed.Has("bytes")) {
    // One state byte per cluster, as the map holds them.
    CMapSnapshot bytes = session.Map().Snapshot();
    std::FILE* out = std::fopen(parsed.Get("bytes").c_str(), "wb");
    const size_t n = bytes ? bytes->Length() : 0;
    const bool ok = out && (n == 0 || std::fwrite(bytes->Data(), 1, n, out) == n);
    if (out && std::fclose(out) != 0)
      return Fail(EXIT_FAILED, "cannot write " + parsed.Get("bytes"));
    if (!ok) return Fail(EXIT_FAILED, "cannot write " + parsed.Get("bytes"));
  }
  if (parsed.Has("png") && !WriteMapPng(session.Map(), options, parsed.Get("png"), &error))
    return Fail(EXIT_FAILED, error);
  return session.Damaged() ? EXIT_USAGE : EXIT_OK;
}

}  // namespace vt
