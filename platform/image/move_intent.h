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
// Writes the record while `flush` stores the volume's writes: two flushes of
// two files, made at once rather than one after the other. Returns what
// writing the record gave; `*flushed` is what the flush gave.
DWORD StoreWithRecord(const std::string& path, const CIntentRecord& record,
                      const std::function<DWORD()>& flush, DWORD* flushed);

}  // namespace vt
