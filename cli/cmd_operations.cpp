// defrag, freespace and map: the drive page's operations on one volume.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "app/custom_defrag_options.h"
#include "app/settings_file.h"
#include "cli/commands.h"
#include "cli/json_writer.h"
#include "cli/report_log.h"
#include "cli/session.h"
#include "cli/text_out.h"
#include "engine/globals.h"
#include "engine/statistics.h"
#include "engine/text.h"
#include "map/map_picture.h"
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
  uint64_t block = static_cast<uint64_t>(SettingsFile().GetInt("BlockSize", options->blockSize));
  if (block < 1 || block > 10) block = 7;
  if (!number("width", &width) || !number("height", &height) || !number("block-size", &block) ||
      !number("first-cluster", &options->firstCluster))
    return false;
  if (width > 20000 || height > 20000 || block > 10) {
    *error = "--width and --height go up to 20000 pixels, --block-size from 1 to 10";
    return false;
  }
  options->width = static_cast<int>(width);
  options->height = static_cast<int>(height);
  options->blockSize = static_cast<int>(block);
  options->uncompressed = parsed.Has("uncompressed");
  return CheckMapPictureOptions(*options, error);
}

int OpenForOperation(const CParsedArgs& parsed, CCliSession& session, bool map) {
  if (!parsed.error.empty()) return Fail(EXIT_USAGE, parsed.error);
  if (parsed.positional.size() != 1)
    return Fail(EXIT_USAGE, "name exactly one VOLUME (see --help)");
  char letter = 'V';
  std::string error;
  if (!ReadLetterOption(parsed, &letter, &error)) return Fail(EXIT_USAGE, error);
  int rc = session.Open(parsed.positional[0], letter, &error);
  if (rc != EXIT_OK) return Fail(rc, error);
  if (map) session.EnableMap();
  rc = session.Analyze(&error);
  if (rc != EXIT_OK) return Fail(rc, error);
  return EXIT_OK;
}

uint64_t LargestFreeBlock(CCliSession& session) {
  return LargestFreeRunClusters(session.Engine()) * session.Drive().m_dwBytesPerCluster;
}

// The figures both drive operations print: clusters moved, fragmented files
// and the largest free block before and after, and the error list.
void WriteOperationFigures(CJsonWriter& json, CCliSession& session, uint64_t moved,
                           uint64_t fragmentedBefore, uint64_t largestBefore) {
  json.Field("moved_clusters", moved);
  json.Field("fragmented_files_before", fragmentedBefore);
  json.Field("fragmented_files_after", session.Drive().m_nFragmentedFiles);
  json.Field("largest_free_block_before", largestBefore);
  json.Field("largest_free_block_after", LargestFreeBlock(session));
  WriteErrorList(json, session.Engine());
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

// A drive operation as the drive page runs it: the figures before, the
// process settings around the engine call, the statistics after, then the
// JSON figures and the report section.
struct COperation {
  std::string heading;   // report heading, the drive follows
  bool hasMode = false;  // --json shows the free-space mode
  int mode = 0;
  bool largestInReport = false;  // the report shows "Largest free block:"
  std::function<uint64_t(CDefrag&)> run;
  std::function<void(CDefrag&, CDriveData&)> settle;  // after the call, before statistics
};

int RunOperation(const CParsedArgs& parsed, const COperation& op) {
  CCliSession session;
  int rc = OpenForOperation(parsed, session, parsed.Has("png"));
  if (rc != EXIT_OK) return rc;
  CDefrag& engine = session.Engine();
  CDriveData& drive = session.Drive();

  const uint64_t fragmentedBefore = drive.m_nFragmentedFiles;
  const uint64_t largestBefore = LargestFreeBlock(session);
  const uint32_t start = HostSystem().GetTickCount();
  SettingsFile settings;
  settings.ApplyProcessSettings();
  engine.m_errors.RemoveAll();
  SetCancel(InterruptRequested());
  const uint64_t bytesPerCluster = drive.m_dwBytesPerCluster;
  session.Sink().TrackMoves(
      [&engine, bytesPerCluster] { return engine.m_nMovedClusters * bytesPerCluster; });
  const uint64_t moved = op.run(engine);
  session.Sink().Finish();
  const bool cancelled = IsCancelled();
  SettingsFile::ResetProcessSettings();
  const uint64_t elapsed = HostSystem().GetTickCount() - start;
  op.settle(engine, drive);
  session.NoteLostClusters();
  ComputeDriveStatistics(engine, drive);

  CJsonWriter json;
  json.BeginObject();
  json.Field("drive", drive.m_strDrive);
  if (op.hasMode) json.Field("mode", op.mode);
  json.Field("cancelled", cancelled);
  WriteOperationFigures(json, session, moved, fragmentedBefore, largestBefore);
  json.EndObject();

  CReportDocument report;
  report.AddHeading(op.heading + drive.m_strDrive);
  report.AddLine("Total time:", FormatElapsed(elapsed, elapsed >= 86400000ull));
  report.AddLine("Bytes processed:", FormatByteSize(moved * drive.m_dwBytesPerCluster));
  if (cancelled) report.AddLine("Cancelled:", "stopped by Ctrl-C after the move in progress");
  if (op.largestInReport) {
    report.AddLine("Largest free block:", FormatByteSize(LargestFreeBlock(session)));
  }
  report.AddFileList(engine.m_errors);
  const bool logged = FinishReport(report, !parsed.Has("json"), parsed.Has("log"));
  if (parsed.Has("json")) std::printf("%s\n", json.Text().c_str());

  rc = DrawAfter(parsed, session);
  if (rc != EXIT_OK) return rc;
  return logged ? EXIT_OK : EXIT_FAILED;
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
  }
  COperation op;
  op.heading = "Defrag Drive ";
  op.run = [&filter](CDefrag& engine) { return RunDefragDrive(engine, filter); };
  op.settle = [](CDefrag&, CDriveData& drive) { drive.m_nState = DRIVE_STATE_ANALYZED; };
  return RunOperation(parsed, op);
}

int RunFreeSpace(const std::vector<std::string>& args) {
  CParsedArgs parsed = ParseCommandArgs("freespace", args);
  int32_t mode = SettingsFile().GetInt("DefragFreeMode", kFreeModeDontFragment);
  if (parsed.Has("mode")) {
    const std::string text = parsed.Get("mode");
    if (text == "dont-fragment")
      mode = kFreeModeDontFragment;
    else if (text == "maximize")
      mode = kFreeModeMaximize;
    else
      return Fail(EXIT_USAGE, "--mode is dont-fragment or maximize");
  }
  COperation op;
  op.heading = "Defrag free space ";
  op.hasMode = true;
  op.mode = static_cast<int>(mode);
  op.largestInReport = true;
  op.run = [mode](CDefrag& engine) { return engine.DefragFreeSpace(mode); };
  op.settle = [](CDefrag& engine, CDriveData&) { engine.BuildFreeRunList(); };
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
  CCliSession session;
  session.ForReading();
  int rc = OpenForOperation(parsed, session, true);
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
  return EXIT_OK;
}

}  // namespace vt
