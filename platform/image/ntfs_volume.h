// An NTFS file system on a block device, answering the volume operations as
// Windows answers them for an NTFS drive.
//
// Choices where an image has no Windows to ask:
// * The MFT zone reported by FSCTL_GET_NTFS_VOLUME_DATA starts right after
//   the MFT's last cluster and covers an eighth (12.5%) of the volume, cut
//   at the volume's end, as Windows reserves it by default. TotalReserved is
//   0: nothing is held back for pending allocations in an image.
// * FSCTL_GET_NTFS_FILE_RECORD takes the record number from the low 48 bits
//   of the file reference. A record the MFT bitmap marks free is answered
//   with the nearest lower record in use (as Windows does), and the reply's
//   FileReferenceNumber is the number of the record returned, without a
//   sequence number. A number at or past the MFT's end is
//   ERROR_INVALID_PARAMETER; a record that fails its update sequence or
//   header checks is ERROR_FILE_CORRUPT.
// * Folder listings come from the index entries (their copy of the size,
//   times and attributes, as Windows lists them); opening a file reads its
//   record, so the handle has the size of its $DATA and the attributes of
//   its standard information. The metafiles (records below 16) are not
//   listed but open by name.
// * Retrieval pointers of a folder are those of its $I30 index allocation;
//   a folder whose index fits in its record, like a file whose data does,
//   has none (ERROR_HANDLE_EOF).
// * Writes (FSCTL_MOVE_FILE) are made only to a clean volume: $Volume's
//   dirty flag clear and $LogFile either empty or its restart area saying
//   the volume was shut down cleanly. Any other volume mounts as usual and
//   reads normally, but the allocation check before the first move names
//   the reason and every move fails (ERROR_WRITE_PROTECT if asked anyway),
//   so a volume Windows hibernated or did not shut down is never changed
//   behind its log. The check also walks every folder's index: a corrupt
//   index block hides the files below it. See ntfs_move.cpp for the moves.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ondisk/ntfs_boot.h"
#include "platform/image/block_device.h"
#include "platform/image/copy_check.h"
#include "platform/image/fs_volume.h"
#include "platform/image/held_writes.h"
#include "platform/image/move_intent.h"
#include "platform/image/ntfs_index.h"
#include "platform/image/ntfs_mft.h"
#include "platform/image/stretch_queue.h"

namespace vt {

namespace ntfs {
class CFileRecords;
}

class CNtfsVolume : public CFsVolume {
 public:
  // Checks the boot sector, that the device holds the whole volume, and
  // loads the MFT's run list and bitmap, the volume bitmap's place (and its
  // free count) and the label.
  static DWORD Open(std::unique_ptr<CBlockDevice> device, std::unique_ptr<CFsVolume>* volume,
                    std::string* message);

  const char* FileSystemName() const override { return "NTFS"; }
  std::string Label() const override { return m_strLabel; }
  DWORD Serial() const override { return static_cast<DWORD>(m_geometry.m_nSerial); }
  DWORD BytesPerSector() const override { return m_geometry.m_nBytesPerSector; }
  DWORD SectorsPerCluster() const override { return m_geometry.m_nSectorsPerCluster; }
  uint64_t TotalClusters() const override { return m_geometry.TotalClusters(); }
  uint64_t FreeClusters() override { return m_nFreeClusters; }
  uint64_t VolumeBytes() const override { return m_geometry.VolumeBytes(); }
  uint64_t LcnOffset(uint64_t lcn) const override { return m_geometry.LcnOffset(lcn); }
  DWORD FileSystemFlags() const override;

  CFsNode Root() const override { return m_root; }
  DWORD ListFolder(const CFsNode& folder, CFsListing* entries) override;
  DWORD FindChild(const CFsNode& folder, const std::string& name, CFsNode* child) override;
  DWORD GetRuns(const CFsNode& node, std::vector<CFsRun>* runs) override;
  DWORD GetBitmap(uint64_t firstLcn, uint64_t count, uint8_t* bits) override;
  DWORD ReadRaw(uint64_t offset, void* buffer, size_t size) override;
  DWORD ReadFileData(const CFsNode& node, uint64_t offset, void* buffer, size_t size) override;
  DWORD GetNtfsVolumeData(NTFS_VOLUME_DATA_BUFFER* data) override;
  DWORD GetNtfsFileRecord(const void* in, DWORD inSize, void* out, DWORD outSize,
                          DWORD* returned) override;
  DWORD MoveClusters(CFsNode* node, uint64_t vcn, uint64_t lcn, uint64_t count) override;
  // Stores the last move's freeing of its old clusters.
  void EndWrites() override;
  // ntfs_check.cpp.
  DWORD CheckAllocation(CAllocationCheck* result) override;
  // The check, and when it found nothing wrong the runs files own, sorted
  // (first, count).
  DWORD WalkAllocation(CAllocationCheck* result, std::vector<std::pair<uint64_t, uint64_t>>* owned);
  // The moves gathered so far are stored and settled as at the end: the
  // frees flushed, the intent record gone.
  DWORD CommitMoves() override;
  // ntfs_check.cpp: the pass over the records goes ahead of the reads on a
  // thread of its own where one can be had.
  void CheckAlongReads() override;
  ~CNtfsVolume() override {
    StopPassAhead();
    EndWrites();
  }

  // Whether moves may write, and why not ("" when they may).
  bool IsWritable() const { return m_strUnclean.empty(); }
  const std::string& UncleanReason() const { return m_strUnclean; }

  const ntfs::CNtfsGeometry& Geometry() const { return m_geometry; }
  const ntfs::CMft& Mft() const { return m_mft; }

 private:
  // A folder as read from its index: what listings show, and the metafiles
  // they hide (found by name only).
  struct CFolder {
    CFsListing m_visible;
    std::vector<CFsNode> m_hidden;
  };

  CNtfsVolume() = default;
  DWORD ReadFolder(const CFsNode& folder, CFolder* out);
  // Walks the $I30 index of a folder in key order, every index block
  // checked (ntfs_index.h). With `whole`, the index allocation is first read
  // in one piece into it where it can be (a pass over every folder then
  // makes one read a folder, not one a block).
  DWORD WalkFolder(const ntfs::CFileRecords& dir, const ntfs::CIndexVisitor& visit,
                   CAlignedBytes* whole = nullptr);
  DWORD LoadFolder(const CFsNode& folder, std::shared_ptr<const CFolder>* out);
  // The node of a file as its own records describe it.
  DWORD NodeFromRecords(uint64_t reference, CFsNode* node);
  // The stream whose clusters a node's retrieval pointers show: $DATA, or
  // the $I30 allocation of a folder.
  DWORD MainStream(const CFsNode& node, ntfs::CStream* stream, bool* found);
  DWORD CountFree(std::string* message);
  // Sets m_strUnclean from $Volume's flags and $LogFile (ntfs_move.cpp).
  void JudgeClean();
  // Sets the $Bitmap bits of clusters [lcn, lcn + count).
  DWORD MarkUsed(uint64_t lcn, uint64_t count);
  // Clears the $Bitmap bits of the runs' clusters.
  DWORD FreeRuns(std::vector<ntfs::CRun> runs);
  // Whether clusters [lcn, lcn + count) are all free.
  DWORD AllFree(uint64_t lcn, uint64_t count, bool* free);
  DWORD CopyClusters(const std::vector<ntfs::CRun>& from, uint64_t lcn);
  // ntfs_move.cpp: stores the moves gathered so far (it says how).
  DWORD CommitGroup();
  DWORD VerifyGroup();
  void AbandonGroup();
  // ntfs_move.cpp: frees what the group an intent record names left.
  DWORD RecoverInterrupted(const CIntentRecord& record);

  // Room for a run list that outgrows its record (ntfs_grow.cpp): moves the
  // second half of the non-resident segment `a`, held by record `index` of
  // `file`, into a new extension record, without moving any data. Clusters
  // it takes for the attribute list keep clear of the free run that holds
  // or touches [avoidLcn, avoidLcn + avoidCount). A file without an
  // attribute list gets one in its base record. ERROR_DISK_FULL when the
  // segment has a single run, or no free record or room (for the list in
  // the base record, or for its clusters) is left; nothing is written then.
  DWORD SplitSegment(const ntfs::CFileRecords& file, size_t index, const ntfs::CAttribute& a,
                     uint64_t avoidLcn, uint64_t avoidCount);
  // Its three steps: read and decide (nothing written), edit the base record
  // in memory, write in a safe order.
  struct CSplitPlan;
  DWORD PlanSplit(const ntfs::CFileRecords& file, size_t index, const ntfs::CAttribute& a,
                  uint64_t avoidLcn, uint64_t avoidCount, CSplitPlan* plan);
  DWORD EditSplitBase(const ntfs::CAttribute& a, CSplitPlan* plan);
  DWORD CommitSplit(const CSplitPlan& plan);
  // A record the MFT bitmap and the record itself show free, in one piece,
  // not among `taken`, with the sequence number it is to be used with.
  DWORD FindFreeRecord(const std::vector<uint64_t>& taken, uint64_t* number, uint16_t* sequence);
  // Writes a bit of the MFT's bitmap.
  DWORD SetRecordInUse(uint64_t number, bool inUse);
  // The smallest free run of at least `count` clusters away from the free
  // run around [avoidLcn, avoidLcn + avoidCount).
  DWORD FindRoom(uint64_t count, uint64_t avoidLcn, uint64_t avoidCount, uint64_t* lcn);
  // Writes a record whose update sequence is prepared.
  DWORD WriteRecord(uint64_t number, const std::vector<uint8_t>& bytes);

  // The allocation check's pass over the records in use (ntfs_check.cpp).
  // An analysis asks for each of them in turn through GetNtfsFileRecord;
  // after CheckAlongReads the pass goes ahead of it on a thread of its own
  // and hands each stretch of the MFT it has read and checked over to the
  // MFT's reader (or, without a thread, each record is checked as it is
  // served), so that a check right after the analysis reads the MFT no
  // second time, and goes on from where the pass stopped.
  struct COwnedRun {
    uint64_t lcn, count, record;
  };
  struct CRecordPass {
    uint64_t m_nNext = 0;      // every record in use below it has been checked
    std::string m_strProblem;  // the first problem in record order
    std::vector<COwnedRun> m_owned;
    std::vector<uint64_t> m_folders;
    // The records of the first folders, one after the other, so that their
    // indexes are found without reading them again.
    std::vector<uint8_t> m_folderRecords;
    // Per folder, whether its index has been walked (CFolderState).
    std::vector<uint8_t> m_folderStates;
    std::vector<ntfs::CRun> m_runs;  // one attribute's, reused
  };
  enum CFolderState : uint8_t {
    kFolderKept,     // to be walked, its record kept in m_folderRecords
    kFolderReread,   // to be walked, its record read again
    kFolderWalked,   // walked whole
    kFolderDamaged,  // its record or index is damaged
  };
  // Checks record `number` (in use in the MFT bitmap), as ReadRecordInto
  // gave it with `readResult`; false once the pass has found a problem.
  bool PassRecord(uint64_t number, const uint8_t* bytes, DWORD readResult);
  // The thread of the pass ahead: reads the MFT a stretch at a time, checks
  // the records in use of each and hands the stretch to the MFT's reader
  // for the analysis to be served from; then walks the folders' indexes.
  void PassAhead();
  // Walks the indexes of the folders whose records the pass kept, taking
  // them one at a time, with whichever other thread does the same. A
  // folder whose record has an attribute list is left: its other records
  // are read through the MFT's reader after the pass.
  void WalkKeptFolders();
  // Waits for the pass ahead to end, walking folders beside it
  // (StopPassAhead: makes it end first, walking no more).
  void JoinPassAhead();
  void StopPassAhead();
  // Whether the MFT bitmap marks no record of [from, to) in use.
  bool NoneInUse(uint64_t from, uint64_t to) const;

  std::unique_ptr<CBlockDevice> m_pDevice;
  CHeldWriteDevice* m_pHeld = nullptr;  // m_pDevice, which holds a group's metadata writes
  // The moves of the group not yet committed: (source, target, count).
  struct CGroupCopy {
    uint64_t m_nFrom, m_nTo, m_nCount;
  };
  std::vector<CGroupCopy> m_group;
  uint64_t m_nGroupBytes = 0;
  std::vector<ntfs::CRun> m_groupFrees;  // still marked in use until the commit
  CGroupRecords m_records;               // the groups' intent records
  CMoveBuffers m_buffers;                // what the copies and their read-back go through
  ntfs::CNtfsGeometry m_geometry;
  ntfs::CMft m_mft;
  ntfs::CStream m_bitmap;  // $Bitmap's data
  uint64_t m_nFreeClusters = 0;
  std::string m_strLabel;
  std::string m_strUnclean;   // why writes are refused; "" for a clean volume
  bool m_bUnflushed = false;  // written since the last flush
  CFsNode m_root;
  CRecordPass m_pass;
  bool m_bCheckAlong = false;  // records served are checked (until CheckAllocation)
  // While it runs, the pass ahead alone touches m_pass.
  std::unique_ptr<CStretchQueue> m_pAhead;
  std::thread m_ahead;
  std::atomic<bool> m_bStopAhead{false};
  std::atomic<size_t> m_nFolderClaim{0};  // the next kept folder to walk
  bool m_bChecked = false;
  // Recently listed folders by record number, newest last.
  std::vector<std::pair<uint64_t, std::shared_ptr<const CFolder>>> m_folderCache;
};

}  // namespace vt
