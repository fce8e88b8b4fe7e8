// The fragmented-file page's logic apart from its window: sorting the rows,
// the request handed over from Explorer (its command, its file, its one
// volume) and the analysis of exactly the files a request names.
#pragma once

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
void SortFileRows(const CDefrag& engine, std::vector<CFileRow>& rows, int column, bool ascending);

// The command line's request: "/defrag " or "/analyze " and the file's path.
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

}  // namespace vt
