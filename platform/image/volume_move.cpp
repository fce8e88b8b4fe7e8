// FSCTL_MOVE_FILE in the image volume set: the checks every file system
// shares (buffer, handles, read-only mounts, the allocation check), then the file system's own
// move, then every open handle of the moved file learns where it now starts.
#include <cstring>

#include "platform/image/volume_set_impl.h"

namespace vt {

bool CImageVolumeSet::Impl::HasVolumeHandle(const CMountedVolume* volume) const {
  for (const auto& entry : m_handles) {
    if (entry.second->m_eKind == CHandleObject::kVolume &&
        entry.second->m_pVolume.get() == volume) {
      return true;
    }
  }
  return false;
}

DWORD CImageVolumeSet::Impl::EnsureChecked(CMountedVolume& volume) {
  if (volume.m_bChecked) return ERROR_SUCCESS;
  DWORD err = volume.m_pFs->CheckAllocation(&volume.m_check);
  if (err == ERROR_SUCCESS) volume.m_bChecked = true;
  return err;
}

DWORD CImageVolumeSet::Impl::MoveFile(CMountedVolume& volume, const void* in, DWORD inSize) {
  if (!in || inSize < sizeof(MOVE_FILE_DATA)) return ERROR_INVALID_PARAMETER;
  MOVE_FILE_DATA move;
  std::memcpy(&move, in, sizeof(move));
  if (move.ClusterCount == 0 || move.StartingVcn.QuadPart < 0 || move.StartingLcn.QuadPart < 0) {
    return ERROR_INVALID_PARAMETER;
  }
  CHandleObject* file = Find(move.FileHandle);
  // A search handle is no kernel handle on Windows either.
  if (!file || file->m_eKind == CHandleObject::kFind) return ERROR_INVALID_HANDLE;
  // The volume itself, or a file of another volume, cannot be moved here.
  if (file->m_eKind != CHandleObject::kItem || file->m_pVolume.get() != &volume) {
    return ERROR_INVALID_PARAMETER;
  }
  if (volume.m_bReadOnly) return ERROR_WRITE_PROTECT;
  if (volume.m_bReadAccess) return ERROR_ACCESS_DENIED;
  // Nothing is written to a volume whose allocation does not add up.
  DWORD checked = EnsureChecked(volume);
  if (checked != ERROR_SUCCESS) return checked;
  if (!volume.m_check.IsConsistent()) return ERROR_DISK_CORRUPT;
  CFsNode node = file->m_node;
  DWORD err = volume.m_pFs->MoveClusters(&node, static_cast<uint64_t>(move.StartingVcn.QuadPart),
                                         static_cast<uint64_t>(move.StartingLcn.QuadPart),
                                         move.ClusterCount);
  // Handles find their file by its entry: where a folder's clusters moved,
  // the entries in them did too, and a handle left on the old offset would
  // steer the next move of its file into a freed cluster.
  const std::vector<CFsIdShift> shifts = volume.m_pFs->TakeIdShifts();
  if (!shifts.empty()) {
    for (auto& entry : m_handles) {
      CHandleObject& other = *entry.second;
      if (other.m_eKind == CHandleObject::kItem && other.m_pVolume.get() == &volume &&
          !other.m_node.m_bRoot)
        other.m_node.m_nId = ShiftedId(shifts, other.m_node.m_nId);
    }
    if (!node.m_bRoot) node.m_nId = ShiftedId(shifts, node.m_nId);
    volume.m_lastFolders.clear();
  }
  // Also after a failure: a move that broke off may still have moved the
  // file's start.
  if (node.m_nRef != file->m_node.m_nRef) {
    for (auto& entry : m_handles) {
      CHandleObject& other = *entry.second;
      if (other.m_eKind == CHandleObject::kItem && other.m_pVolume.get() == &volume &&
          other.m_node.m_nId == node.m_nId) {
        other.m_node.m_nRef = node.m_nRef;
      }
    }
  }
  return err;
}

}  // namespace vt
