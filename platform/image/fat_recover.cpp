// The next open of a FAT volume whose group of moves was cut off (the
// process killed, the power lost) finishes it from its intent record: the
// FAT copies are made equal from the one in use (each update reaches it
// first, so it is the later state, and on its own a consistent one), the
// clusters the record names that are marked in use but reached by no chain
// are freed, and the dirty marks the group set are cleared. A volume whose
// chains cannot all be followed is left as it is, record and all, for its
// checker.
#include <algorithm>
#include <vector>

#include "platform/image/fat_volume.h"

namespace vt {

DWORD CFatVolume::RecoverInterrupted(const CIntentRecord& record) {
  if (m_layout.m_nFats > 1 && m_layout.m_bMirrored) {
    const uint64_t bytes = m_layout.FatBytesNeeded();
    const uint64_t chunk = 1 << 20;
    std::vector<uint8_t> active(static_cast<size_t>(std::min(bytes, chunk)));
    std::vector<uint8_t> other(active.size());
    for (uint64_t at = 0; at < bytes; at += chunk) {
      const size_t n = static_cast<size_t>(std::min(chunk, bytes - at));
      DWORD err = m_pDevice->Read(m_layout.FatOffset(m_layout.m_nActiveFat) + at, active.data(), n);
      if (err != ERROR_SUCCESS) return err;
      for (uint32_t copy = 0; copy < m_layout.m_nFats; ++copy) {
        if (copy == m_layout.m_nActiveFat) continue;
        err = m_pDevice->Read(m_layout.FatOffset(copy) + at, other.data(), n);
        if (err != ERROR_SUCCESS) return err;
        if (std::equal(active.begin(), active.begin() + n, other.begin())) continue;
        m_bUnflushed = true;
        err = m_pDevice->Write(m_layout.FatOffset(copy) + at, active.data(), n);
        if (err != ERROR_SUCCESS) return err;
      }
    }
  }
  DWORD err = m_table.Load(m_pDevice.get(), m_layout, nullptr);
  if (err != ERROR_SUCCESS) return err;
  CAllocationCheck check;
  std::vector<uint32_t> owners;
  err = WalkAllocation(&check, &owners);
  AfterMetadataChange();
  if (err != ERROR_SUCCESS) return err;
  if (owners.empty()) return ERROR_DISK_CORRUPT;
  std::vector<std::pair<uint32_t, uint32_t>> frees;
  const uint32_t maxCluster = m_table.MaxCluster();
  for (const auto& run : record.m_clusters) {
    for (uint64_t lcn = run.first; lcn - run.first < run.second && lcn + 2 <= maxCluster; ++lcn) {
      const auto cluster = static_cast<uint32_t>(lcn + 2);
      const EFatEntry kind = m_table.Kind(cluster);
      if (kind != EFatEntry::kFree && kind != EFatEntry::kBad && owners[cluster] == 0) {
        frees.emplace_back(cluster, 0);
        owners[cluster] = 1;  // named twice, freed once
      }
    }
  }
  if (!frees.empty()) {
    m_bUnflushed = true;
    err = m_table.WriteEntries(frees);
    if (err != ERROR_SUCCESS) return err;
  }
  // Nothing may say "clean" before the frees are stored.
  err = Flush();
  if (err == ERROR_SUCCESS && record.m_bMarkedDirty) {
    m_bMarkedDirty = true;
    err = MarkClean();
    if (err == ERROR_SUCCESS) err = Flush();
  }
  if (err != ERROR_SUCCESS) return err;
  uint8_t flag = 0;
  m_bWasDirty = !m_table.IsCleanBitSet() ||
                (m_nDirtyFlagOffset != 0 &&
                 m_pDevice->Read(m_nDirtyFlagOffset, &flag, 1) == ERROR_SUCCESS && (flag & 1));
  AfterMetadataChange();
  RemoveIntentRecord(m_records.m_strPath);
  return ERROR_SUCCESS;
}

}  // namespace vt
