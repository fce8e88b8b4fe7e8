// Figures of an analysed drive: the drive row's statistics and the lines of
// the analysis report.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/defrag.h"

namespace vt {

// Counts, fragments and percentage of the drive from the engine's file list.
void ComputeDriveStatistics(const CDefrag& engine, CDriveData& drive);

// Whether an item counts in the statistics: not a "$" system item, and not a
// folder on a volume that is not NTFS.
bool IsCountedItem(const CFileItem& item, bool ntfs);

// The longest free run not merged into its predecessor, in clusters.
uint64_t LargestFreeRunClusters(const CDefrag& engine);

struct CReportLine {
  std::string label;
  std::string value;
};

// "Analyze Drive %s" with the root path.
std::string AnalysisHeading(const CDriveData& drive);

// The analysis report lines in order, from the drive's statistics and the
// elapsed wall time of the analysis.
std::vector<CReportLine> AnalysisReportLines(const CDefrag& engine, const CDriveData& drive,
                                             uint64_t elapsedMs);

// (files + folders) * 1000 / elapsed ms, with an elapsed time of 0 counted as 1 ms.
uint64_t FilesPerSecond(uint64_t files, uint64_t folders, uint64_t elapsedMs);

}  // namespace vt
