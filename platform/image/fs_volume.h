// One mounted file system as the volume set sees it: geometry, folder
// listings, the runs of a file, the allocation bitmap and raw reads. FAT is
// implemented now; NTFS plugs in beside it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/image/block_device.h"
#include "platform/image/fs_types.h"

namespace vt {

using CFsListing = std::shared_ptr<const std::vector<CFsNode>>;

// Node ids from m_nFrom up to m_nFrom + m_nBytes now read m_nTo + (id -
// m_nFrom): a move carried the folder entries they are the offsets of.
struct CFsIdShift {
  uint64_t m_nFrom = 0;
  uint64_t m_nBytes = 0;
  uint64_t m_nTo = 0;
};

// The id `id` reads after the shifts (which never overlap).
inline uint64_t ShiftedId(const std::vector<CFsIdShift>& shifts, uint64_t id) {
  for (const CFsIdShift& s : shifts)
    if (id >= s.m_nFrom && id - s.m_nFrom < s.m_nBytes) return s.m_nTo + (id - s.m_nFrom);
  return id;
}

// What the allocation check before the first write found.
struct CAllocationCheck {
  // The first problem that makes writing unsafe, one line; empty when the
  // allocation is consistent.
  std::string m_strProblem;
  // Clusters marked in use that no file owns: what an interrupted move
  // leaves behind. They are harmless and the file system's checker frees them.
  uint64_t m_nLostClusters = 0;
  bool IsConsistent() const { return m_strProblem.empty(); }
};

class CFsVolume {
 public:
  virtual ~CFsVolume() = default;

  // Changes whenever a folder may have moved or changed: folder nodes found
  // before are stale once it differs.
  uint64_t FolderGeneration() const { return m_nFolderGeneration; }

  // "FAT", "FAT32", "NTFS": the name GetVolumeInformationA reports.
  virtual const char* FileSystemName() const = 0;
  virtual std::string Label() const = 0;
  virtual DWORD Serial() const = 0;
  virtual DWORD BytesPerSector() const = 0;
  virtual DWORD SectorsPerCluster() const = 0;
  virtual uint64_t TotalClusters() const = 0;
  virtual uint64_t FreeClusters() = 0;
  // Bytes a raw volume read can reach.
  virtual uint64_t VolumeBytes() const = 0;
  // Byte offset on the volume of a logical cluster.
  virtual uint64_t LcnOffset(uint64_t lcn) const = 0;
  uint64_t BytesPerCluster() const {
    return static_cast<uint64_t>(BytesPerSector()) * SectorsPerCluster();
  }

  virtual CFsNode Root() const = 0;
  // Every entry of a folder in on-disk order, "." and ".." included where
  // the folder has them. Bounded, and an error code for a damaged folder.
  virtual DWORD ListFolder(const CFsNode& folder, CFsListing* entries) = 0;
  // The child of a folder whose long or short name matches (ANSI, case
  // insensitive); ERROR_FILE_NOT_FOUND when there is none.
  virtual DWORD FindChild(const CFsNode& folder, const std::string& name, CFsNode* child);
  // The clusters of a file or folder in file order, adjacent clusters merged.
  virtual DWORD GetRuns(const CFsNode& node, std::vector<CFsRun>* runs) = 0;
  // Sets bit i of `bits` (zeroed by the caller) when cluster firstLcn + i is
  // in use; the range lies inside the volume.
  virtual DWORD GetBitmap(uint64_t firstLcn, uint64_t count, uint8_t* bits) = 0;
  virtual DWORD ReadRaw(uint64_t offset, void* buffer, size_t size) = 0;

  // The flags GetVolumeInformationA reports (without FILE_READ_ONLY_VOLUME,
  // which the volume set adds for read-only mounts).
  virtual DWORD FileSystemFlags() const { return FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK; }
  // Reads `size` bytes of a file's data from `offset` (the range lies inside
  // the file). File systems whose data is not plain runs of clusters
  // (resident, sparse or compressed data) answer here; the default
  // ERROR_CALL_NOT_IMPLEMENTED lets the caller read through GetRuns.
  virtual DWORD ReadFileData(const CFsNode& node, uint64_t offset, void* buffer, size_t size) {
    (void)node, (void)offset, (void)buffer, (void)size;
    return ERROR_CALL_NOT_IMPLEMENTED;
  }

  // The NTFS controls; other file systems refuse them as Windows does.
  virtual DWORD GetNtfsVolumeData(NTFS_VOLUME_DATA_BUFFER* data) {
    (void)data;
    return ERROR_INVALID_PARAMETER;
  }
  // FSCTL_GET_NTFS_FILE_RECORD with the control's own buffers.
  virtual DWORD GetNtfsFileRecord(const void* in, DWORD inSize, void* out, DWORD outSize,
                                  DWORD* returned) {
    (void)in, (void)inSize, (void)out, (void)outSize, (void)returned;
    return ERROR_INVALID_PARAMETER;
  }

  // FSCTL_MOVE_FILE for one file: moves `count` (> 0) clusters from virtual
  // cluster `vcn` to the free clusters from logical cluster `lcn`, with the
  // checks only the file system can make (what may move, the file's extent,
  // a free target). The volume set has already checked the handles, the
  // buffer, the count and read-only mounts. On success `node` is updated
  // where the move changed it (FAT: the first cluster), and the volume set
  // updates every open handle of the same file from it.
  virtual DWORD MoveClusters(CFsNode* node, uint64_t vcn, uint64_t lcn, uint64_t count) {
    (void)node, (void)vcn, (void)lcn, (void)count;
    return ERROR_INVALID_FUNCTION;
  }
  // Checks that the allocation is consistent enough to write to: every
  // cluster a file owns is marked in use and owned by that file alone (FAT
  // adds its chain, size and copy checks). A target that is free is then
  // owned by no file. ERROR_SUCCESS when the check ran, whatever it found;
  // an error code only when the volume could not be read for it.
  virtual DWORD CheckAllocation(CAllocationCheck* result) {
    *result = CAllocationCheck();
    return ERROR_SUCCESS;
  }
  // Lets CheckAllocation take what reads of the volume have already seen
  // (NTFS: the records of a pass over the MFT).
  virtual void CheckAlongReads() {}
  // The last volume handle was closed or the volume is being unmounted:
  // finish what moves left open (FAT: mark the volume clean again).
  virtual void EndWrites() {}
  // Stores the moves gathered so far (the volume bitmap is about to be read
  // from the volume set's side); the error of a group that could not be
  // stored, which then changed only free clusters or is finished by the
  // next open.
  virtual DWORD CommitMoves() { return ERROR_SUCCESS; }
  // The id shifts of the moves since the last call (FAT: a folder's
  // clusters moved with the entries in them), for the handles to follow;
  // also after a failed move, which may have moved some.
  std::vector<CFsIdShift> TakeIdShifts() { return std::move(m_idShifts); }

 protected:
  void FoldersChanged() { ++m_nFolderGeneration; }
  std::vector<CFsIdShift> m_idShifts;

 private:
  uint64_t m_nFolderGeneration = 0;
};

// Recognises the file system on a device and opens it. ERROR_SUCCESS, or a
// Windows error code with a one-line reason.
DWORD OpenFsVolume(std::unique_ptr<CBlockDevice> device, std::unique_ptr<CFsVolume>* volume,
                   std::string* message);

}  // namespace vt
