#include "engine/statistics.h"

#include "base/text.h"

namespace vt {

bool IsCountedItem(const CFileItem& item, bool ntfs) {
  if ((item.m_wFlags & FI_UNMOVABLE) && !item.m_strName.empty() && item.m_strName[0] == '$')
    return false;
  if ((item.m_wFlags & FI_DIRECTORY) && !ntfs) return false;
  return true;
}

void ComputeDriveStatistics(const CDefrag& engine, CDriveData& drive) {
  if (drive.m_nFolders + drive.m_nFiles != 0) drive.m_nItems = drive.m_nFolders + drive.m_nFiles;
  uint64_t fragmentedFiles = 0;
  uint64_t fragments = 0;
  double fragmentedClusters = 0.0;
  for (const auto& item : engine.m_files) {
    if (!IsCountedItem(item, drive.m_bNtfs)) continue;
    if (item.m_fragments.GetSize() <= 1) continue;
    fragmentedFiles += 1;
    fragments += item.m_fragments.GetSize();
    for (const auto& f : item.m_fragments) fragmentedClusters += static_cast<double>(f.m_nClusters);
  }
  drive.m_nFragmentedFiles = fragmentedFiles;
  drive.m_nFragments = fragments;
  drive.m_dPercentFragmented =
      engine.m_nTotalClusters == 0
          ? 0.0
          : fragmentedClusters * 100.0 / static_cast<double>(engine.m_nTotalClusters);
}

uint64_t LargestFreeRunClusters(const CDefrag& engine) {
  uint64_t largest = 0;
  for (const auto& run : engine.m_freeRuns)
    if (run.m_nState == RUN_FREE && run.m_nClusters > largest) largest = run.m_nClusters;
  return largest;
}

std::string AnalysisHeading(const CDriveData& drive) { return "Analyze Drive " + drive.m_strDrive; }

uint64_t FilesPerSecond(uint64_t files, uint64_t folders, uint64_t elapsedMs) {
  if (elapsedMs == 0) elapsedMs = 1;
  return (files + folders) * 1000 / elapsedMs;
}

std::vector<CReportLine> AnalysisReportLines(const CDefrag& engine, const CDriveData& drive,
                                             uint64_t elapsedMs) {
  std::vector<CReportLine> lines;
  lines.push_back({"Total time:", FormatElapsed(elapsedMs)});
  lines.push_back({"Files per second:",
                   GroupThousands(FilesPerSecond(drive.m_nFiles, drive.m_nFolders, elapsedMs))});
  lines.push_back({"Total files:", GroupThousands(drive.m_nFiles)});
  lines.push_back({"Total folders:", GroupThousands(drive.m_nFolders)});
  lines.push_back({"Total clusters:", GroupThousands(engine.m_nTotalClusters)});
  lines.push_back({"Total fragments:", GroupThousands(drive.m_nFragments)});
  lines.push_back({"Fragmented files:", GroupThousands(drive.m_nFragmentedFiles)});
  const uint64_t bytesPerCluster =
      drive.m_dwBytesPerCluster != 0 ? drive.m_dwBytesPerCluster : engine.m_dwBytesPerCluster;
  lines.push_back(
      {"Largest free block:", FormatByteSize(LargestFreeRunClusters(engine) * bytesPerCluster)});
  return lines;
}

}  // namespace vt
