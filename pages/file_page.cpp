#include "pages/file_page.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "base/text.h"
#include "engine/globals.h"

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

int CompareText(const std::string& a, const std::string& b) {
  const std::string la = ToLowerAscii(a), lb = ToLowerAscii(b);
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

void SortFileRows(const CDefrag& engine, std::vector<CFileRow>& rows, int column, bool ascending) {
  std::stable_sort(rows.begin(), rows.end(), [&](const CFileRow& a, const CFileRow& b) {
    const int c =
        CompareItems(engine, engine.m_files[a.m_nItem], engine.m_files[b.m_nItem], column);
    return ascending ? c < 0 : c > 0;
  });
}

RequestMode ParseRequestCommand(const std::string& text, std::string* file) {
  size_t at = text.find("/defrag ");
  if (at != std::string::npos) {
    *file = text.substr(at + 8);
    return RequestMode::Defrag;
  }
  at = text.find("/analyze ");
  if (at != std::string::npos) {
    *file = text.substr(at + 9);
    return RequestMode::Analyze;
  }
  return RequestMode::None;
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

bool AnalyzeRequestPaths(CDefrag& engine, CDriveData& drive, const CFileRequest& request) {
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
  return true;
}

std::vector<size_t> FragmentedRowIndexes(const CDefrag& engine, const std::vector<CFileRow>& rows) {
  std::vector<size_t> out;
  for (size_t i = 0; i < rows.size(); ++i)
    if (engine.m_files[rows[i].m_nItem].m_fragments.GetSize() > 1) out.push_back(i);
  return out;
}

}  // namespace vt
