// Moving the clusters of a FAT file (FSCTL_MOVE_FILE), ordered so that a
// crash at any write leaves a volume that fsck.fat accepts with every file's
// content intact; the worst it finds is lost clusters and the dirty mark.
//
//   0. The first move since the volume was clean marks it dirty: the
//      clean-shutdown bit of FAT entry 1 (FAT16/32) and the boot sector
//      flag. EndWrites (last volume handle closed, unmount, destruction)
//      flushes and marks it clean again. A volume that was already dirty
//      when opened keeps its marks as they are.
//   1. Copy the clusters to the free target, and link the target clusters
//      into a chain of their own whose tail points where the moved range
//      went on (the rest of the file, or end of chain); flush. No file sees
//      either yet (the target is a lost chain), so one flush serves both.
//      Then read the target back from the storage, past any cache, and
//      compare: a difference takes the target chain back and fails the move
//      with ERROR_CRC, leaving the volume as it was.
//   2. Free the clusters the previous move left behind: the flush of step
//      1 has stored that move's relink.
//   3. Point the file at the target: the predecessor's entry, or the folder
//      entry (both halves on FAT32) when the first cluster moves. Now the
//      old clusters are a lost chain; they stay marked in use until a flush
//      has stored this relink: the next move's step 1, or SettleFrees
//      (before the volume bitmap or free count is read, before a move whose
//      target they are, and in EndWrites).
//
// So a move costs one flush, and the order holds on storage that reorders
// writes between flushes: a relink stored before its copy and chain would
// point at garbage or free clusters, and a free stored before its relink
// would take clusters from a live file; old clusters get new data only
// after they are free on storage. Each FAT update is written to the first
// copy, then to the next, so between the two each copy on its own describes
// a consistent volume (the state before or after).
//
// Folders are not moved: the first cluster of a folder is named by the ".."
// entries of its subfolders, as the Windows FAT driver also refuses it, and
// moving a folder's other clusters would move the entries that open handles
// find their files by here.
#include <algorithm>
#include <cstring>

#include "base/le.h"
#include "platform/image/fat_dir.h"
#include "platform/image/fat_volume.h"

namespace vt {

namespace {

// Data is copied in pieces of this size (whole clusters, at least one).
constexpr uint64_t kCopyChunkBytes = 4u << 20;

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

DWORD CFatVolume::WriteDeferredFrees() {
  if (m_deferredFrees.empty()) return ERROR_SUCCESS;
  m_bUnflushed = true;
  DWORD err = m_table.WriteEntries(m_deferredFrees);
  if (err != ERROR_SUCCESS) {
    // Whatever was not written stays a lost chain; the disk has the say.
    m_table.Load(m_pDevice.get(), m_layout, nullptr);
  }
  m_deferredFrees.clear();
  AfterMetadataChange();
  return err;
}

void CFatVolume::SettleFrees() {
  if (m_deferredFrees.empty()) return;
  if (m_pDevice->Flush() != ERROR_SUCCESS) return;  // still held: not known to be stored
  m_bUnflushed = false;
  WriteDeferredFrees();
}

void CFatVolume::EndWrites() {
  SettleFrees();
  if (m_bUnflushed) {
    // Nothing may say "clean" before the moves are on stable storage.
    if (m_pDevice->Flush() != ERROR_SUCCESS) return;
    m_bUnflushed = false;
  }
  if (!m_bMarkedDirty) return;
  m_bUnflushed = true;
  if (m_table.SetCleanBit(true) != ERROR_SUCCESS || SetBootDirtyFlag(false) != ERROR_SUCCESS) {
    return;  // still marked: the next EndWrites tries again
  }
  m_bMarkedDirty = false;
  if (m_pDevice->Flush() == ERROR_SUCCESS) m_bUnflushed = false;
}

DWORD CFatVolume::ReadDirEntry(const CFsNode& node, uint8_t entry[32]) {
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
      (attr & (kFatAttrVolume | kFatAttrDirectory)) != 0 ||
      EntryCluster(entry, m_layout.m_eType) != node.m_nRef) {
    return ERROR_FILE_INVALID;
  }
  return ERROR_SUCCESS;
}

DWORD CFatVolume::CopyAndVerify(const std::vector<CFsRun>& source, uint64_t targetLcn,
                                const std::vector<std::pair<uint32_t, uint32_t>>& chain,
                                bool* chainWritten) {
  // The target is contiguous, so each piece of it is one large write,
  // gathered from however many source runs fill it.
  struct Piece {
    uint64_t to;
    size_t bytes;
    std::vector<std::pair<uint64_t, size_t>> from;  // source offset, bytes
  };
  const uint64_t clusterBytes = BytesPerCluster();
  const uint64_t chunkClusters = std::max<uint64_t>(1, kCopyChunkBytes / clusterBytes);
  std::vector<Piece> pieces;
  for (const CFsRun& run : source) {
    for (uint64_t done = 0; done < run.m_nCount;) {
      if (pieces.empty() || pieces.back().bytes == chunkClusters * clusterBytes) {
        pieces.push_back(Piece{LcnOffset(targetLcn + run.m_nVcn + done), 0, {}});
      }
      Piece& piece = pieces.back();
      uint64_t room = chunkClusters - piece.bytes / clusterBytes;
      uint64_t n = std::min(room, run.m_nCount - done);
      piece.from.emplace_back(LcnOffset(run.m_nLcn + done), static_cast<size_t>(n * clusterBytes));
      piece.bytes += static_cast<size_t>(n * clusterBytes);
      done += n;
    }
  }
  std::vector<uint8_t> data;
  std::vector<uint8_t> check;
  auto gather = [&](const Piece& p) -> DWORD {
    data.resize(p.bytes);
    size_t at = 0;
    for (const auto& from : p.from) {
      DWORD err = m_pDevice->Read(from.first, data.data() + at, from.second);
      if (err != ERROR_SUCCESS) return err;
      at += from.second;
    }
    return ERROR_SUCCESS;
  };
  for (const Piece& p : pieces) {
    DWORD err = gather(p);
    if (err != ERROR_SUCCESS) return err;
    m_bUnflushed = true;
    err = m_pDevice->Write(p.to, data.data(), p.bytes);
    if (err != ERROR_SUCCESS) return err;
  }
  *chainWritten = true;
  DWORD err = m_table.WriteEntries(chain);
  if (err == ERROR_SUCCESS) err = m_pDevice->Flush();
  if (err != ERROR_SUCCESS) return err;
  m_bUnflushed = false;
  for (const Piece& p : pieces) {
    // One piece is still in the buffer; more are read again from the source.
    if (pieces.size() > 1) {
      err = gather(p);
      if (err != ERROR_SUCCESS) return err;
    }
    m_pDevice->DropCached(p.to, p.bytes);
    check.resize(p.bytes);
    err = m_pDevice->Read(p.to, check.data(), p.bytes);
    if (err != ERROR_SUCCESS) return err;
    if (std::memcmp(data.data(), check.data(), p.bytes) != 0) return ERROR_CRC;
  }
  return ERROR_SUCCESS;
}

void CFatVolume::AfterMetadataChange() {
  m_folderCache.clear();
  FoldersChanged();
  m_bFreeKnown = false;
}

DWORD CFatVolume::MoveChain(CFsNode* node, uint64_t vcn, uint64_t lcn, uint64_t count) {
  if (node->m_bDirectory) {
    return (node->m_bRoot || vcn == 0) ? ERROR_INVALID_PARAMETER : ERROR_ACCESS_DENIED;
  }
  if (m_pDevice->IsReadOnly()) return ERROR_WRITE_PROTECT;
  const uint64_t total = TotalClusters();
  if (count == 0 || lcn >= total || count > total - lcn) return ERROR_INVALID_PARAMETER;
  // An empty file has no clusters to move.
  if (node->m_nRef == 0) return ERROR_INVALID_PARAMETER;
  if (node->m_nRef > UINT32_MAX) return ERROR_FILE_CORRUPT;
  uint8_t entry[kFatDirEntrySize];
  DWORD err = ReadDirEntry(*node, entry);
  if (err != ERROR_SUCCESS) return err;
  std::vector<CFsRun> runs;
  err = m_table.ReadChain(static_cast<uint32_t>(node->m_nRef), &runs);
  if (err != ERROR_SUCCESS) return err;
  const uint64_t length = runs.back().m_nVcn + runs.back().m_nCount;
  if (vcn >= length || count > length - vcn) return ERROR_INVALID_PARAMETER;
  for (const auto& held : m_deferredFrees) {
    if (held.first >= lcn + 2 && held.first - 2 - lcn < count) {
      SettleFrees();
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
  bool chainWritten = false;
  err = MarkDirty();
  if (err == ERROR_SUCCESS) err = CopyAndVerify(moved, lcn, chain, &chainWritten);
  if (err != ERROR_SUCCESS && chainWritten && m_table.Get(first) != 0) {
    // The copy did not read back as written: take the target back, so the
    // volume is as it was (if this too fails, the target is only lost).
    for (auto& entry : chain) entry.second = 0;
    m_bUnflushed = true;
    if (m_table.WriteEntries(chain) == ERROR_SUCCESS) {
      AfterMetadataChange();
      return err;
    }
  }
  if (err != ERROR_SUCCESS && !chainWritten) return err;  // only free clusters were written
  if (err == ERROR_SUCCESS) err = WriteDeferredFrees();
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
    m_bUnflushed = true;
  }
  if (err == ERROR_SUCCESS) {
    if (vcn == 0) node->m_nRef = first;
    for (const CFsRun& run : moved) {
      for (uint64_t i = 0; i < run.m_nCount; ++i) {
        m_deferredFrees.emplace_back(static_cast<uint32_t>(run.m_nLcn + i + 2), 0);
      }
    }
  }
  AfterMetadataChange();
  if (err != ERROR_SUCCESS) {
    // The table in memory may be ahead of the disk: take the disk's word,
    // and the file's first cluster from its entry as it now stands.
    m_table.Load(m_pDevice.get(), m_layout, nullptr);
    uint8_t now[kFatDirEntrySize];
    if (m_pDevice->Read(node->m_nId, now, sizeof(now)) == ERROR_SUCCESS) {
      node->m_nRef = EntryCluster(now, m_layout.m_eType);
    }
  }
  return err;
}

}  // namespace vt
