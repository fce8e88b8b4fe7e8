// The fragmented-file page's logic apart from its window: sorting the rows,
// the request handed over from Explorer (its command, its file, its one
// volume) and the analysis of exactly the files a request names.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/defrag.h"
#include "pages/drive_operations.h"
#include "pages/file_rows.h"

namespace vt {

// Columns of the list, in order.
enum FileColumn : int {
  FCOL_NAME = 0,
  FCOL_SIZE,
  FCOL_FRAGMENTS,
  FCOL_CLUSTERS,
  FCOL_DEGREE,
  FCOL_LAST_WRITE,
  FCOL_FOLDER,
  FCOL_COUNT
};
extern const char* const kFileColumnTitles[FCOL_COUNT];

// Sort order of the list: a click on the sorted column reverses it; the
// refresh's first sort is by Fragments, most first.
class CFileSort {
 public:
  int Column() const { return m_nColumn; }
  bool Ascending() const { return m_bAscending; }
  void OnHeaderClick(int column);
  // Before a refresh: by Fragments descending when nothing was sorted yet.
  void BeforeRefresh();

 private:
  int m_nColumn = -1;
  bool m_bAscending = true;
};

// Whether row a comes before row b by `column` (ascending).
bool FileRowLess(const CDefrag& engine, size_t a, size_t b, int column);
// -1, 0 or 1 for the list's sort callback; file-list indexes out of range
// compare equal.
int CompareFileRows(const CDefrag& engine, size_t a, size_t b, int column, bool ascending);
void SortFileRows(const CDefrag& engine, std::vector<CFileRow>& rows, int column, bool ascending);

// The filter workers' coordination: one fill at a time; a change of the
// filter text while a fill runs only asks that fill to start over, and the
// running worker fills again until the list matches the field's final text.
class CFilterFill {
 public:
  // On a filter worker: text() reads the field, fill(t) fills the list with
  // filter t (checking Restarting() once per file), sorted() runs once the
  // text stayed the same through a whole fill.
  void Run(const std::function<std::string()>& text,
           const std::function<void(const std::string&)>& fill,
           const std::function<void()>& sorted);
  bool Restarting() const { return m_bRestart.load(); }

 private:
  std::atomic<bool> m_bRunning{false};
  std::atomic<bool> m_bRestart{false};
};

// The shell's target for "explore" (a file's folder, a folder itself) or
// "properties" (a folder's path with its trailing backslash).
std::string ShellTargetPath(const CDefrag& engine, const CFileItem& file, bool explore);

// The command line's request: "/defrag " or "/analyze " and the file's path.
// The quotes a command line carries (around the path, or around the switch
// and path as one argument) are no part of either: a Windows path holds none.
enum class RequestMode { None, Analyze, Defrag };
RequestMode ParseRequestCommand(const std::string& text, std::string* file);

struct CFileRequest {
  bool m_bOpened = false;        // the file could be read (it is deleted then)
  bool m_bMixedVolumes = false;  // "You can only process files from one volume at a time."
  std::string m_strVolume;       // "V:\"
  std::vector<std::string> m_paths;
};
constexpr const char* kOneVolumeText = "You can only process files from one volume at a time.";
constexpr const char* kNothingToDefragText = "No files required defragmenting.";

// Reads a request file (UTF-8; the first line is the writer's name, each
// further line a path) and deletes it once it was opened.
CFileRequest ReadRequestFile(const std::string& path);

// Opens the request's volume on `drive` and analyses exactly its paths (a
// folder with everything below it). False when the volume cannot be opened.
bool AnalyzeRequestPaths(CDefrag& engine, CDriveData& drive, const CFileRequest& request);

// Rows of every selected item with more than one fragment (a "/defrag " request).
std::vector<size_t> FragmentedRowIndexes(const CDefrag& engine, const std::vector<CFileRow>& rows);

// The window's side of the file defrag worker, called in this order.
class IFileDefragView {
 public:
  virtual ~IFileDefragView() = default;
  // Busy is held: title "Defragging File", controls and list disabled, the
  // map out of its compressed view.
  virtual void OnDefragStart() = 0;
  virtual void BeforeFile(size_t item) = 0;
  virtual void AfterFile(size_t item) = 0;
  // Rows deselected, "Finished", list and controls usable again.
  virtual void OnDefragEnd() = 0;
  // The map is built again from the moved files (it keeps their marks).
  virtual void RebuildMap() = 0;
  // Busy is released: the title is restored.
  virtual void OnDefragDone() = 0;
};

// The file defrag worker: a cleared cancel flag, the batch under the busy
// counter, then the map rebuilt.
void RunFileDefrag(CDefrag& engine, const std::vector<size_t>& items, DefragPlacement placement,
                   IFileDefragView& view);

// The window's side of a request from Explorer, called from the request
// worker in this order.
class IFileRequestView {
 public:
  virtual ~IFileRequestView() = default;
  // The list and its count line emptied.
  virtual void ClearList() = 0;
  // Busy held, the request's drive current with its root: title "Analyzing
  // Volume".
  virtual void OnAnalysisStart() = 0;
  // The volume is open: the progress range (its used bytes), the compressed
  // map, the page's controls disabled.
  virtual void OnVolumeOpened(uint64_t usedBytes) = 0;
  // The named files are analysed: the bar full, the map refreshed; fills
  // the list with every file of the request and returns the listed
  // file-list indexes in row order.
  virtual std::vector<size_t> OnAnalyzed(uint64_t usedBytes) = 0;
  // "/defrag ": the rows to select (those whose file is fragmented).
  virtual void SelectRows(const std::vector<size_t>& rows) = 0;
  // Controls enabled again and title restored, before busy is released.
  virtual void OnAnalysisEnd() = 0;
};

// A request handed over on the command line, read, analysed and shown; the
// boxes go through the engine's prompt. Returns the file-list indexes a
// "/defrag " request leaves to the file defrag worker (empty otherwise).
std::vector<size_t> RunFileRequest(CDefrag& engine, CDriveData& drive, const std::string& text,
                                   IFileRequestView& view);

}  // namespace vt
