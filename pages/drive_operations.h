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
#include "pages/operation_scope.h"

namespace vt {

// A steady clock in milliseconds, for the elapsed time of an operation.
uint64_t NowMs();

// A file the drive pass left part-way when it was stopped.
struct CStoppedFile {
  std::string m_strPath;
  uint64_t m_nFragmentsBefore = 0;
  uint64_t m_nFragmentsAfter = 0;
};

class IReportSink;

struct CAnalyzeOptions {
  bool m_bUseCache = false;          // restore from the cache file, save one after
  bool m_bDeleteCache = false;       // delete the cache file first (Analyze button)
  bool m_bMarkAnalyzed = true;       // the drive counts as analysed unless cancelled
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
  // With m_bSinceStart, "Total time:" counts from this tick (the engine's
  // system tick count) instead of the engine call: the scheduled run's
  // includes the drive's analysis.
  bool m_bSinceStart = false;
  DWORD m_dwStartTick = 0;
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
  // Fragmented files the filter left out, and the file a stop left part-way.
  uint64_t m_nFilteredFiles = 0;
  std::vector<CStoppedFile> m_stopped;
  // The files that could not be processed, as the report listed them.
  std::vector<CFileErrors> m_errors;
};

// One drive operation on an analysed drive: the figures before, the process
// settings around the engine call (errors cleared first; the cancel flag is
// the operation scope's), the statistics after, and the report section
// ("Defrag Drive <root>" or "Defrag free space <root>") when a report is
// given. A filter other than all files adds "Custom filter:" with the count
// it left out; a stop adds each file it left part-way.
CDriveOperationResult RunDriveOperation(CDefrag& engine, CDriveData& drive,
                                        const CDriveOperation& op, IReportSink* report);

// The "Custom filter:" value: "on, 5 fragmented files left out".
std::string FilterNote(uint64_t left);
// The "Stopped part-way:" value: "V:\a.bin (1,000 to 444 fragments)".
std::string StoppedFileText(const CStoppedFile& file);

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

// The batch every file defragmentation runs, the fragmented-file page's,
// the map's "Defrag file" and the command line's alike: inside one
// operation scope, with a fresh move-anyway answer (moveAnyway: IDYES, IDNO,
// or -1 to ask the prompt) and throughput start, DefragFile of each
// file-list index in turn until a stop. An index out of range is passed
// over (NotFound). `before` runs ahead of each file, `after` once it is done.
std::vector<CFileBatchItem> DefragFileItems(CDefrag& engine, const std::vector<size_t>& items,
                                            DefragPlacement placement,
                                            const std::function<void(size_t)>& before = {},
                                            const std::function<void(size_t)>& after = {},
                                            int moveAnyway = -1, bool report = true);

// The named files of an analysed volume through DefragFileItems, each with
// its "Defrag file" report section in `report` (none when null).
std::vector<CFileBatchItem> DefragFileBatch(CDefrag& engine, const std::string& root,
                                            const std::vector<std::string>& paths,
                                            DefragPlacement placement, int moveAnyway,
                                            IReportSink* report);

const char* FileBatchResultName(FileBatchResult result);

}  // namespace vt
