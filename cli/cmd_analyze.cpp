// analyze and files: the drive's figures and its fragmented files.
#include <cctype>
#include <cstdio>

#include "base/text.h"
#include "cli/commands.h"
#include "cli/json_writer.h"
#include "cli/session.h"
#include "cli/text_out.h"
#include "engine/globals.h"
#include "engine/statistics.h"
#include "pages/file_rows.h"
#include "pages/retrim.h"
#include "report/report_document.h"

namespace vt {

int RunAnalyze(const std::vector<std::string>& args) {
  CParsedArgs parsed = ParseCommandArgs("analyze", args);
  CCliSession session;
  session.ForReading();
  session.CheckAlways();
  int rc = OpenAndAnalyze(parsed, session, false);
  if (rc != EXIT_OK) return rc;
  session.NoteLostClusters();
  // Whatever was recorded stays, as in the drive page; the figures are
  // printed but the status says the analysis did not end.
  if (IsCancelled()) std::fprintf(stderr, "Analysis cancelled.\n");

  CDefrag& engine = session.Engine();
  CDriveData& drive = session.Drive();
  const uint64_t largest = LargestFreeRunClusters(engine) * drive.m_dwBytesPerCluster;
  if (parsed.Has("json")) {
    CJsonWriter json;
    json.BeginObject();
    json.Field("drive", drive.m_strDrive);
    json.Field("file_system", drive.m_strFileSystem);
    json.Field("files", drive.m_nFiles);
    json.Field("folders", drive.m_nFolders);
    json.Field("items", drive.m_nItems);
    json.Field("fragmented_files", drive.m_nFragmentedFiles);
    json.Field("fragments", drive.m_nFragments);
    json.Field("percent_fragmented", drive.m_dPercentFragmented);
    json.Field("total_clusters", engine.m_nTotalClusters);
    json.Field("bytes_per_cluster", drive.m_dwBytesPerCluster);
    json.Field("disk_size", drive.m_nDiskSize);
    json.Field("free_bytes", drive.m_nFreeBytes);
    uint64_t freeClusters = 0;
    for (const auto& run : engine.m_freeRuns) freeClusters += run.m_nClusters;
    json.Field("free_clusters", freeClusters);
    json.Field("free_runs", static_cast<uint64_t>(engine.m_freeRuns.GetSize()));
    json.Field("largest_free_block", largest);
    json.Field("elapsed_ms", session.ElapsedMs());
    json.Field("from_cache", session.LoadedFromCache());
    json.Field("lost_clusters", session.LostClusters());
    bool trim = false;
    QueryDriveMedia(session.Ops(), drive, &trim);
    json.Field("media", MediaName(drive.m_nSeekPenalty));
    json.Field("trim", trim);
    WriteErrorList(json, engine);
    json.EndObject();
    std::printf("%s\n", json.Text().c_str());
    return session.Damaged() ? EXIT_USAGE : EXIT_OK;
  }

  std::string row;
  row += "Drive\t" + drive.m_strDrive + "\n";
  row += "Files\t" + GroupThousands(drive.m_nItems) + "\n";
  row += "Files Fragmented\t" + GroupThousands(drive.m_nFragmentedFiles) + "\n";
  row += Format("%% Fragmented\t%.02f%%\n", drive.m_dPercentFragmented);
  row += "Disk Size\t" + FormatByteSize(drive.m_nDiskSize) + "\n";
  row += "Free Space\t" + FormatByteSize(drive.m_nFreeBytes) + "\n";
  row += "File System\t" + drive.m_strFileSystem + "\n";
  PrintText(row);

  CReportDocument report;
  report.AddHeading(AnalysisHeading(drive));
  for (const auto& line : AnalysisReportLines(engine, drive, session.ElapsedMs()))
    report.AddLine(line.label, line.value);
  report.AddFileList(engine.m_errors);
  PrintText(report.PlainText());
  return session.Damaged() ? EXIT_USAGE : EXIT_OK;
}

int RunFiles(const std::vector<std::string>& args) {
  CParsedArgs parsed = ParseCommandArgs("files", args);
  CCliSession session;
  session.ForReading();
  session.CheckAlways();
  int rc = OpenAndAnalyze(parsed, session, false);
  if (rc != EXIT_OK) return rc;
  // Whatever was recorded stays, as in the drive page; the figures are
  // printed but the status says the analysis did not end.
  if (IsCancelled()) std::fprintf(stderr, "Analysis cancelled.\n");

  CDefrag& engine = session.Engine();
  std::vector<CFileRow> rows =
      CollectFileRows(engine, session.Drive().m_bNtfs, parsed.Has("all"), parsed.Get("filter"));
  SortRowsByFragmentsDescending(engine, rows);

  if (parsed.Has("json")) {
    CJsonWriter json;
    json.BeginObject();
    json.Field("drive", session.Drive().m_strDrive);
    json.Key("files");
    json.BeginArray();
    for (const auto& row : rows) {
      const CFileItem& item = engine.m_files[row.m_nItem];
      json.BeginObject();
      json.Field("path", engine.GetItemPath(item));
      json.Field("name", item.m_strName);
      json.Field("folder", row.m_strFolder);
      json.Field("directory", item.IsDirectory());
      json.Field("unmovable", item.IsUnmovable());
      json.Field("virtual", (item.m_wFlags & FI_VIRTUAL) != 0);
      json.Field("record", item.m_nRecord);
      json.Field("size", item.m_nSize);
      json.Field("fragments", static_cast<uint64_t>(item.m_fragments.GetSize()));
      json.Field("clusters", item.GetClusters());
      json.Field("fragmentation_degree", item.GetFragmentationDegree());
      json.Field("last_write", row.m_strLastWrite);
      json.Field("first_lcn", item.m_nFirstLcn);
      json.Key("extents");
      json.BeginArray();
      for (const auto& f : item.m_fragments) {
        json.BeginArray();
        json.Number(f.m_nLcn);
        json.Number(static_cast<uint64_t>(f.m_nClusters));
        json.EndArray();
      }
      json.EndArray();
      json.EndObject();
    }
    json.EndArray();
    WriteErrorList(json, engine);
    json.EndObject();
    std::printf("%s\n", json.Text().c_str());
    return session.Damaged() ? EXIT_USAGE : EXIT_OK;
  }

  std::printf("Name\tSize\tFragments\tClusters\tFragmentation Degree\tLast Write Time\tFolder\n");
  for (const auto& row : rows)
    PrintText(row.m_strName + "\t" + row.m_strSize + "\t" + row.m_strFragments + "\t" +
              row.m_strClusters + "\t" + row.m_strDegree + "\t" + row.m_strLastWrite + "\t" +
              row.m_strFolder + "\n");
  std::printf("%s\n", FragmentedCountText(engine, rows).c_str());
  return session.Damaged() ? EXIT_USAGE : EXIT_OK;
}

}  // namespace vt
