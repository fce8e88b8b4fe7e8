// The intent record of a group of moves: before a group switches any file
// to its new clusters, which clusters it takes and which it lets go of are
// written beside the image (IMAGE.vantrel-moves), or for a device into the
// user's settings folder under the volume's serial; never inside the
// volume, where its own checkers would find it. Each group's record replaces
// the one before; the last goes when the writes end with everything stored. A record found when the
// volume is next opened for writing names an interrupted group: every cluster it names that is
// marked in use but owned by no file is freed, and the marks the group set
// are cleared.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/winshapes.h"
#include "platform/image/block_device.h"

namespace vt {

struct CIntentRecord {
  DWORD m_dwSerial = 0;
  // The group set the volume's dirty marks (FAT), so recovery clears them.
  bool m_bMarkedDirty = false;
  // Logical clusters (first, count) the group's files move from and to.
  std::vector<std::pair<uint64_t, uint64_t>> m_clusters;
};

// Where the record of the volume with `serial` on `device` lives; empty
// when it has no place (a volume held in memory).
std::string IntentRecordPath(const CBlockDevice& device, DWORD serial);

// Writes the record and pushes it to stable storage (replacing any old one
// in one step), before anything it names is changed.
DWORD WriteIntentRecord(const std::string& path, const CIntentRecord& record);
// ERROR_FILE_NOT_FOUND when there is none; ERROR_FILE_CORRUPT for a record
// that does not parse (a torn write: its group never started).
DWORD ReadIntentRecord(const std::string& path, CIntentRecord* record);
void RemoveIntentRecord(const std::string& path);
// The records of one volume's groups of moves while it is written.
class CGroupRecords {
 public:
  std::string m_strPath;  // empty: the volume has no place for them

  // Writes the record of the group being committed, with the clusters the
  // group before freed (the flush stores those frees, and this record
  // replaces the one that names them), while `flush` stores the group's
  // copies: two flushes of two files at once. The first failure, after
  // which the record stays for the next open.
  DWORD StoreWithFlush(CIntentRecord record, const std::function<DWORD()>& flush);
  // A committed group freed these clusters; the next flush stores that.
  void Freed(uint64_t lcn, uint64_t count) { m_unstored.emplace_back(lcn, count); }
  // A record was written by other means.
  void Wrote() { m_bWritten = true; }
  // A group failed part way: the record stays for the next open, and what
  // it names is named again by every record written after it.
  void Keep() {
    m_bKept = true;
    m_kept = m_last;
  }
  // Everything is stored: the record goes, unless one is to stay.
  void Finish();

 private:
  bool m_bWritten = false;
  bool m_bKept = false;
  std::vector<std::pair<uint64_t, uint64_t>> m_unstored;
  std::vector<std::pair<uint64_t, uint64_t>> m_last;  // the clusters of the last record
  std::vector<std::pair<uint64_t, uint64_t>> m_kept;  // those of a group that failed part way
};

}  // namespace vt
