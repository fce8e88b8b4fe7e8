// Paths of items and the look-ups by cluster that the map uses.
#include <algorithm>
#include <vector>

#include "base/text.h"
#include "engine/defrag.h"

namespace vt {

bool CDefrag::UsesFolderList(const CFileItem& item) const {
  return !m_bNtfs || (item.m_wFlags & FI_FOLDER_LIST) != 0;
}

std::string CDefrag::GetItemFolder(const CFileItem& item) const {
  if (!UsesFolderList(item)) return GetNtfsFolderPath(static_cast<uint32_t>(item.m_nFolder));
  if (item.m_nFolder < 0 || static_cast<size_t>(item.m_nFolder) >= m_folders.size())
    return std::string();
  return m_folders[static_cast<size_t>(item.m_nFolder)];
}

std::string CDefrag::GetItemPath(const CFileItem& item) const {
  // No folder, no path: the bare name would be taken relative to whatever
  // folder the process is in.
  const std::string folder = GetItemFolder(item);
  if (folder.empty()) return std::string();
  if (!UsesFolderList(item)) {
    // The root folder's own record carries the name "." and itself as parent.
    if (item.m_nRecord == kNtfsRootRecord &&
        static_cast<uint32_t>(item.m_nFolder) == item.m_nRecord)
      return folder;
    return folder + item.m_strName;
  }
  return folder.back() == '\\' ? folder + item.m_strName : folder + "\\" + item.m_strName;
}

std::string CDefrag::GetNtfsFolderPath(uint32_t folderRecord) const {
  // A damaged parent chain may loop or run very deep: a chain that comes back
  // to a record, or passes 1,024 levels, has no path.
  constexpr size_t kMaxDepth = 1024;
  std::vector<uint32_t> visited;
  std::string relative;
  uint32_t p = folderRecord;
  bool resolved = false;
  for (;;) {
    auto it = m_dirMap.find(p);
    if (it == m_dirMap.end()) {
      resolved = resolved || p == kNtfsRootRecord;
      break;
    }
    const uint32_t parent = static_cast<uint32_t>(it->second.m_nFolder);
    if (parent == p) {
      resolved = true;
      break;
    }
    if (visited.size() >= kMaxDepth ||
        std::find(visited.begin(), visited.end(), p) != visited.end())
      return std::string();
    visited.push_back(p);
    relative = it->second.m_strName + "\\" + relative;
    resolved = true;
    p = parent;
  }
  return resolved ? m_strDrive + relative : std::string();
}

std::string CDefrag::RecordUnresolved(const CFileItem& item) {
  const std::string reason =
      Format("Its folder could not be found on the volume (MFT record %u)", item.m_nRecord);
  CFileErrors entry;
  entry.m_strPath = item.m_strName;
  // Without an error code the list shows the message, which says why.
  entry.m_strMessage = "File not processed. " + reason + ": " + item.m_strName;
  entry.m_nSize = item.m_nSize;
  m_errors.Add(std::move(entry));
  return reason;
}

const CFileItem* CDefrag::FindFileAtCluster(uint64_t lcn) const {
  for (const auto& item : m_files)
    for (const auto& f : item.m_fragments)
      if (f.m_nLcn <= lcn && lcn < f.m_nLcn + f.m_nClusters) return &item;
  return nullptr;
}

namespace {
bool FindRun(const CGrowableArray<CClusterItem>& runs, uint64_t lcn, CClusterItem* run) {
  for (size_t i = runs.GetSize(); i-- > 0;) {
    const CClusterItem& r = runs[i];
    if (r.m_nLcn <= lcn && lcn < r.m_nLcn + r.m_nClusters) {
      if (run) *run = r;
      return true;
    }
  }
  return false;
}
}  // namespace

bool CDefrag::FindFreeRunAtCluster(uint64_t lcn, CClusterItem* run) const {
  return FindRun(m_freeRuns, lcn, run);
}

bool CDefrag::FindMapRunAtCluster(uint64_t lcn, CClusterItem* run) const {
  return FindRun(m_mapRuns, lcn, run);
}

}  // namespace vt
