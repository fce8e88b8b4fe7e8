// Which files the fragmented-file list shows and the text of each cell.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/defrag.h"

namespace vt {

struct CFileRow {
  size_t m_nItem = 0;  // index into the engine's file list
  std::string m_strName;
  std::string m_strSize;
  std::string m_strFragments;
  std::string m_strClusters;
  std::string m_strDegree;
  std::string m_strLastWrite;
  std::string m_strFolder;
};

// The file's folder path as the list shows it (empty when it cannot be resolved).
std::string FolderOfItem(const CDefrag& engine, const CFileItem& item);

// Month/day/year of a file time, taken as stored: "3/14/2008".
std::string FileTimeDateText(const FILETIME& ft);

// Fills the cells of one row; false when the folder path is empty (no row).
bool MakeFileRow(const CDefrag& engine, size_t index, CFileRow* row);

// Rows in list order: skips nameless items, folders (unless NTFS), "$" system
// items, unfragmented files unless showAll, and with a filter keeps files
// whose lower-cased name, else folder path, contains the lower-cased filter.
std::vector<CFileRow> CollectFileRows(const CDefrag& engine, bool ntfs, bool showAll,
                                      const std::string& filter);
// The same, calling tick(i) before file i; a false answer stops the walk
// (stopped is then set and the rows so far are returned).
std::vector<CFileRow> CollectFileRows(const CDefrag& engine, bool ntfs, bool showAll,
                                      const std::string& filter,
                                      const std::function<bool(size_t)>& tick, bool* stopped);

// Orders rows by fragment count, most first (the list's first sort).
void SortRowsByFragmentsDescending(const CDefrag& engine, std::vector<CFileRow>& rows);

// "Total fragmented files: %d" or "... %d out of %d".
std::string FragmentedCountText(const CDefrag& engine, const std::vector<CFileRow>& rows);
// The same for the listed file-list indexes (those out of range left out).
std::string FragmentedCountText(const CDefrag& engine, const std::vector<size_t>& items);

}  // namespace vt
