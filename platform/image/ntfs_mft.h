// The master file table: records by number through $MFT's own run list, and
// which of them are in use.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/aligned.h"
#include "ondisk/ntfs_attr.h"
#include "ondisk/ntfs_boot.h"
#include "ondisk/ntfs_record.h"
#include "platform/image/block_device.h"
#include "platform/image/ntfs_stream.h"
#include "platform/image/stretch_queue.h"

namespace vt {
namespace ntfs {

// A file record read from the MFT: fix-ups applied, header and attributes
// checked.
struct CLoadedRecord {
  uint64_t m_nNumber = 0;
  std::vector<uint8_t> m_bytes;
  CRecordHeader m_header;
  std::vector<CAttribute> m_attributes;
};

class CMft {
 public:
  // Records are read a stretch of this many bytes at a time, each stretch
  // starting at a multiple of it (and the last one cut at the MFT's end).
  static constexpr uint64_t kStretchBytes = 1024 * 1024;  // a thousand records a read

  // Reads record 0 where the boot sector places it and puts $MFT's data
  // together, following its attribute list into extension records that the
  // part already known reaches; then loads the MFT's bitmap. ERROR_SUCCESS
  // or ERROR_DISK_CORRUPT with a one-line reason.
  DWORD Open(CBlockDevice* device, const CNtfsGeometry& geometry, std::string* message);

  CBlockDevice& Device() const { return *m_pDevice; }
  const CNtfsGeometry& Geometry() const { return m_geometry; }
  // $MFT's unnamed $DATA.
  const CStream& Data() const { return m_data; }
  // Records inside the MFT's valid data.
  uint64_t RecordCount() const { return m_nRecordCount; }
  // Whether the MFT's bitmap marks a record in use.
  bool IsInUse(uint64_t number) const;
  // The MFT's own bitmap attribute, for whoever marks records in use.
  const CStream& BitmapStream() const { return m_bitmapStream; }
  // Keeps the copy of the bitmap in step with a bit written to the volume.
  void SetInUse(uint64_t number, bool inUse);
  // The highest record at or below `number` that is in use; 0 when none is.
  uint64_t InUseAtOrBelow(uint64_t number) const;

  // Reads record `number` with its fix-ups applied. ERROR_INVALID_PARAMETER
  // past the end of the MFT, ERROR_FILE_CORRUPT for a damaged record.
  DWORD ReadRecord(uint64_t number, std::vector<uint8_t>* bytes) const;
  // The same into `out`, which has room for one record.
  DWORD ReadRecordInto(uint64_t number, uint8_t* out) const;
  // As ReadRecord, and checks the header and walks the attributes.
  DWORD LoadRecord(uint64_t number, CLoadedRecord* record) const;
  // Forgets the records read ahead; whoever writes records calls it.
  void DropReadAhead() const { m_readAhead.clear(); }
  // Record `number` was written as `bytes` (as stored, fix-ups prepared):
  // the stretch read ahead takes it over rather than being read again.
  void Rewrote(uint64_t number, const std::vector<uint8_t>& bytes) const;
  // Stretches a pass needs are first asked of `source` (nullptr: none); it
  // must hand over the MFT's bytes as they are stored.
  void SetStretchSource(CStretchSource* source) const { m_pSource = source; }

 private:
  DWORD ReadRecordAt(uint64_t number, const CStream& data, std::vector<uint8_t>* bytes) const;

  CBlockDevice* m_pDevice = nullptr;
  CNtfsGeometry m_geometry;
  CStream m_data;
  uint64_t m_nRecordCount = 0;
  std::vector<uint8_t> m_bitmap;
  CStream m_bitmapStream;
  // Records are read a stretch at a time: scans ask for them in order
  // (records asked for out of order are read alone, the stretch kept).
  mutable CAlignedBytes m_readAhead;
  mutable uint64_t m_nReadAheadOffset = 0;
  mutable uint64_t m_nLastRecord = ~static_cast<uint64_t>(0);
  mutable CStretchSource* m_pSource = nullptr;
};

// Checks a record (fix-ups applied) and walks its attributes.
DWORD ParseRecord(uint64_t number, std::vector<uint8_t> bytes, CLoadedRecord* record);
// ParseRecord's checks before the attributes: the header, and from NTFS 3.1
// on the number the record carries.
DWORD ParseRecordAt(uint64_t number, const uint8_t* bytes, size_t size, CRecordHeader* header);

}  // namespace ntfs
}  // namespace vt
