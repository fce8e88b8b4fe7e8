// Moving the clusters of a FAT file (FSCTL_MOVE_FILE), in groups, ordered
// so that a crash at any write leaves a volume that fsck.fat accepts with
// every file's content intact; the worst it finds is lost clusters and the
// dirty mark, and the group's intent record lets the next open free those
// clusters and clear the mark (fat_recover.cpp).
//
// A move copies the data to the free target straight away; what would
// make any file see it (the target's own chain, then the predecessor's
// entry or the folder entry that points the file at it) is held back by
// the device (held_writes.h), and reads see it as made. The old clusters
// wait to be freed. When the group is full (or the volume bitmap is read, a
// move targets clusters the group lets go of, the last volume handle
// closes), it is committed:
//   1. flush: the copies are stored (into clusters no file names), and at
//      the same time the intent record beside the volume: every cluster
//      the group moves from and to, and those the group before freed;
//   2. every target is read back past the cache and compared with its
//      source: a difference abandons the whole group, which changed only
//      free clusters, and fails with ERROR_CRC;
//   3. (the record is stored by now);
//   4. the dirty marks (the clean-shutdown bit of FAT entry 1 on FAT16/32
//      and the boot sector flag) and the targets' chains, each a chain of
//      its own whose tail points where the moved range went on; flush;
//   5. the switches; flush;
//   6. the old clusters freed, the marks cleared, stored by the next
//      group's first flush (whose record names them too) or the
//      last one, after which the record goes.
// So a group costs three flushes, whatever its size, and the volume is
// marked dirty only while one is being committed. The order holds on
// storage that reorders writes between flushes: a switch stored before its
// chain would point at free clusters, and a free stored before its switch
// would take clusters from a live file. Each FAT update is written to the
// first copy, then to the next, so between the two each copy on its own
// describes a consistent volume (the state before or after). On FAT12,
// whose entries share bytes, a chain's bytes could carry a held switch out
// early, so there each move is a group of its own.
//
// A folder's first cluster is not moved: the ".." entries of its subfolders
// name it (and on FAT32 the boot sector names the root's), as the Windows
// FAT driver also refuses it. Its later clusters move as a file's do, but
// as a group of their own, the group before committed first: no held write
// of an entry may land in clusters being copied, and the entries in them
// (which open handles and the maps below find their files by) are known to
// have moved, or not, when the move returns. FoldIds() then carries every
// id in a moved cluster over to its new place.
#include <algorithm>
#include <cstring>

#include "base/aligned.h"
#include "base/le.h"
#include "platform/image/copy_check.h"
#include "platform/image/fat_dir.h"
#include "platform/image/fat_volume.h"
#include "platform/image/move_intent.h"

namespace vt {

namespace {

// Data is copied in pieces of this size (whole clusters, at least one).
constexpr uint64_t kCopyChunkBytes = 4u << 20;
// A group is committed once its moves reach either bound.
constexpr uint64_t kGroupBytes = 64u << 20;
constexpr size_t kGroupMoves = 512;

// Folder entry fields used here.
constexpr size_t kEntryName = 0;
constexpr size_t kEntryAttr = 11;
constexpr size_t kEntryClusterHigh = 20;
constexpr size_t kEntryClusterLow = 26;

uint32_t EntryCluster(const uint8_t* e, EFatType type) {
  uint32_t cluster = Le16(e + kEntryClusterLow);
  if (type == EFatType::kFat32) cluster |= static_cast<uint32_t>(Le16(e + kEntryClusterHigh)) << 16;
  return cluster;
}

}  // namespace

CFatVolume::~CFatVolume() { EndWrites(); }

DWORD CFatVolume::SetBootDirtyFlag(bool dirty) {
  if (m_nDirtyFlagOffset == 0) return ERROR_SUCCESS;
  uint8_t flag = 0;
  DWORD err = m_pDevice->Read(m_nDirtyFlagOffset, &flag, 1);
  if (err != ERROR_SUCCESS) return err;
  flag = static_cast<uint8_t>(dirty ? (flag | 1) : (flag & ~1));
  m_bUnflushed = true;
  return m_pDevice->Write(m_nDirtyFlagOffset, &flag, 1);
}

DWORD CFatVolume::MarkDirty() {
  if (m_bWasDirty || m_bMarkedDirty) return ERROR_SUCCESS;
  // Noted first, so that EndWrites also undoes a mark that was half made.
  m_bMarkedDirty = true;
  m_bUnflushed = true;
  DWORD err = m_table.SetCleanBit(false);
  if (err == ERROR_SUCCESS) err = SetBootDirtyFlag(true);
  return err;
}

DWORD CFatVolume::MarkClean() {
  if (!m_bMarkedDirty) return ERROR_SUCCESS;
  m_bUnflushed = true;
  DWORD err = m_table.SetCleanBit(true);
  if (err == ERROR_SUCCESS) err = SetBootDirtyFlag(false);
  if (err == ERROR_SUCCESS) m_bMarkedDirty = false;
  return err;
}

DWORD CFatVolume::WriteDeferredFrees() {
  if (m_deferredFrees.empty()) return ERROR_SUCCESS;
  m_bUnflushed = true;
  // Nothing else is held now: the frees are held only to reach the storage
  // as few writes, joined as a stage's are.
  m_pHeld->HoldFor(CHeldWriteDevice::kChains);
  DWORD err = m_table.WriteEntries(m_deferredFrees);
  m_pHeld->HoldFor(CHeldWriteDevice::kDirect);
  if (err == ERROR_SUCCESS) err = m_pHeld->Release(CHeldWriteDevice::kChains);
  if (err != ERROR_SUCCESS) {
    m_pHeld->DropHeld();
    // Whatever was not written stays a lost chain; the disk has the say.
    m_table.Load(m_pDevice.get(), m_layout, nullptr);
  }
  m_deferredFrees.clear();
  AfterMetadataChange();
  return err;
}

DWORD CFatVolume::Flush() {
  DWORD err = m_pDevice->Flush();
  if (err == ERROR_SUCCESS) m_bUnflushed = false;
  return err;
}

void CFatVolume::AbandonGroup() {
  // Only free clusters were written: the storage is the truth again, and
  // the files the group moved start where they did before it.
  for (auto it = m_group.rbegin(); it != m_group.rend(); ++it) {
    if (it->m_nOldFirst == 0) continue;
    auto owner = m_firstOwner.find(it->m_nNewFirst);
    if (owner != m_firstOwner.end() && owner->second == it->m_nEntryId) m_firstOwner.erase(owner);
    m_firstOwner[it->m_nOldFirst] = it->m_nEntryId;
    m_restoredFirst[it->m_nEntryId] = it->m_nOldFirst;
  }
  m_pHeld->DropHeld();
  m_pHeld->HoldFor(CHeldWriteDevice::kDirect);
  m_group.clear();
  m_nGroupBytes = 0;
  m_deferredFrees.clear();
  m_table.Load(m_pDevice.get(), m_layout, nullptr);
  AfterMetadataChange();
}

DWORD CFatVolume::VerifyGroup() {
  const uint64_t clusterBytes = BytesPerCluster();
  std::vector<CCopiedRange> copies;
  for (const CGroupMove& move : m_group) {
    for (const CFsRun& run : move.m_source) {
      copies.push_back(CCopiedRange{LcnOffset(run.m_nLcn),
                                    LcnOffset(move.m_nTargetLcn + run.m_nVcn),
                                    run.m_nCount * clusterBytes});
    }
  }
  return CheckCopies(*m_pDevice, std::move(copies), m_buffers);
}

DWORD CFatVolume::CommitGroup() {
  if (m_group.empty()) return ERROR_SUCCESS;
  CIntentRecord record;
  record.m_dwSerial = Serial();
  record.m_bMarkedDirty = !m_bWasDirty;
  for (const CGroupMove& move : m_group) {
    for (const CFsRun& run : move.m_source) {
      record.m_clusters.emplace_back(run.m_nLcn, run.m_nCount);
      record.m_clusters.emplace_back(move.m_nTargetLcn + run.m_nVcn, run.m_nCount);
    }
  }
  DWORD err = m_records.StoreWithFlush(std::move(record), [this] { return Flush(); });
  if (err == ERROR_SUCCESS) err = VerifyGroup();
  if (err != ERROR_SUCCESS) {
    AbandonGroup();
    return err;
  }
  // From here the record names what may be left behind.
  err = MarkDirty();
  if (err == ERROR_SUCCESS) err = m_pHeld->Release(CHeldWriteDevice::kChains);
  if (err == ERROR_SUCCESS) err = Flush();
  if (err == ERROR_SUCCESS) err = m_pHeld->Release(CHeldWriteDevice::kSwitch);
  if (err == ERROR_SUCCESS) err = Flush();
  if (err != ERROR_SUCCESS) {
    // Part of the group may be stored: the storage has the say, and the
    // record stays for the next open to finish it.
    m_records.Keep();
    AbandonGroup();
    return err;
  }
  for (const CGroupMove& move : m_group) {
    for (const CFsRun& run : move.m_source) m_records.Freed(run.m_nLcn, run.m_nCount);
  }
  m_group.clear();
  m_nGroupBytes = 0;
  // The frees and the clean marks are stored by the next flush: the next
  // group's first (whose record names them too) or the last.
  err = WriteDeferredFrees();
  if (err == ERROR_SUCCESS) err = MarkClean();
  if (err != ERROR_SUCCESS) m_records.Keep();
  return err;
}

void CFatVolume::SettleFrees() { CommitGroup(); }

DWORD CFatVolume::CommitMoves() {
  const DWORD committed = CommitGroup();
  DWORD err = ERROR_SUCCESS;
  if (m_bUnflushed) {
    // Nothing may say "clean" before the moves are on stable storage.
    err = Flush();
    if (err != ERROR_SUCCESS) return committed != ERROR_SUCCESS ? committed : err;
  }
  if (m_bMarkedDirty) {
    err = MarkClean();
    if (err == ERROR_SUCCESS) err = Flush();
    if (err != ERROR_SUCCESS) return committed != ERROR_SUCCESS ? committed : err;
  }
  // Everything the record names is stored.
  m_records.Finish();
  return committed;
}

void CFatVolume::EndWrites() { CommitMoves(); }

DWORD CFatVolume::ReadDirEntry(const CFsNode& node, uint8_t entry[32], bool folder) {
  // The entry must lie in a folder area of the volume; its id is its offset.
  const uint64_t lowest =
      m_layout.m_eType == EFatType::kFat32 ? m_layout.DataOffset() : m_layout.RootDirOffset();
  if (node.m_bRoot || node.m_nId < lowest || node.m_nId % kFatDirEntrySize != 0 ||
      node.m_nId > m_layout.HeapEnd() - kFatDirEntrySize) {
    return ERROR_FILE_INVALID;
  }
  DWORD err = m_pDevice->Read(node.m_nId, entry, kFatDirEntrySize);
  if (err != ERROR_SUCCESS) return err;
  // A handle whose entry no longer describes its file (the folder changed
  // under it) must not steer a move.
  uint8_t attr = entry[kEntryAttr];
  if (entry[kEntryName] == 0x00 || entry[kEntryName] == 0xE5 || (attr & 0x3F) == kFatAttrLongName ||
      (attr & kFatAttrVolume) != 0 || ((attr & kFatAttrDirectory) != 0) != folder ||
      EntryCluster(entry, m_layout.m_eType) != node.m_nRef) {
    return ERROR_FILE_INVALID;
  }
  return ERROR_SUCCESS;
}

DWORD CFatVolume::CopyData(const std::vector<CFsRun>& source, uint64_t targetLcn) {
  // The target is contiguous, so each piece of it is one large write,
  // gathered from however many source runs fill it.
  const uint64_t clusterBytes = BytesPerCluster();
  const uint64_t chunkBytes = std::max<uint64_t>(1, kCopyChunkBytes / clusterBytes) * clusterBytes;
  CAlignedBytes& data = m_buffers.m_copy;  // page-aligned, grown without zeroing
  data.clear();
  data.reserve(static_cast<size_t>(chunkBytes));
  uint64_t to = LcnOffset(targetLcn + source.front().m_nVcn);
  auto put = [&]() {
    m_bUnflushed = true;
    DWORD err = m_pDevice->Write(to, data.data(), data.size());
    to += data.size();
    data.clear();
    return err;
  };
  for (const CFsRun& run : source) {
    for (uint64_t done = 0; done < run.m_nCount;) {
      const uint64_t n = std::min((chunkBytes - data.size()) / clusterBytes, run.m_nCount - done);
      const size_t at = data.size();
      data.resize(at + static_cast<size_t>(n * clusterBytes));
      DWORD err = m_pDevice->Read(LcnOffset(run.m_nLcn + done), data.data() + at,
                                  static_cast<size_t>(n * clusterBytes));
      if (err != ERROR_SUCCESS) return err;
      done += n;
      if (data.size() == chunkBytes) {
        err = put();
        if (err != ERROR_SUCCESS) return err;
      }
    }
  }
  return data.empty() ? ERROR_SUCCESS : put();
}

void CFatVolume::AfterMetadataChange() {
  m_folderCache.clear();
  FoldersChanged();
  m_bFreeKnown = false;
}

void CFatVolume::FoldIds(const std::vector<uint32_t>& before, uint32_t first) {
  // The folder's clusters now, from the first moved one's VCN on.
  std::vector<CFsRun> runs;
  if (m_table.ReadChain(first, &runs) != ERROR_SUCCESS) return;
  const uint64_t clusterBytes = BytesPerCluster();
  std::vector<CFsIdShift> shifts;
  size_t vcn = 0;
  for (const CFsRun& run : runs) {
    for (uint64_t i = 0; i < run.m_nCount && vcn < before.size(); ++i, ++vcn) {
      const uint64_t now = run.m_nLcn + i;
      if (before[vcn] == 0 || before[vcn] - 2 == now) continue;
      shifts.push_back(CFsIdShift{LcnOffset(before[vcn] - 2), clusterBytes, LcnOffset(now)});
    }
  }
  if (shifts.empty()) return;
  auto shifted = [&shifts](uint64_t id) { return ShiftedId(shifts, id); };
  for (auto& owner : m_firstOwner) owner.second = shifted(owner.second);
  std::unordered_map<uint64_t, uint32_t> restored;
  for (const auto& r : m_restoredFirst) restored[shifted(r.first)] = r.second;
  m_restoredFirst.swap(restored);
  for (CGroupMove& move : m_group) move.m_nEntryId = shifted(move.m_nEntryId);
  m_idShifts.insert(m_idShifts.end(), shifts.begin(), shifts.end());
}

DWORD CFatVolume::MoveFolderClusters(CFsNode* node, uint64_t vcn, uint64_t lcn, uint64_t count) {
  // The fixed root of FAT12/16 is no chain, and a folder's first cluster
  // stays where the entries that name it point.
  if ((node->m_bRoot && m_layout.m_eType != EFatType::kFat32) || vcn == 0)
    return ERROR_INVALID_PARAMETER;
  if (node->m_nRef < 2 || node->m_nRef > UINT32_MAX) return ERROR_FILE_CORRUPT;
  if (node->m_bRoot) {
    if (node->m_nRef != m_layout.m_nRootCluster) return ERROR_FILE_INVALID;
  } else {
    uint8_t entry[kFatDirEntrySize];
    DWORD err = ReadDirEntry(*node, entry, true);
    if (err != ERROR_SUCCESS) return err;
  }
  DWORD err = CommitGroup();
  if (err != ERROR_SUCCESS) return err;
  const auto first = static_cast<uint32_t>(node->m_nRef);
  std::vector<CFsRun> runs;
  err = m_table.ReadChain(first, &runs);
  if (err != ERROR_SUCCESS) return err;
  // Cluster by VCN before the move (0 past the moved range), to learn after
  // it which entries went where.
  std::vector<uint32_t> before;
  for (const CFsRun& run : runs) {
    for (uint64_t i = 0; i < run.m_nCount; ++i) {
      const uint64_t at = run.m_nVcn + i;
      if (at >= vcn + count) break;
      before.push_back(at >= vcn ? static_cast<uint32_t>(run.m_nLcn + i + 2) : 0u);
    }
  }
  err = MoveChain(node, vcn, lcn, count, true);
  if (err == ERROR_SUCCESS && !m_group.empty()) err = CommitGroup();
  // Whatever the outcome, the chain as it now stands says where they are.
  FoldIds(before, first);
  return err;
}

DWORD CFatVolume::MoveChain(CFsNode* node, uint64_t vcn, uint64_t lcn, uint64_t count,
                            bool folder) {
  if (node->m_bDirectory && !folder) return MoveFolderClusters(node, vcn, lcn, count);
  if (m_pDevice->IsReadOnly()) return ERROR_WRITE_PROTECT;
  const uint64_t total = TotalClusters();
  if (count == 0 || lcn >= total || count > total - lcn) return ERROR_INVALID_PARAMETER;
  // An empty file has no clusters to move.
  if (node->m_nRef == 0) return ERROR_INVALID_PARAMETER;
  if (node->m_nRef > UINT32_MAX) return ERROR_FILE_CORRUPT;
  const uint64_t before = node->m_nRef;
  uint8_t entry[kFatDirEntrySize] = {};
  // A folder's entry was checked by MoveFolderClusters (the FAT32 root has none).
  DWORD err = folder ? ERROR_SUCCESS : ReadDirEntry(*node, entry, false);
  if (err != ERROR_SUCCESS) return err;
  std::vector<CFsRun> runs;
  err = m_table.ReadChain(static_cast<uint32_t>(node->m_nRef), &runs);
  if (err != ERROR_SUCCESS) return err;
  const uint64_t length = runs.back().m_nVcn + runs.back().m_nCount;
  if (vcn >= length || count > length - vcn) return ERROR_INVALID_PARAMETER;
  for (const auto& held : m_deferredFrees) {
    if (held.first >= lcn + 2 && held.first - 2 - lcn < count) {
      // The target is what the group lets go of: free once it is committed.
      err = CommitGroup();
      if (err != ERROR_SUCCESS) return err;
      break;
    }
  }
  // The file's own clusters are not free either, so a target that overlaps
  // the file is refused here too.
  for (uint64_t i = 0; i < count; ++i) {
    if (m_table.Get(static_cast<uint32_t>(lcn + 2 + i)) != 0) return ERROR_ACCESS_DENIED;
  }

  // The moved clusters as runs (VCN counted from `vcn`), the cluster before
  // them and the entry that ends them.
  std::vector<CFsRun> moved;
  uint32_t previous = 0;
  for (const CFsRun& run : runs) {
    uint64_t begin = std::max(run.m_nVcn, vcn);
    uint64_t end = std::min(run.m_nVcn + run.m_nCount, vcn + count);
    if (begin < end)
      moved.push_back(CFsRun{begin - vcn, run.m_nLcn + (begin - run.m_nVcn), end - begin});
    if (vcn > 0 && run.m_nVcn < vcn && vcn - 1 < run.m_nVcn + run.m_nCount) {
      previous = static_cast<uint32_t>(run.m_nLcn + (vcn - 1 - run.m_nVcn) + 2);
    }
  }
  const uint32_t lastOld = static_cast<uint32_t>(moved.back().m_nLcn + moved.back().m_nCount + 1);
  const uint32_t after = m_table.Get(lastOld);
  const uint32_t first = static_cast<uint32_t>(lcn + 2);

  std::vector<std::pair<uint32_t, uint32_t>> chain;
  chain.reserve(static_cast<size_t>(count));
  for (uint64_t i = 0; i < count; ++i) {
    chain.emplace_back(static_cast<uint32_t>(first + i),
                       i + 1 < count ? static_cast<uint32_t>(first + i + 1) : after);
  }
  // Only free clusters are written here; a failure leaves the volume as
  // the group had it.
  err = CopyData(moved, lcn);
  if (err != ERROR_SUCCESS) return err;
  m_pHeld->HoldFor(CHeldWriteDevice::kChains);
  err = m_table.WriteEntries(chain);
  m_pHeld->HoldFor(CHeldWriteDevice::kSwitch);
  if (err == ERROR_SUCCESS) {
    if (vcn == 0) {
      PutLe16(entry + kEntryClusterLow, static_cast<uint16_t>(first));
      if (m_layout.m_eType == EFatType::kFat32) {
        PutLe16(entry + kEntryClusterHigh, static_cast<uint16_t>(first >> 16));
      }
      err = m_pDevice->Write(node->m_nId, entry, kFatDirEntrySize);
    } else {
      err = m_table.WriteEntry(previous, first);
    }
  }
  m_pHeld->HoldFor(CHeldWriteDevice::kDirect);
  if (err != ERROR_SUCCESS) {
    AbandonGroup();
    uint8_t now[kFatDirEntrySize];
    if (!folder && m_pDevice->Read(node->m_nId, now, sizeof(now)) == ERROR_SUCCESS) {
      node->m_nRef = EntryCluster(now, m_layout.m_eType);
    }
    return err;
  }
  if (vcn == 0) {
    m_restoredFirst.erase(node->m_nId);
    node->m_nRef = first;
  }
  for (const CFsRun& run : moved) {
    for (uint64_t i = 0; i < run.m_nCount; ++i) {
      m_deferredFrees.emplace_back(static_cast<uint32_t>(run.m_nLcn + i + 2), 0);
    }
  }
  m_group.push_back(CGroupMove{std::move(moved), lcn, node->m_nId,
                               vcn == 0 ? static_cast<uint32_t>(before) : 0u, first});
  m_nGroupBytes += count * BytesPerCluster();
  // A folder's moved clusters carry entries to new offsets: its listing
  // (and its subfolders' ids) are read again.
  if (folder) {
    AfterMetadataChange();
  } else {
    AfterFileMoved(node->m_nId, vcn == 0 ? first : 0);
  }
  if (m_layout.m_eType == EFatType::kFat12 || m_group.size() >= kGroupMoves ||
      m_nGroupBytes >= kGroupBytes) {
    err = CommitGroup();
    if (err != ERROR_SUCCESS && !folder) {
      uint8_t now[kFatDirEntrySize];
      if (m_pDevice->Read(node->m_nId, now, sizeof(now)) == ERROR_SUCCESS) {
        node->m_nRef = EntryCluster(now, m_layout.m_eType);
      }
    }
  }
  return err;
}

}  // namespace vt
