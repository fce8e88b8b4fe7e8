// A FAT12/16/32 file system on a block device.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "ondisk/fat_boot.h"
#include "platform/image/block_device.h"
#include "platform/image/copy_check.h"
#include "platform/image/fat_table.h"
#include "platform/image/fs_volume.h"
#include "platform/image/held_writes.h"
#include "platform/image/move_intent.h"

namespace vt {

class CFatVolume : public CFsVolume {
 public:
  // Checks the boot sector, that the device holds the whole cluster heap,
  // and loads the FAT.
  static DWORD Open(std::unique_ptr<CBlockDevice> device, std::unique_ptr<CFsVolume>* volume,
                    std::string* message);
  // Marks the volume clean again if moves marked it dirty.
  ~CFatVolume() override;

  const char* FileSystemName() const override;
  std::string Label() const override { return m_strLabel; }
  DWORD Serial() const override { return m_layout.m_bHasSerial ? m_layout.m_nSerial : 0; }
  DWORD BytesPerSector() const override { return m_layout.m_nBytesPerSector; }
  DWORD SectorsPerCluster() const override { return m_layout.m_nSectorsPerCluster; }
  uint64_t TotalClusters() const override { return m_layout.m_nClusterCount; }
  uint64_t FreeClusters() override;
  uint64_t VolumeBytes() const override;
  uint64_t LcnOffset(uint64_t lcn) const override {
    return m_layout.DataOffset() + lcn * m_layout.BytesPerCluster();
  }

  CFsNode Root() const override;
  DWORD ListFolder(const CFsNode& folder, CFsListing* entries) override;
  DWORD GetRuns(const CFsNode& node, std::vector<CFsRun>* runs) override;
  DWORD GetBitmap(uint64_t firstLcn, uint64_t count, uint8_t* bits) override;
  DWORD ReadRaw(uint64_t offset, void* buffer, size_t size) override;
  DWORD MoveClusters(CFsNode* node, uint64_t vcn, uint64_t lcn, uint64_t count) override;
  void EndWrites() override;
  // The moves gathered so far are stored and settled as at the end: the
  // frees and the clean marks flushed, the intent record gone.
  DWORD CommitMoves() override;
  // fat_check.cpp.
  DWORD CheckAllocation(CAllocationCheck* result) override;
  // The check, and when every chain could be followed, which item owns
  // each cluster (0: none).
  DWORD WalkAllocation(CAllocationCheck* result, std::vector<uint32_t>* owners);

  const CFatLayout& Layout() const { return m_layout; }
  const CFatTable& Table() const { return m_table; }
  // The FSInfo sector of FAT32, when it carries valid signatures.
  bool HasFsInfo() const { return m_bFsInfo; }
  // Whether the volume was marked dirty (boot sector flag or the FAT's
  // clean-shutdown bit) when it was opened; moves then leave the marks alone.
  bool WasDirtyAtOpen() const { return m_bWasDirty; }

 private:
  CFatVolume() = default;
  DWORD ReadFolder(const CFsNode& folder, std::vector<CFsNode>* nodes, std::string* label,
                   std::string* problem = nullptr);
  // fat_check.cpp: what fsck.fat rejects beyond the chains.
  std::string CheckMarks();
  std::string CheckFolderEntries(const CFsNode& folder, const CFsNode& parent,
                                 const std::vector<CFsNode>& nodes);
  // Each cluster belongs to the first file or folder whose chain was read
  // through it: a second entry reaching the same clusters (a folder that
  // contains itself, two entries sharing a chain) is refused, so no walk
  // sees a cluster twice and every walk ends within the volume's size.
  DWORD Claim(const CFsNode& node, const std::vector<CFsRun>& runs);
  bool ClaimedByOther(const CFsNode& node) const;
  // fat_move.cpp.
  DWORD MoveChain(CFsNode* node, uint64_t vcn, uint64_t lcn, uint64_t count, bool folder = false);
  // A folder's clusters after its first, committed as a group of their own.
  DWORD MoveFolderClusters(CFsNode* node, uint64_t vcn, uint64_t lcn, uint64_t count);
  // After a folder move: the ids in the clusters `before` named (by VCN, 0
  // for those not moved) follow them to where the chain from `first` now
  // has them, in the maps here and in m_idShifts for the handles.
  void FoldIds(const std::vector<uint32_t>& before, uint32_t first);
  // fat_move.cpp: the parts of a move.
  // The entry of a handle's file (or folder), checked to still describe it.
  DWORD ReadDirEntry(const CFsNode& node, uint8_t entry[32], bool folder);
  DWORD MarkDirty();
  DWORD MarkClean();
  DWORD SetBootDirtyFlag(bool dirty);
  DWORD Flush();
  // Copies the moved runs (VCN counted from the move's start) to the free
  // clusters from targetLcn.
  DWORD CopyData(const std::vector<CFsRun>& source, uint64_t targetLcn);
  void AfterMetadataChange();
  // After a move of one file's clusters: its entry names `newFirst` now
  // (0: its first cluster stayed); nothing else in any folder changed.
  void AfterFileMoved(uint64_t entryId, uint32_t newFirst);
  // Frees the clusters moves left behind once their relink is stored.
  DWORD WriteDeferredFrees();
  // Stores the group of moves gathered so far (fat_move.cpp says how).
  DWORD CommitGroup();
  DWORD VerifyGroup();
  void AbandonGroup();
  void SettleFrees();
  // fat_recover.cpp: finishes the group an intent record names.
  DWORD RecoverInterrupted(const CIntentRecord& record);

  std::unique_ptr<CBlockDevice> m_pDevice;
  CHeldWriteDevice* m_pHeld = nullptr;  // m_pDevice, which holds a group's metadata writes
  CFatLayout m_layout;
  CFatTable m_table;
  std::string m_strLabel;
  bool m_bFsInfo = false;
  bool m_bFreeKnown = false;
  // Boot sector byte whose bit 0 says "dirty" (0: no extended boot record).
  uint32_t m_nDirtyFlagOffset = 0;
  bool m_bWasDirty = false;
  bool m_bMarkedDirty = false;  // by our moves, to be cleared by EndWrites
  bool m_bUnflushed = false;    // writes not yet pushed to stable storage
  // The old clusters of the last move: still marked in use until a flush
  // has stored the relink that let go of them.
  std::vector<std::pair<uint32_t, uint32_t>> m_deferredFrees;
  // The moves of the group not yet committed: their sources (VCN counted
  // from the move's start) and where they went.
  struct CGroupMove {
    std::vector<CFsRun> m_source;
    uint64_t m_nTargetLcn;
    uint64_t m_nEntryId;   // the file's folder entry
    uint32_t m_nOldFirst;  // its first cluster before the move, when the move changed it
    uint32_t m_nNewFirst;
  };
  std::vector<CGroupMove> m_group;
  uint64_t m_nGroupBytes = 0;
  CGroupRecords m_records;  // the groups' intent records
  CMoveBuffers m_buffers;   // what the copies and their read-back go through
  // First clusters given back to files (by entry id) when a group was
  // abandoned: the nodes their handles hold still name the new ones.
  std::unordered_map<uint64_t, uint32_t> m_restoredFirst;
  // The node as the volume now has it.
  CFsNode Current(const CFsNode& node) const;
  uint64_t m_nFree = 0;
  std::vector<uint8_t> m_claimed;                       // one bit per cluster
  std::unordered_map<uint32_t, uint64_t> m_firstOwner;  // first cluster -> entry id
  // Recently listed folders by first cluster, newest last.
  std::vector<std::pair<uint64_t, CFsListing>> m_folderCache;
};

}  // namespace vt
