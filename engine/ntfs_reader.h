// The direct NTFS reader: builds the file list and the directory map from
// the master file table, record by record, instead of walking folders.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/le.h"
#include "engine/defrag.h"
#include "ondisk/ntfs_attr.h"
#include "ondisk/ntfs_runlist.h"

namespace vt {

class CNtfsReader {
 public:
  CNtfsReader(CDefrag& engine, CGrowableArray<CFileItem>& files,
              std::unordered_map<uint32_t, CFileItem>& dirMap);

  // Reads every in-use record of the volume. False (after its message) when
  // the boot sector or the MFT's bitmap cannot be read; true otherwise, also
  // after a cancel.
  bool ScanVolume(HANDLE volume);

  // Turns one base record into a file item and stores a copy of it when it
  // qualifies. The record must be a checked "FILE" record of `size` bytes and
  // `item` a fresh one (or one emptied by RecycleItem).
  void ProcessRecord(uint32_t r, const uint8_t* record, size_t size, CFileItem& item);
  // Makes `item` a fresh item again, keeping the storage of its name and
  // fragment list for the next record.
  static void RecycleItem(CFileItem& item);

  uint32_t RecordSize() const { return m_nRecordSize; }
  // The geometry a scan reads from the boot sector, for records processed
  // on their own.
  void SetGeometry(uint32_t bytesPerSector, uint32_t sectorsPerCluster) {
    m_nBytesPerSector = bytesPerSector;
    m_nSectorsPerCluster = sectorsPerCluster;
  }

 private:
  // Any range of the volume; ReadSectors takes whole sectors only.
  bool ReadRaw(uint64_t offset, void* buffer, DWORD size);
  bool ReadSectors(uint64_t offset, void* buffer, DWORD size);
  bool ReadMftRecordRaw(uint32_t index, std::vector<uint8_t>* record);
  bool LoadMftBitmap(std::vector<uint8_t>* bitmap, uint64_t* records);
  bool ReadNonResident(const uint8_t* record, const ntfs::CAttribute& attribute,
                       std::vector<uint8_t>* value);
  // A resident or non-resident value of record 0 or one of the first records:
  // into a zeroed buffer of the allocated size (non-resident) or value length.
  bool ReadValue(const uint8_t* record, size_t size, const ntfs::CAttribute& attribute,
                 std::vector<uint8_t>* value);
  // The file names kept in extension records, found through the record's
  // attribute list (the unnamed one, `list`).
  bool NameFromAttributeList(uint32_t r, const uint8_t* record, size_t size,
                             const ntfs::CAttribute& list, CFileItem& item);
  void TakeFileName(const CByteView& view, const ntfs::CAttribute& a, CFileItem& item,
                    bool* hasName, bool* nameFinal);

  CDefrag& m_engine;
  CGrowableArray<CFileItem>& m_files;
  std::unordered_map<uint32_t, CFileItem>& m_dirMap;
  HANDLE m_hVolume = INVALID_HANDLE_VALUE;
  uint32_t m_nIoSector = 0;  // the sector size reads of the volume handle keep to
  uint32_t m_nBytesPerSector = 0;
  uint32_t m_nSectorsPerCluster = 0;
  uint64_t m_nMftLcn = 0;
  uint32_t m_nRecordSize = 0;
  std::vector<uint8_t> m_record0;

  // Storage kept from one record to the next, so that the pass over the
  // records allocates only what the file list keeps: the item being filled,
  // the runs of the attribute being mapped, and for attribute lists the
  // list, its entries, the records they name and a reply buffer.
  CFileItem m_item;
  std::vector<ntfs::CRun> m_runs;
  std::vector<uint8_t> m_listValue;
  std::vector<ntfs::CListEntry> m_listEntries;
  std::vector<uint32_t> m_holders;
  std::vector<uint8_t> m_extension;
  std::vector<uint8_t> m_cluster;
};

}  // namespace vt
