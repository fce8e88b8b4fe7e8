// The room a split segment takes: free MFT records and free clusters, found
// without writing, and the record and MFT bitmap writes that claim them
// (see ntfs_grow.cpp for the order they are made in).
#include <algorithm>

#include "ondisk/ntfs_layout.h"
#include "platform/image/ntfs_edit.h"
#include "platform/image/ntfs_file.h"
#include "platform/image/ntfs_volume.h"

namespace vt {

using ntfs::CRecordHeader;
using ntfs::CStream;

namespace {

// Records 16 to 23 are held back for the metafiles, as NTFS does.
constexpr uint64_t kFirstFreeRecord = 24;

constexpr uint64_t kBitmapChunkBytes = 64 * 1024;

}  // namespace

DWORD CNtfsVolume::WriteRecord(uint64_t number, const std::vector<uint8_t>& bytes) {
  const DWORD err =
      ntfs::WriteStream(*m_pDevice, m_geometry, m_mft.Data(), number * m_geometry.m_nRecordSize,
                        bytes.data(), bytes.size());
  m_mft.DropReadAhead();
  return err;
}

DWORD CNtfsVolume::FindFreeRecord(const std::vector<uint64_t>& taken, uint64_t* number,
                                  uint16_t* sequence) {
  const uint64_t size = m_geometry.m_nRecordSize;
  for (uint64_t n = kFirstFreeRecord; n < m_mft.RecordCount(); ++n) {
    if (m_mft.IsInUse(n) || std::find(taken.begin(), taken.end(), n) != taken.end()) continue;
    if (!ntfs::InOnePlace(m_geometry, m_mft.Data(), n * size, size)) continue;
    std::vector<uint8_t> bytes;
    const DWORD err = m_mft.ReadRecord(n, &bytes);
    uint16_t next = 1;
    if (err == ERROR_SUCCESS &&
        Le32(bytes.data() + ntfs::multisector::kSignature) == ntfs::kRecordSignature) {
      // The bitmap and the record disagree: leave that one alone.
      if (Le16(bytes.data() + ntfs::kRecordFlagsField) & CRecordHeader::kFlagInUse) continue;
      next = Le16(bytes.data() + ntfs::kRecordSequenceField);
      if (next == 0) next = 1;
    } else if (err != ERROR_SUCCESS && err != ERROR_FILE_CORRUPT) {
      return err;
    }
    *number = n;
    *sequence = next;
    return ERROR_SUCCESS;
  }
  return ERROR_DISK_FULL;
}

DWORD CNtfsVolume::SetRecordInUse(uint64_t number, bool inUse) {
  const CStream& bitmap = m_mft.BitmapStream();
  if (bitmap.m_bResident || number / 8 >= bitmap.Size()) return ERROR_NOT_SUPPORTED;
  uint8_t byte = 0;
  DWORD err = ntfs::ReadStream(*m_pDevice, m_geometry, bitmap, number / 8, &byte, 1);
  if (err != ERROR_SUCCESS) return ERROR_DISK_CORRUPT;
  const auto bit = static_cast<uint8_t>(1u << (number % 8));
  byte = static_cast<uint8_t>(inUse ? (byte | bit) : (byte & ~bit));
  err = ntfs::WriteStream(*m_pDevice, m_geometry, bitmap, number / 8, &byte, 1);
  if (err != ERROR_SUCCESS) return err;
  m_mft.SetInUse(number, inUse);
  return ERROR_SUCCESS;
}

DWORD CNtfsVolume::FindRoom(uint64_t count, uint64_t avoidLcn, uint64_t avoidCount, uint64_t* lcn) {
  const uint64_t total = TotalClusters();
  const uint64_t avoidEnd = avoidLcn + avoidCount;
  uint64_t best = 0, bestLength = 0;
  uint64_t runStart = 0;
  bool inRun = false;
  auto consider = [&](uint64_t start, uint64_t end) {
    // The free run the move's target lies in, or touches, is the mover's.
    if (start <= avoidEnd && end >= avoidLcn) return;
    const uint64_t length = end - start;
    if (length >= count && (bestLength == 0 || length < bestLength)) {
      best = start;
      bestLength = length;
    }
  };
  std::vector<uint8_t> bytes;
  for (uint64_t first = 0; first < total && bestLength != count;) {
    const uint64_t n = std::min<uint64_t>(kBitmapChunkBytes * 8, total - first);
    bytes.resize(static_cast<size_t>((n + 7) / 8));
    DWORD err =
        ntfs::ReadStream(*m_pDevice, m_geometry, m_bitmap, first / 8, bytes.data(), bytes.size());
    if (err != ERROR_SUCCESS) return ERROR_DISK_CORRUPT;
    for (uint64_t i = 0; i < n; ++i) {
      const bool used = (bytes[static_cast<size_t>(i / 8)] >> (i % 8)) & 1;
      if (!used && !inRun) runStart = first + i, inRun = true;
      if (used && inRun) consider(runStart, first + i), inRun = false;
    }
    first += n;
  }
  if (inRun) consider(runStart, total);
  if (bestLength == 0) return ERROR_DISK_FULL;
  *lcn = best;
  return ERROR_SUCCESS;
}

}  // namespace vt
