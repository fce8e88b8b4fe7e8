#include "pages/file_rows.h"

#include <algorithm>

#include "base/codepage.h"
#include "base/text.h"

namespace vt {

std::string FolderOfItem(const CDefrag& engine, const CFileItem& item) {
  return engine.GetItemFolder(item);
}

std::string FileTimeDateText(const FILETIME& ft) {
  const uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  // Days since 1 January 1601, then the civil date (proleptic Gregorian).
  int64_t days = static_cast<int64_t>(ticks / 10000000ull / 86400ull);
  // Shift to days since 1 March 0000 for the usual era arithmetic.
  days += 584694;  // days from 0000-03-01 to 1601-01-01
  const int64_t era = days / 146097;
  const int64_t doe = days - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t year = yoe + era * 400;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  if (month <= 2) ++year;
  return Format("%u/%u/%u", static_cast<unsigned>(month), static_cast<unsigned>(day),
                static_cast<unsigned>(year));
}

bool MakeFileRow(const CDefrag& engine, size_t index, CFileRow* row) {
  const CFileItem& item = engine.m_files[index];
  CFileRow r;
  r.m_nItem = index;
  r.m_strFolder = FolderOfItem(engine, item);
  if (r.m_strFolder.empty()) return false;
  r.m_strName = item.IsUnmovable() ? item.m_strName + " (unmoveable)" : item.m_strName;
  r.m_strSize = item.IsDirectory() ? "folder" : FormatByteSize(item.m_nSize);
  const size_t fragments = item.m_fragments.GetSize();
  r.m_strFragments = fragments > 1 ? Format("%u", static_cast<unsigned>(fragments))
                                   : std::string("not fragmented");
  r.m_strClusters = Format("%u", item.GetClusters());
  r.m_strDegree = Format("%.03f", item.GetFragmentationDegree());
  r.m_strLastWrite = FileTimeDateText(item.m_ftLastWrite);
  *row = std::move(r);
  return true;
}

std::vector<CFileRow> CollectFileRows(const CDefrag& engine, bool ntfs, bool showAll,
                                      const std::string& filter) {
  bool stopped = false;
  return CollectFileRows(engine, ntfs, showAll, filter, nullptr, &stopped);
}

std::vector<CFileRow> CollectFileRows(const CDefrag& engine, bool ntfs, bool showAll,
                                      const std::string& filter,
                                      const std::function<bool(size_t)>& tick, bool* stopped) {
  // Letters fold as the file systems fold them, not only A to Z.
  const std::string lowered = FoldUtf8(filter);
  std::vector<CFileRow> rows;
  *stopped = false;
  for (size_t i = 0; i < engine.m_files.GetSize(); ++i) {
    if (tick && !tick(i)) {
      *stopped = true;
      break;
    }
    const CFileItem& item = engine.m_files[i];
    if (item.m_strName.empty()) continue;
    if (item.IsDirectory() && !ntfs) continue;
    if (item.IsUnmovable() && item.m_strName[0] == '$') continue;
    if (item.m_fragments.GetSize() <= 1 && !showAll) continue;
    if (!lowered.empty() && FoldUtf8(item.m_strName).find(lowered) == std::string::npos &&
        FoldUtf8(FolderOfItem(engine, item)).find(lowered) == std::string::npos)
      continue;
    CFileRow row;
    if (MakeFileRow(engine, i, &row)) rows.push_back(std::move(row));
  }
  return rows;
}

void SortRowsByFragmentsDescending(const CDefrag& engine, std::vector<CFileRow>& rows) {
  std::stable_sort(rows.begin(), rows.end(), [&](const CFileRow& a, const CFileRow& b) {
    return engine.m_files[a.m_nItem].m_fragments.GetSize() >
           engine.m_files[b.m_nItem].m_fragments.GetSize();
  });
}

std::string FragmentedCountText(const CDefrag& engine, const std::vector<CFileRow>& rows) {
  size_t fragmented = 0;
  for (const auto& row : rows)
    if (engine.m_files[row.m_nItem].m_fragments.GetSize() >= 2) ++fragmented;
  if (fragmented == rows.size())
    return Format("Total fragmented files: %d", static_cast<int>(fragmented));
  return Format("Total fragmented files: %d out of %d", static_cast<int>(fragmented),
                static_cast<int>(rows.size()));
}

std::string FragmentedCountText(const CDefrag& engine, const std::vector<size_t>& items) {
  std::vector<CFileRow> rows;
  for (size_t item : items) {
    if (item >= engine.m_files.GetSize()) continue;
    rows.emplace_back();
    rows.back().m_nItem = item;
  }
  return FragmentedCountText(engine, rows);
}

}  // namespace vt
