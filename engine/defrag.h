// The defragmentation engine: the open volume and everything the analysis
// found on it, with the operations that read and change it.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/records.h"
#include "platform/system_ops.h"
#include "platform/ui_sink.h"
#include "platform/volume_ops.h"

namespace vt {

class CDefrag;

// The cluster map as the engine sees it: rebuilt from the file list at the
// analysis checkpoints (and invalidated without erasing), told of moves.
class IClusterMapHost {
 public:
  virtual ~IClusterMapHost() = default;
  virtual void RebuildMap(const CDefrag& engine) = 0;
  virtual void MarkMove(uint64_t oldLcn, uint64_t newLcn, uint32_t count) = 0;
  // Shows a file's clusters as unmovable (those inside the map) and repaints.
  virtual void MarkUnmovable(const CFileItem& file) { (void)file; }
  // Takes the selection and the "Defragged" marks off every cluster, so that
  // what an operation moves next is what shows as defragged.
  virtual void ClearMarks() {}
};

class IReportSink;

// First and last LCN of a reserved area, both inside; last = 0: absent.
struct CLcnRange {
  uint64_t m_nFirst = 0;
  uint64_t m_nLast = 0;
  bool IsPresent() const { return m_nLast != 0; }
  bool Contains(uint64_t lcn) const { return m_nLast != 0 && lcn >= m_nFirst && lcn <= m_nLast; }
};

// The services the engine runs on; every pointer must outlive the engine.
struct CEngineServices {
  IVolumeOps* volume = nullptr;
  ISystemOps* system = nullptr;
  IMessageSink* messages = nullptr;
  IPrompt* prompt = nullptr;
  IClusterMapHost* map = nullptr;  // optional
  IReportSink* report = nullptr;   // optional
};

// Where a file's clusters go: the lowest run that holds it, or the highest,
// with the file ending where that run ends.
enum DefragPlacement : int { BestFit = 0, OuterTrack = 1 };

// Which files the drive pass takes.
enum DefragFilter : int {
  AllFiles = 0,
  BySize = 1,
  ByPercent = 2,
  ExcludeTypes = 3,
  OnlyTypes = 4,
};

// Free-space consolidation modes as stored under "DefragFreeMode".
enum : int32_t { kFreeModeDontFragment = 2, kFreeModeMaximize = 3 };

// The choice of FindCandidate: a whole file (LCN all ones) or part of one extent.
struct CCandidateChoice {
  uint64_t m_nLcn = ~0ull;
  uint32_t m_nClusters = 0;
};

// One move of a file's clusters into a free run.
struct MoveRequest {
  CFileItem* file = nullptr;
  size_t targetRun = 0;    // index into m_freeRuns
  int32_t error = 0;       // out: 0, the system error, or -1 when the file could not be opened
  int32_t mode = 1;        // 1: every extent; 2: stop after the first chunk moved
  bool hasFilter = false;  // move only the extent starting at filterLcn, filterCount clusters
  uint64_t filterLcn = ~0ull;
  uint32_t filterCount = 0;
  bool silent = false;  // failures go to the error list instead of message boxes
  // out: clusters moved but the file's extents could not be read back (an
  // error of its own, already reported; trying again would not help).
  bool extentsUnknown = false;
};

class CDefrag {
 public:
  explicit CDefrag(const CEngineServices& services);
  CDefrag(const CDefrag&) = delete;
  CDefrag& operator=(const CDefrag&) = delete;
  virtual ~CDefrag();

  // Volume access.
  bool OpenVolume(CDriveData* drive);
  void CloseVolume();
  // The end of an operation: the volume is asked for the head of its bitmap,
  // so that a volume that gathers moves before storing them (the image
  // substitute) stores them now and holds no write state until the next
  // operation. A read and nothing else on Windows.
  void SettleVolume();
  uint32_t GetVolumeClusters();
  HANDLE OpenFileForMove(const std::string& path);
  DWORD EnablePrivilege(const char* name, bool enable);
  void Reset();

  // Analysis.
  bool AnalyzeVolume(HWND notifyWnd);
  void ScanFolder(const std::string& folder, const std::string& nameFilter);
  // Reads the extents of an item; 0 on success, nonzero when it cannot be
  // opened. `queryError` receives the extent query's own error (0: answered).
  int GetFileClusters(CFileItem& item, HANDLE handle = INVALID_HANDLE_VALUE,
                      const std::vector<uint64_t>* probe = nullptr, DWORD* queryError = nullptr);
  bool BuildFreeRunList();
  // Appends the free run [first, end) to the free-run list.
  void AddFreeRunEntry(uint64_t first, uint64_t end);

  // File defragmentation.
  // Index of the chosen free run and the first target LCN, or false.
  bool FindTargetRun(const CFileItem& file, DefragPlacement placement, size_t* run,
                     uint64_t* targetLcn) const;
  void AddFreeRun(uint64_t lcn, uint32_t count);
  // Index of the first free run that starts past `lcn` (the list's size
  // when none does).
  size_t FirstFreeRunAfter(uint64_t lcn) const;
  bool MoveFileClusters(MoveRequest& request);
  bool DefragFile(CFileItem& file, DefragPlacement placement, bool report);

  // The drive pass: every fragmented file the filter takes, each into the
  // lowest free run that holds it. Returns the clusters moved.
  uint64_t DefragDrive(DefragFilter kind, bool silent, double percentThreshold,
                       uint32_t sizeThreshold, const std::vector<std::string>& types);
  // The drive pass's step for a file no free run holds: the files (and
  // pieces of fragmented ones) in the stretch of the volume where the least
  // must move are moved out, each whole into a free place outside it (room
  // made first for those no free run holds). True with the free run that
  // now holds the file, or with the file already whole when it was put
  // together around its pieces in place; false with the report line saying
  // why not, and *later set when room may yet be made once other files have
  // moved.
  bool MakeRoomFor(size_t fileIndex, bool silent, size_t* run, std::string* why,
                   bool* later = nullptr);
  // Free-run entry that starts at lcn, splitting the run that holds it;
  // false when the list has no free run holding [lcn, lcn + clusters).
  bool SplitFreeRunAt(uint64_t lcn, uint64_t clusters, size_t* run);
  // Moves the pieces of a file that room was made for, each to where it
  // belongs in the stretch from windowLcn on, around those already there.
  bool FillAround(size_t fileIndex, uint64_t windowLcn, bool silent, std::string* why);

  // Free-space consolidation: moves data above each gap down into it until
  // a whole pass moves nothing. Returns the clusters moved.
  uint64_t DefragFreeSpace(int32_t mode);
  void BuildCandidateList(CSortedArray& list);
  long FindCandidate(CSortedArray& list, int32_t mode, uint64_t start, uint32_t length,
                     CCandidateChoice* choice);
  void FreeSpacePass(int32_t mode, bool& movedAnything, CSortedArray& list);

  // The analysis cache: one file per drive letter in the temporary folder.
  std::string GetCachePath(const CDriveData& drive);
  bool CacheExists(const CDriveData& drive);
  void DeleteCache(const CDriveData& drive);
  void DeleteAllCaches();
  bool SaveDriveData(CDriveData& drive);
  bool LoadDriveData(CDriveData& drive);
  // Keeps cache files in this folder instead of the temporary folder.
  void SetCacheFolder(const std::string& folder) { m_strCacheFolder = folder; }

  // Look-ups.
  // Full path of an item; empty when its folder does not resolve.
  std::string GetItemPath(const CFileItem& item) const;
  // The item's folder as the file list shows it; empty when it does not resolve.
  std::string GetItemFolder(const CFileItem& item) const;
  // Whether the item's m_nFolder indexes m_folders (else an NTFS parent record).
  bool UsesFolderList(const CFileItem& item) const;
  // Folder path (with its backslash) of an NTFS folder record, or empty.
  std::string GetNtfsFolderPath(uint32_t folderRecord) const;
  const CFileItem* FindFileAtCluster(uint64_t lcn) const;
  bool FindFreeRunAtCluster(uint64_t lcn, CClusterItem* run) const;
  bool FindMapRunAtCluster(uint64_t lcn, CClusterItem* run) const;

  // Shows the system's text for an error code in an error box.
  void ShowSystemError(DWORD error);
  // Shows a message with the error icon.
  int ShowError(const std::string& text);

  // The running total of bytes analysed in the current analysis.
  uint64_t BytesAnalyzed() const { return m_nBytesAnalyzed; }

  // Services, for the operations built on the engine.
  IVolumeOps& Ops() const { return *m_svc.volume; }
  ISystemOps& System() const { return *m_svc.system; }
  IMessageSink& Messages() const { return *m_svc.messages; }
  IPrompt& Prompt() const { return *m_svc.prompt; }
  IClusterMapHost* MapHost() const { return m_svc.map; }
  IReportSink* Report() const { return m_svc.report; }
  void SetReport(IReportSink* report) { m_svc.report = report; }
  void SetMapHost(IClusterMapHost* map) { m_svc.map = map; }
  void SetProgressWindow(HWND wnd) { m_hProgressWnd = wnd; }

  CDriveData* m_pDrive = nullptr;
  CHandle m_hVolume;
  HWND m_hNotifyWnd = nullptr;
  uint32_t m_dwBytesPerCluster = 0;
  std::string m_strRoot;
  std::string m_strVolume;
  uint64_t m_nTotalClusters = 0;
  // Clusters the current operation really moved (failed chunks do not count).
  uint64_t m_nMovedClusters = 0;
  uint32_t m_dwStartTick = 0;
  // Fragmented files the last drive pass's filter left out (by size, degree
  // or type).
  uint64_t m_nFilteredFiles = 0;
  bool m_bSilent = false;
  // Whether the drive pass makes room for files no free run holds.
  bool m_bMakeRoom = true;
  uint32_t m_nRefreshInterval = 100;
  HWND m_hProgressWnd = nullptr;
  bool m_bXPOrLater = true;
  uint64_t m_nProgressLcn = 0;
  bool m_bNtfs = false;
  std::string m_strDrive;
  CLcnRange m_mftRange;
  CLcnRange m_mftZoneRange;
  CLcnRange m_mftMirrorRange;
  CGrowableArray<CFileErrors> m_errors;
  CGrowableArray<CClusterItem> m_freeRuns;
  CGrowableArray<CFileItem> m_files;
  CGrowableArray<CClusterItem> m_mapRuns;
  std::vector<std::string> m_folders;
  std::unordered_map<uint32_t, CFileItem> m_dirMap;

 private:
  void Checkpoint();
  // The extents of an open file into the item; the query's error, or 0.
  DWORD ReadExtents(CFileItem& item, HANDLE handle);
  // An item whose folder does not resolve: an error-list entry saying so;
  // returns the reason.
  std::string RecordUnresolved(const CFileItem& item);
  std::string SystemText(DWORD error);
  void ReportMoveFailure(const CFileItem& file, const std::string& path, DWORD error, bool silent);
  LRESULT SendProgress(unsigned code, LPARAM arg);

  CEngineServices m_svc;
  std::string m_strCacheFolder;
  // Reply buffer of the extent queries, kept between calls (64 KB each).
  std::vector<uint8_t> m_retrievalReply;
  uint64_t m_nBytesAnalyzed = 0;
};

// Buffer sizes the engine asks with.
constexpr DWORD kBitmapReplySize = 0xA0000;  // 655360 bytes
constexpr DWORD kBitmapProbeSize = 24;
constexpr DWORD kRetrievalReplySize = 0x10010;  // 65552 bytes
constexpr uint64_t kMaxClusters = 0x7FFFFFFF;
// MFT record of an NTFS volume's root folder.
constexpr uint32_t kNtfsRootRecord = 5;

}  // namespace vt
