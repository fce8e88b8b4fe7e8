#include "pages/file_page.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "base/codepage.h"
#include "base/text.h"
#include "engine/globals.h"
#include "pages/operation_scope.h"

namespace vt {

const char* const kFileColumnTitles[FCOL_COUNT] = {
    "Name", "Size", "Fragments", "Clusters", "Fragmentation Degree", "Last Write Time", "Folder"};

void CFileSort::OnHeaderClick(int column) {
  if (column == m_nColumn) {
    m_bAscending = !m_bAscending;
  } else {
    m_nColumn = column;
    m_bAscending = true;
  }
}

void CFileSort::BeforeRefresh() {
  if (m_nColumn >= 0) return;
  m_nColumn = FCOL_FRAGMENTS;
  m_bAscending = false;
}

namespace {

uint64_t TimeValue(const FILETIME& ft) {
  return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// Names compare with their letters folded as the file systems fold them.
int CompareText(const std::string& a, const std::string& b) {
  const std::string la = FoldUtf8(a), lb = FoldUtf8(b);
  return la < lb ? -1 : (lb < la ? 1 : 0);
}

template <typename T>
int Compare(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

int CompareItems(const CDefrag& engine, const CFileItem& a, const CFileItem& b, int column) {
  switch (column) {
    case FCOL_NAME:
      return CompareText(a.m_strName, b.m_strName);
    case FCOL_SIZE:
      // Folders are kept apart from files, before them.
      if (a.IsDirectory() != b.IsDirectory()) return a.IsDirectory() ? -1 : 1;
      return Compare(a.m_nSize, b.m_nSize);
    case FCOL_FRAGMENTS:
      return Compare(a.m_fragments.GetSize(), b.m_fragments.GetSize());
    case FCOL_CLUSTERS:
      return Compare(a.GetClusters(), b.GetClusters());
    case FCOL_DEGREE:
      return Compare(a.GetFragmentationDegree(), b.GetFragmentationDegree());
    case FCOL_LAST_WRITE:
      return Compare(TimeValue(a.m_ftLastWrite), TimeValue(b.m_ftLastWrite));
    case FCOL_FOLDER:
      return CompareText(FolderOfItem(engine, a), FolderOfItem(engine, b));
    default:
      return 0;
  }
}

}  // namespace

bool FileRowLess(const CDefrag& engine, size_t a, size_t b, int column) {
  return CompareItems(engine, engine.m_files[a], engine.m_files[b], column) < 0;
}

int CompareFileRows(const CDefrag& engine, size_t a, size_t b, int column, bool ascending) {
  const size_t n = engine.m_files.GetSize();
  if (a >= n || b >= n) return 0;
  const int c = CompareItems(engine, engine.m_files[a], engine.m_files[b], column);
  return ascending ? c : -c;
}

void SortFileRows(const CDefrag& engine, std::vector<CFileRow>& rows, int column, bool ascending) {
  std::stable_sort(rows.begin(), rows.end(), [&](const CFileRow& a, const CFileRow& b) {
    const int c =
        CompareItems(engine, engine.m_files[a.m_nItem], engine.m_files[b.m_nItem], column);
    return ascending ? c < 0 : c > 0;
  });
}

void CFilterFill::Run(const std::function<std::string()>& text,
                      const std::function<void(const std::string&)>& fill,
                      const std::function<void()>& sorted) {
  bool expected = false;
  if (!m_bRunning.compare_exchange_strong(expected, true)) {
    m_bRestart = true;
    return;
  }
  for (;;) {
    std::string shown = text();
    m_bRestart = false;
    fill(shown);
    while (text() != shown) {
      shown = text();
      m_bRestart = false;
      fill(shown);
    }
    sorted();
    m_bRunning = false;
    // A change that came after the last look and found the fill running
    // would otherwise be lost: look once more.
    if (text() == shown) break;
    expected = false;
    if (!m_bRunning.compare_exchange_strong(expected, true)) break;
  }
}

std::string ShellTargetPath(const CDefrag& engine, const CFileItem& file, bool explore) {
  std::string path = engine.GetItemPath(file);
  if (explore && !file.IsDirectory()) path.resize(path.find_last_of('\\') + 1);
  if (!explore && file.IsDirectory() && !path.empty() && path.back() != '\\') path += '\\';
  return path;
}

RequestMode ParseRequestCommand(const std::string& text, std::string* file) {
  std::string line;
  for (char c : text)
    if (c != '"') line += c;
  RequestMode mode = RequestMode::None;
  size_t at = line.find("/defrag ");
  if (at != std::string::npos) {
    at += 8;
    mode = RequestMode::Defrag;
  } else if ((at = line.find("/analyze ")) != std::string::npos) {
    at += 9;
    mode = RequestMode::Analyze;
  } else {
    return mode;
  }
  size_t end = line.size();
  while (end > at && (line[end - 1] == ' ' || line[end - 1] == '\t' || line[end - 1] == '\r' ||
                      line[end - 1] == '\n'))
    --end;
  while (at < end && (line[at] == ' ' || line[at] == '\t')) ++at;
  *file = line.substr(at, end - at);
  return mode;
}

CFileRequest ReadRequestFile(const std::string& path) {
  CFileRequest request;
  std::string name = path;
  // A path handed over in quotes (it may hold blanks) is taken without them.
  while (!name.empty() && (name.back() == ' ' || name.back() == '\r' || name.back() == '\n'))
    name.pop_back();
  if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
    name = name.substr(1, name.size() - 2);
  std::ifstream in(name, std::ios::binary);
  if (!in) return request;
  request.m_bOpened = true;
  std::string line;
  bool first = true;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (first) {
      first = false;
      // The writer's name; a byte-order mark before it is no part of a path.
      continue;
    }
    if (line.empty()) continue;
    if (request.m_strVolume.empty()) {
      if (line.size() <= 3) {
        request.m_bMixedVolumes = true;
        break;
      }
      request.m_strVolume = line.substr(0, 3);
    }
    if (line.size() < 3 || !EqualsNoCase(line.substr(0, 3), request.m_strVolume)) {
      request.m_bMixedVolumes = true;
      break;
    }
    request.m_paths.push_back(line);
  }
  in.close();
  std::remove(name.c_str());
  if (request.m_bMixedVolumes) request.m_paths.clear();
  return request;
}

namespace {

bool OpenRequestVolume(CDefrag& engine, CDriveData& drive, const CFileRequest& request) {
  drive.m_strDrive = request.m_strVolume;
  char fs[64] = {};
  if (engine.Ops().GetVolumeInformationA(drive.m_strDrive.c_str(), nullptr, 0, nullptr, nullptr,
                                         nullptr, fs, sizeof(fs))) {
    fs[sizeof(fs) - 1] = '\0';
    drive.m_strFileSystem = fs;
  }
  drive.m_bNtfs = drive.m_strFileSystem == "NTFS";
  if (!engine.OpenVolume(&drive)) return false;
  engine.GetVolumeClusters();
  DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
  if (engine.Ops().GetDiskFreeSpaceA(drive.m_strDrive.c_str(), &sectorsPerCluster, &bytesPerSector,
                                     &freeClusters, &totalClusters))
    drive.m_dwBytesPerCluster = sectorsPerCluster * bytesPerSector;
  ULARGE_INTEGER freeToCaller = {}, total = {}, free = {};
  if (engine.Ops().GetDiskFreeSpaceExA(drive.m_strDrive.c_str(), &freeToCaller, &total, &free)) {
    drive.m_nDiskSize = total.QuadPart;
    drive.m_nFreeBytes = free.QuadPart;
  }
  return true;
}

uint64_t UsedBytes(const CDriveData& drive) {
  return drive.m_nDiskSize - std::min(drive.m_nDiskSize, drive.m_nFreeBytes);
}

void ScanRequestPaths(CDefrag& engine, const CFileRequest& request) {
  engine.m_files.RemoveAll();
  engine.m_errors.RemoveAll();
  engine.m_folders.clear();
  engine.BuildFreeRunList();
  for (const std::string& p : request.m_paths) {
    if (IsCancelled()) break;
    std::string path = p;
    while (path.size() > 3 && path.back() == '\\') path.pop_back();
    const size_t slash = path.find_last_of('\\');
    if (slash == std::string::npos || slash + 1 >= path.size()) continue;
    engine.ScanFolder(path.substr(0, slash), path.substr(slash + 1));
  }
}

}  // namespace

bool AnalyzeRequestPaths(CDefrag& engine, CDriveData& drive, const CFileRequest& request) {
  if (!OpenRequestVolume(engine, drive, request)) return false;
  ScanRequestPaths(engine, request);
  return true;
}

std::vector<size_t> FragmentedRowIndexes(const CDefrag& engine, const std::vector<CFileRow>& rows) {
  std::vector<size_t> out;
  for (size_t i = 0; i < rows.size(); ++i)
    if (engine.m_files[rows[i].m_nItem].m_fragments.GetSize() > 1) out.push_back(i);
  return out;
}

void RunFileDefrag(CDefrag& engine, const std::vector<size_t>& items, DefragPlacement placement,
                   IFileDefragView& view) {
  {
    COperationScope scope(engine);
    view.OnDefragStart();
    DefragFileItems(
        engine, items, placement, [&](size_t item) { view.BeforeFile(item); },
        [&](size_t item) { view.AfterFile(item); });
    view.OnDefragEnd();
    view.RebuildMap();
  }
  view.OnDefragDone();
}

std::vector<size_t> RunFileRequest(CDefrag& engine, CDriveData& drive, const std::string& text,
                                   IFileRequestView& view) {
  std::string file;
  const RequestMode mode = ParseRequestCommand(text, &file);
  if (mode == RequestMode::None) return {};
  view.ClearList();
  const CFileRequest request = ReadRequestFile(file);
  if (!request.m_bOpened) return {};
  if (request.m_bMixedVolumes) {
    engine.Prompt().ShowMessage(kOneVolumeText, MB_OK | MB_ICONERROR);
    return {};
  }
  if (request.m_paths.empty()) return {};
  std::vector<size_t> toDefrag;
  COperationScope scope(engine);
  // The title names the request's volume from the start.
  drive.m_strDrive = request.m_strVolume;
  SetCurrentDrive(&drive);
  view.OnAnalysisStart();
  if (OpenRequestVolume(engine, drive, request)) {
    view.OnVolumeOpened(UsedBytes(drive));
    ScanRequestPaths(engine, request);
    drive.m_nState = 0;  // only the named files are known
    const std::vector<size_t> listed = view.OnAnalyzed(UsedBytes(drive));
    SetCancel(false);
    if (mode == RequestMode::Defrag) {
      std::vector<size_t> rows;
      for (size_t row = 0; row < listed.size(); ++row) {
        const size_t item = listed[row];
        if (item < engine.m_files.GetSize() && engine.m_files[item].m_fragments.GetSize() > 1) {
          rows.push_back(row);
          toDefrag.push_back(item);
        }
      }
      view.SelectRows(rows);
      if (toDefrag.empty()) engine.Prompt().ShowMessage(kNothingToDefragText, MB_OK | MB_ICONERROR);
    }
  }
  view.OnAnalysisEnd();
  return toDefrag;
}

}  // namespace vt
