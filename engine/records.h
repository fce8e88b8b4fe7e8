// What the engine knows about a volume: drives, files with their fragments,
// free runs, error entries and the LCN-ordered fragment list.
#pragma once

#include <cstdint>
#include <string>

#include "base/winshapes.h"
#include "engine/grow_array.h"

namespace vt {

// One drive of the drive list.
class CDriveData {
 public:
  std::string m_strDrive;       // root path, e.g. "C:\"
  std::string m_strFileSystem;  // e.g. "NTFS"
  uint64_t m_nItems = 0;
  uint64_t m_nFragmentedFiles = 0;
  uint64_t m_nFragments = 0;
  double m_dPercentFragmented = 0.0;
  uint64_t m_nDiskSize = 0;
  uint64_t m_nFreeBytes = 0;
  uint32_t m_dwBytesPerCluster = 0;
  uint32_t m_nState = 0;  // 0 not analysed, 3 analysed
  bool m_bNtfs = false;
  uint32_t m_nDriveIndex = 0;
  bool m_bDirty = false;
  uint64_t m_nFolders = 0;
  uint64_t m_nFiles = 0;
  int m_nSeekPenalty = 0;  // SEEK_PENALTY_*: the drive list's media column
};

enum : uint32_t { DRIVE_STATE_NOT_ANALYZED = 0, DRIVE_STATE_ANALYZED = 3 };

// One fragment of a file: a run of physically contiguous clusters.
class CFileClusterItem {
 public:
  CFileClusterItem() = default;
  CFileClusterItem(uint64_t lcn, uint32_t clusters) : m_nLcn(lcn), m_nClusters(clusters) {}
  CFileClusterItem(const CFileClusterItem&) = default;
  CFileClusterItem& operator=(const CFileClusterItem&) = default;
  virtual ~CFileClusterItem() = default;

  uint64_t m_nLcn = 0;
  uint32_t m_nClusters = 0;
};

// Flag bits of CFileItem::m_wFlags.
enum : uint16_t {
  FI_UNMOVABLE = 0x0004,
  FI_DIRECTORY = 0x0010,
  // A FAT folder, unmovable as a whole: its first cluster stays (its
  // subfolders' ".." entries name it), the clusters after it may move.
  FI_TAIL_MOVABLE = 0x0040,
  FI_VIRTUAL = 0x0800,
  FI_NEEDS_EXTENTS = 0x1000,
  // m_nFolder indexes the folder list although the volume is NTFS: the item
  // came from the folder walk (a request's files), not the MFT.
  FI_FOLDER_LIST = 0x2000,
};

// One analysed file or folder.
class CFileItem {
 public:
  CFileItem() = default;
  CFileItem(const CFileItem& other) = default;
  CFileItem& operator=(const CFileItem& other) = default;
  CFileItem(CFileItem&&) noexcept = default;
  CFileItem& operator=(CFileItem&&) noexcept = default;
  virtual ~CFileItem() = default;

  // Sum of the fragments' cluster counts, as a 32-bit sum.
  uint32_t GetClusters() const;
  // fragments / clusters * 100 for a fragmented item, else 0.
  double GetFragmentationDegree() const;
  size_t GetFragmentCount() const { return m_fragments.GetSize(); }
  bool IsDirectory() const { return (m_wFlags & FI_DIRECTORY) != 0; }
  bool IsUnmovable() const { return (m_wFlags & FI_UNMOVABLE) != 0; }
  // Unmovable, but for the pieces after the first (FI_TAIL_MOVABLE).
  bool IsTailMovable() const { return (m_wFlags & FI_TAIL_MOVABLE) != 0; }
  // Nothing of the item moves any more (it failed too often, or will not open).
  void SetUnmovable() {
    m_wFlags = static_cast<uint16_t>((m_wFlags | FI_UNMOVABLE) & ~FI_TAIL_MOVABLE);
  }

  std::string m_strName;
  CGrowableArray<CFileClusterItem> m_fragments;
  uint64_t m_nSize = 0;
  uint64_t m_nFirstLcn = 0;
  FILETIME m_ftLastWrite = {0, 0};
  int32_t m_nFolder = 0;
  uint32_t m_nRecord = 0;
  uint16_t m_wFlags = 0;
  uint8_t m_nMoveFailures = 0;
};

// One run of clusters: a free run (state 0, or 1 once merged into its
// predecessor) or a map run (state 2).
struct CClusterItem {
  uint64_t m_nLcn = 0;
  uint32_t m_nClusters = 0;
  uint32_t m_nState = 0;
};

enum : uint32_t { RUN_FREE = 0, RUN_MERGED = 1, RUN_MAP = 2 };

// One file an operation could not handle.
struct CFileErrors {
  std::string m_strPath;
  std::string m_strMessage;
  uint64_t m_nSize = 0;
  uint32_t m_dwError = 0;
};

// One entry of the LCN-ordered fragment list.
struct CSortedLcn {
  uint64_t m_nLcn = 0;
  uint32_t m_nClusters = 0;
  int32_t m_nItem = 0;
};

using CSortedArrayCompareFunction = int (*)(const CSortedLcn&, const CSortedLcn&);

class CSortedArrayBase : public CGrowableArray<CSortedLcn> {};

// A growable array with a comparison and an in-place quicksort.
class CSortedArray : public CSortedArrayBase {
 public:
  explicit CSortedArray(CSortedArrayCompareFunction compare = &CompareLcnDescending)
      : m_compare(compare) {}
  void SetCompareFunction(CSortedArrayCompareFunction compare) { m_compare = compare; }
  // Sorts entries first..last (last = -1: the final entry).
  void Sort(long first = 0, long last = -1);

  // -1 when a's LCN is the higher, 1 when it is the lower: highest LCN first.
  static int CompareLcnDescending(const CSortedLcn& a, const CSortedLcn& b);

 private:
  void QuickSort(long first, long last);
  CSortedArrayCompareFunction m_compare;
};

// Scoped diagnostic timer; it has no visible output.
class CTimeIt {
 public:
  explicit CTimeIt(const char* label);
  CTimeIt(const CTimeIt&) = delete;
  CTimeIt& operator=(const CTimeIt&) = delete;
  virtual ~CTimeIt();
  uint32_t Elapsed() const;

 private:
  std::string m_strLabel;
  uint32_t m_dwStart;
};

}  // namespace vt
