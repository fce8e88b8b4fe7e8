// Records shared by the file-system readers behind the volume set.
#pragma once

#include <cstdint>
#include <string>

#include "base/winshapes.h"
#include "ondisk/ntfs_runlist.h"

namespace vt {

// One physically contiguous piece of a file: `m_nCount` clusters from
// virtual cluster `m_nVcn` stored at logical cluster `m_nLcn`.
struct CFsRun {
  uint64_t m_nVcn = 0;
  uint64_t m_nLcn = 0;
  uint64_t m_nCount = 0;
};

// A file or folder as a folder listing shows it, with enough to find its
// data again.
struct CFsNode {
  // Unique per volume while the volume is unchanged; the root is 0.
  uint64_t m_nId = 0;
  // Where the data starts, in the file system's own terms (FAT: first cluster).
  uint64_t m_nRef = 0;
  bool m_bRoot = false;
  bool m_bDirectory = false;
  DWORD m_dwAttributes = 0;  // FILE_ATTRIBUTE_*
  uint64_t m_nSize = 0;
  FILETIME m_ftCreation = {0, 0};
  FILETIME m_ftAccess = {0, 0};
  FILETIME m_ftWrite = {0, 0};
  std::string m_strName;       // ANSI long name, or the short name when there is none
  std::string m_strShortName;  // ANSI 8.3 name
  // The short name as the find data shows it: empty when it equals m_strName.
  std::string m_strAltName;
};

}  // namespace vt
