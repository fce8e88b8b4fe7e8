#include "platform/image/fat_volume.h"

#include <algorithm>

#include "base/le.h"
#include "platform/image/fat_dir.h"

namespace vt {

namespace {

constexpr size_t kFolderCacheSize = 16;
constexpr uint64_t kFixedRootKey = ~static_cast<uint64_t>(0);
constexpr uint32_t kFsInfoLead = 0x41615252;
constexpr uint32_t kFsInfoStruct = 0x61417272;
constexpr uint32_t kFsInfoTrail = 0xAA550000;

}  // namespace

DWORD CFatVolume::Open(std::unique_ptr<CBlockDevice> storage, std::unique_ptr<CFsVolume>* volume,
                       std::string* message) {
  auto device = std::make_unique<CHeldWriteDevice>(std::move(storage));
  std::vector<uint8_t> boot(512);
  if (device->Size() < boot.size()) {
    if (message) *message = "not a FAT volume: too short to hold a boot sector";
    return ERROR_UNRECOGNIZED_VOLUME;
  }
  DWORD err = device->Read(0, boot.data(), boot.size());
  if (err != ERROR_SUCCESS) {
    if (message) *message = "cannot read the boot sector";
    return err;
  }
  std::unique_ptr<CFatVolume> fat(new CFatVolume());
  err = ParseFatBootSector(boot.data(), boot.size(), &fat->m_layout, message);
  if (err != ERROR_SUCCESS) return err;
  const CFatLayout& l = fat->m_layout;
  if (device->Size() < l.HeapEnd()) {
    if (message) {
      *message = "image is truncated: " + std::to_string(device->Size()) +
                 " bytes, the volume needs " + std::to_string(l.HeapEnd());
    }
    return ERROR_DISK_CORRUPT;
  }
  err = fat->m_table.Load(device.get(), l, message);
  if (err != ERROR_SUCCESS) return err;
  if (l.m_nFsInfoSector != 0) {
    std::vector<uint8_t> info(512);
    if (device->Read(static_cast<uint64_t>(l.m_nFsInfoSector) * l.m_nBytesPerSector, info.data(),
                     info.size()) == ERROR_SUCCESS) {
      fat->m_bFsInfo = Le32(&info[0]) == kFsInfoLead && Le32(&info[484]) == kFsInfoStruct &&
                       Le32(&info[508]) == kFsInfoTrail;
    }
  }
  if (l.m_bHasSerial) {
    fat->m_nDirtyFlagOffset = l.m_eType == EFatType::kFat32 ? 0x41 : 0x25;
  }
  fat->m_bWasDirty = (fat->m_nDirtyFlagOffset != 0 && (boot[fat->m_nDirtyFlagOffset] & 1) != 0) ||
                     !fat->m_table.IsCleanBitSet();
  fat->m_pHeld = device.get();
  fat->m_pDevice = std::move(device);
  fat->m_records.m_strPath = IntentRecordPath(*fat->m_pDevice, fat->Serial());
  // A group of our moves that was cut off is finished before anything else.
  CIntentRecord record;
  if (!fat->m_pDevice->IsReadOnly() &&
      ReadIntentRecord(fat->m_records.m_strPath, &record) == ERROR_SUCCESS &&
      record.m_dwSerial == fat->Serial()) {
    fat->RecoverInterrupted(record);
  }
  // The label lives in the root folder; a root that cannot be read leaves
  // the volume usable without one.
  std::vector<CFsNode> rootNodes;
  fat->ReadFolder(fat->Root(), &rootNodes, &fat->m_strLabel);
  *volume = std::move(fat);
  return ERROR_SUCCESS;
}

const char* CFatVolume::FileSystemName() const {
  return m_layout.m_eType == EFatType::kFat32 ? "FAT32" : "FAT";
}

uint64_t CFatVolume::FreeClusters() {
  SettleFrees();
  if (!m_bFreeKnown) {
    m_nFree = m_table.CountFree();
    m_bFreeKnown = true;
  }
  return m_nFree;
}

uint64_t CFatVolume::VolumeBytes() const {
  return std::min<uint64_t>(m_layout.VolumeBytes(), m_pDevice->Size());
}

CFsNode CFatVolume::Root() const {
  CFsNode root;
  root.m_bRoot = true;
  root.m_bDirectory = true;
  root.m_nId = 0;
  root.m_nRef = m_layout.m_eType == EFatType::kFat32 ? m_layout.m_nRootCluster : 0;
  root.m_dwAttributes = FILE_ATTRIBUTE_DIRECTORY;
  return root;
}

DWORD CFatVolume::ReadFolder(const CFsNode& folder, std::vector<CFsNode>* nodes, std::string* label,
                             std::string* problem) {
  CFatFolderSource source;
  source.m_bRoot = folder.m_bRoot;
  std::vector<uint8_t> data;
  if (folder.m_bRoot && m_layout.m_eType != EFatType::kFat32) {
    source.m_nSegmentBytes = m_layout.RootDirBytes();
    source.m_segmentOffsets.push_back(m_layout.RootDirOffset());
    data.resize(static_cast<size_t>(m_layout.RootDirBytes()));
    DWORD err = m_pDevice->Read(m_layout.RootDirOffset(), data.data(), data.size());
    if (err != ERROR_SUCCESS) return err;
  } else {
    if (!folder.m_bDirectory || folder.m_nRef > UINT32_MAX) return ERROR_FILE_CORRUPT;
    std::vector<CFsRun> runs;
    const uint64_t clusterBytes = m_layout.BytesPerCluster();
    // A folder longer than FAT allows is as damaged as a looping one.
    DWORD err = m_table.ReadChain(static_cast<uint32_t>(folder.m_nRef), &runs,
                                  (kFatMaxFolderBytes + clusterBytes - 1) / clusterBytes);
    if (err == ERROR_SUCCESS) err = Claim(folder, runs);
    if (err != ERROR_SUCCESS) return err;
    source.m_nSegmentBytes = clusterBytes;
    for (const CFsRun& run : runs) {
      uint64_t have = data.size();
      if (have >= kFatMaxFolderBytes) break;
      uint64_t take = std::min<uint64_t>(
          run.m_nCount, (kFatMaxFolderBytes - have + clusterBytes - 1) / clusterBytes);
      data.resize(static_cast<size_t>(have + take * clusterBytes));
      err = m_pDevice->Read(LcnOffset(run.m_nLcn), data.data() + have,
                            static_cast<size_t>(take * clusterBytes));
      if (err != ERROR_SUCCESS) return err;
      for (uint64_t i = 0; i < take; ++i) {
        source.m_segmentOffsets.push_back(LcnOffset(run.m_nLcn + i));
      }
    }
  }
  DecodeFatFolder(data.data(), std::min<size_t>(data.size(), kFatMaxFolderBytes), source,
                  m_layout.m_eType, nodes, label, problem);
  return ERROR_SUCCESS;
}

DWORD CFatVolume::ListFolder(const CFsNode& folder, CFsListing* entries) {
  // A folder without clusters (other than the fixed root) is damaged.
  if (!folder.m_bRoot && folder.m_nRef == 0) return ERROR_FILE_CORRUPT;
  uint64_t key =
      (folder.m_bRoot && m_layout.m_eType != EFatType::kFat32) ? kFixedRootKey : folder.m_nRef;
  // Another entry's folder (an ancestor, say) is not listed again under this one.
  if (key != kFixedRootKey && ClaimedByOther(folder)) return ERROR_FILE_CORRUPT;
  for (size_t i = 0; i < m_folderCache.size(); ++i) {
    if (m_folderCache[i].first == key) {
      *entries = m_folderCache[i].second;
      std::rotate(m_folderCache.begin() + i, m_folderCache.begin() + i + 1, m_folderCache.end());
      return ERROR_SUCCESS;
    }
  }
  auto nodes = std::make_shared<std::vector<CFsNode>>();
  DWORD err = ReadFolder(folder, nodes.get(), nullptr);
  if (err != ERROR_SUCCESS) return err;
  if (m_folderCache.size() >= kFolderCacheSize) m_folderCache.erase(m_folderCache.begin());
  m_folderCache.emplace_back(key, nodes);
  *entries = std::move(nodes);
  return ERROR_SUCCESS;
}

void CFatVolume::AfterFileMoved(uint64_t entryId, uint32_t newFirst) {
  // The listings kept stay: a move changes no name, size or time, only the
  // first cluster its entry names, and an entry lies in one folder.
  for (size_t f = 0; newFirst != 0 && f < m_folderCache.size(); ++f) {
    const std::vector<CFsNode>& nodes = *m_folderCache[f].second;
    auto it = std::find_if(nodes.begin(), nodes.end(),
                           [entryId](const CFsNode& n) { return n.m_nId == entryId; });
    if (it == nodes.end()) continue;
    const size_t at = static_cast<size_t>(it - nodes.begin());
    if (m_folderCache[f].second.use_count() == 1) {
      // Only the cache holds it, and made it (not const): changed in place.
      const_cast<CFsNode&>(nodes[at]).m_nRef = newFirst;
    } else {
      auto copy = std::make_shared<std::vector<CFsNode>>(nodes);
      (*copy)[at].m_nRef = newFirst;
      m_folderCache[f].second = std::move(copy);
    }
    break;
  }
  FoldersChanged();
  m_bFreeKnown = false;
}

CFsNode CFatVolume::Current(const CFsNode& node) const {
  auto it = m_restoredFirst.find(node.m_nId);
  if (it == m_restoredFirst.end() || node.m_bDirectory || node.m_bRoot) return node;
  CFsNode now = node;
  now.m_nRef = it->second;
  return now;
}

DWORD CFatVolume::GetRuns(const CFsNode& held, std::vector<CFsRun>* runs) {
  const CFsNode node = Current(held);
  runs->clear();
  // The fixed root folder of FAT12/16 lies outside the cluster heap, and an
  // empty file has no first cluster: neither has clusters to report.
  if (node.m_bRoot && m_layout.m_eType != EFatType::kFat32) return ERROR_SUCCESS;
  if (node.m_nRef == 0) return ERROR_SUCCESS;
  if (node.m_nRef > UINT32_MAX) return ERROR_FILE_CORRUPT;
  DWORD err = m_table.ReadChain(static_cast<uint32_t>(node.m_nRef), runs);
  if (err == ERROR_SUCCESS) err = Claim(node, *runs);
  if (err != ERROR_SUCCESS) runs->clear();
  return err;
}

bool CFatVolume::ClaimedByOther(const CFsNode& node) const {
  auto it = m_firstOwner.find(static_cast<uint32_t>(node.m_nRef));
  return it != m_firstOwner.end() && it->second != node.m_nId;
}

DWORD CFatVolume::Claim(const CFsNode& node, const std::vector<CFsRun>& runs) {
  const uint32_t first = static_cast<uint32_t>(node.m_nRef);
  auto it = m_firstOwner.find(first);
  if (it != m_firstOwner.end())
    return it->second == node.m_nId ? ERROR_SUCCESS : ERROR_FILE_CORRUPT;
  if (m_claimed.empty()) m_claimed.assign(static_cast<size_t>(m_table.MaxCluster()) / 8 + 1, 0);
  // ReadChain keeps every cluster within 2 .. MaxCluster().
  for (const CFsRun& run : runs) {
    for (uint64_t c = run.m_nLcn + 2; c < run.m_nLcn + 2 + run.m_nCount; ++c) {
      if (m_claimed[c / 8] & (1u << (c % 8))) return ERROR_FILE_CORRUPT;
    }
  }
  for (const CFsRun& run : runs) {
    for (uint64_t c = run.m_nLcn + 2; c < run.m_nLcn + 2 + run.m_nCount; ++c) {
      m_claimed[c / 8] = static_cast<uint8_t>(m_claimed[c / 8] | (1u << (c % 8)));
    }
  }
  m_firstOwner.emplace(first, node.m_nId);
  return ERROR_SUCCESS;
}

DWORD CFatVolume::MoveClusters(CFsNode* node, uint64_t vcn, uint64_t lcn, uint64_t count) {
  node->m_nRef = Current(*node).m_nRef;
  const uint64_t before = node->m_nRef;
  auto owned = m_firstOwner.find(static_cast<uint32_t>(before));
  const bool claimed =
      before <= UINT32_MAX && owned != m_firstOwner.end() && owned->second == node->m_nId;
  DWORD err = MoveChain(node, vcn, lcn, count);
  // A file not read yet claims its clusters when it is. One that was now
  // also owns the target and its new start; its old clusters stay claimed,
  // as nothing but a move of a file already read reuses them.
  if (!claimed) return err;
  if (lcn < TotalClusters() && count <= TotalClusters() - lcn) {
    for (uint64_t c = lcn + 2; c < lcn + 2 + count; ++c) {
      m_claimed[c / 8] = static_cast<uint8_t>(m_claimed[c / 8] | (1u << (c % 8)));
    }
  }
  if (node->m_nRef != before) {
    m_firstOwner.erase(static_cast<uint32_t>(before));
    if (node->m_nRef != 0 && node->m_nRef <= UINT32_MAX)
      m_firstOwner[static_cast<uint32_t>(node->m_nRef)] = node->m_nId;
  }
  return err;
}

DWORD CFatVolume::GetBitmap(uint64_t firstLcn, uint64_t count, uint8_t* bits) {
  SettleFrees();
  if (firstLcn > TotalClusters() || count > TotalClusters() - firstLcn) {
    return ERROR_INVALID_PARAMETER;
  }
  m_table.UsedBits(static_cast<uint32_t>(firstLcn + 2), count, bits);
  return ERROR_SUCCESS;
}

DWORD CFatVolume::ReadRaw(uint64_t offset, void* buffer, size_t size) {
  if (offset > VolumeBytes() || size > VolumeBytes() - offset) return ERROR_SECTOR_NOT_FOUND;
  return m_pDevice->Read(offset, buffer, size);
}

}  // namespace vt
