// The drive operations both front ends run: opening and analysing a drive,
// defragmenting its files or its free space, and a batch of named files.
// The command line prints what they return; the drive page shows it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/defrag.h"
#include "pages/defrag_filter.h"

namespace vt {

// A steady clock in milliseconds, for the elapsed time of an operation.
uint64_t NowMs();

class IReportSink;

struct CAnalyzeOptions {
  bool m_bUseCache = false;          // restore from the cache file, save one after
  bool m_bDeleteCache = false;       // delete the cache file first (Analyze button)
  bool m_bMarkAnalyzed = true;       // the drive counts as analysed unless cancelled
  bool m_bStartCancelled = false;    // the cancel flag at the start (a stop asked already)
  IReportSink* m_pReport = nullptr;  // "Analyze Drive %s" section, unless cancelled
  // Called once the volume is open, before the analysis (the views switch to
  // the compressed map then).
  std::function<void()> m_onOpened;
};

// Cancelled: the analysis ran to its end but a stop came; Failed also
// covers an analysis a stop broke off.
enum class AnalyzeResult { Ok, OpenFailed, Failed, Cancelled };

struct CAnalysis {
  AnalyzeResult m_result = AnalyzeResult::Failed;
  bool m_bFromCache = false;
  uint64_t m_nElapsedMs = 0;
};

// Opens the drive's volume in the engine and analyses it: the cache when
// asked and present, else the analysis, the free runs and a new cache file;
// then the drive's statistics and the report section. The open's and the
// analysis's own messages go to the engine's prompt.
CAnalysis OpenAndAnalyze(CDefrag& engine, CDriveData& drive, const CAnalyzeOptions& options);

enum class DriveOperationKind { DefragDrive, DefragFreeSpace };

struct CDriveOperation {
  DriveOperationKind m_kind = DriveOperationKind::DefragDrive;
  CDefragFilter m_filter;                       // DefragDrive
  int32_t m_nFreeMode = kFreeModeDontFragment;  // DefragFreeSpace
  bool m_bStartCancelled = false;  // the cancel flag at the start (a stop asked already)
  // A report line "Cancelled:" with this text when the run was stopped.
  std::string m_strCancelledLine;
  // The report heading instead of the operation's own (the scheduled run's).
  const char* m_pszHeading = nullptr;
  // Around the engine call (a console's progress display).
  std::function<void()> m_onStart;
  std::function<void()> m_onEnd;
};

struct CDriveOperationResult {
  uint64_t m_nMovedClusters = 0;
  uint64_t m_nFragmentedBefore = 0;
  uint64_t m_nLargestBefore = 0;  // bytes
  uint64_t m_nLargestAfter = 0;   // bytes
  uint64_t m_nElapsedMs = 0;
  bool m_bCancelled = false;  // a stop ended the engine call
  // The files that could not be processed, as the report listed them.
  std::vector<CFileErrors> m_errors;
};

// One drive operation on an analysed drive: the figures before, the process
// settings around the engine call (errors and cancel flag cleared first),
// the statistics after, and the report section ("Defrag Drive <root>" or
// "Defrag free space <root>") when a report is given.
CDriveOperationResult RunDriveOperation(CDefrag& engine, CDriveData& drive,
                                        const CDriveOperation& op, IReportSink* report);

// The report heading of an operation, the drive's root path follows.
const char* OperationHeading(DriveOperationKind kind);

// "\Data\a.txt", "/Data/a.txt", "Data/a.txt" or "V:\Data\a.txt" as a path on
// the volume whose root is "V:\".
std::string VolumePath(const std::string& root, std::string path);

enum class FileBatchResult { Defragmented, Skipped, Failed, Cancelled, NotFound };

struct CFileBatchItem {
  std::string m_strPath;  // as VolumePath gives it
  FileBatchResult m_result = FileBatchResult::NotFound;
  uint64_t m_nFragmentsBefore = 0;
  uint64_t m_nFragmentsAfter = 0;
  uint64_t m_nFirstLcnBefore = 0;
  uint64_t m_nFirstLcnAfter = 0;
};

// Defragments the named files of an analysed volume in order, each with its
// "Defrag file" report section. moveAnyway answers "Move file anyway?" for
// the whole batch (IDYES, IDNO, or -1 to ask the prompt).
std::vector<CFileBatchItem> DefragFileBatch(CDefrag& engine, const std::string& root,
                                            const std::vector<std::string>& paths,
                                            DefragPlacement placement, int moveAnyway,
                                            IReportSink* report);

const char* FileBatchResultName(FileBatchResult result);

}  // namespace vt
