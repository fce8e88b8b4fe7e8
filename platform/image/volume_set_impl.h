// Inside the image volume set: mounted volumes and the handle table.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/image/fs_volume.h"
#include "platform/image/image_path.h"
#include "platform/image/volume_set.h"

namespace vt {

// Access rights beyond those of the shared Windows header.
constexpr DWORD kAccessReadEa = 0x0008;
constexpr DWORD kAccessWriteEa = 0x0010;
constexpr DWORD kAccessWriteAttributes = 0x0100;
constexpr DWORD kAccessDelete = 0x00010000;
constexpr DWORD kAccessReadControl = 0x00020000;
constexpr DWORD kAccessSynchronize = 0x00100000;
constexpr DWORD kAccessGenericExecute = 0x20000000;
constexpr DWORD kAccessGenericAll = 0x10000000;
constexpr DWORD kErrorFilenameTooLong = 206;  // ERROR_FILENAME_EXCED_RANGE

struct CMountedVolume {
  char m_cLetter = 0;
  std::string m_strImage;
  std::string m_strVolumeId;  // "Volume{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}"
  bool m_bReadOnly = false;
  bool m_bMounted = true;
  // Opened for analysis only: the image could be written, but this mount
  // never does.
  bool m_bReadAccess = false;
  // The allocation check, run once before the first write.
  bool m_bChecked = false;
  CAllocationCheck m_check;
  std::unique_ptr<CFsVolume> m_pFs;
  CBlockDevice* m_pDevice = nullptr;  // the storage m_pFs reads, owned by it
  // The folders the last path resolved went through, from the root down
  // (name as written, upper-cased; node), valid while the file system's
  // folder generation is m_nPathGeneration. Opening every file of a deep
  // tree then walks only what differs from the file before.
  std::vector<std::pair<std::string, CFsNode>> m_lastFolders;
  uint64_t m_nPathGeneration = 0;
};

struct CHandleObject {
  enum EKind { kVolume, kItem, kFind };
  EKind m_eKind = kItem;
  std::shared_ptr<CMountedVolume> m_pVolume;
  CFsNode m_node;        // kItem
  DWORD m_dwAccess = 0;  // generic rights mapped to specific ones
  DWORD m_dwShare = 0;
  uint64_t m_nPosition = 0;      // kVolume, kItem
  std::vector<CFsNode> m_found;  // kFind: the matches, in order
  size_t m_nNext = 0;
};

struct CImageVolumeSet::Impl {
  std::mutex m_mutex;
  std::shared_ptr<CMountedVolume> m_letters[26];
  std::map<uintptr_t, std::unique_ptr<CHandleObject>> m_handles;
  uintptr_t m_nNextHandle = 0x1000;

  std::shared_ptr<CMountedVolume> ByLetter(char letter) const;
  // The mounted volume a parsed path names (by letter or volume name).
  std::shared_ptr<CMountedVolume> VolumeOf(const CImagePath& path) const;
  // The volume a root path names: "V:\" (or "V:" where `bareLetter`), or
  // "\\?\Volume{...}\".
  DWORD RootVolume(const char* root, bool bareLetter,
                   std::shared_ptr<CMountedVolume>* volume) const;
  // Walks the components from the root; ERROR_PATH_NOT_FOUND for a missing
  // or non-folder intermediate, ERROR_FILE_NOT_FOUND for a missing last one.
  DWORD Resolve(CMountedVolume& volume, const std::vector<std::string>& components,
                CFsNode* node) const;
  HANDLE Add(std::unique_ptr<CHandleObject> object);
  CHandleObject* Find(HANDLE h) const;
  // ERROR_SHARING_VIOLATION when the open conflicts with a handle of the
  // same object.
  DWORD CheckSharing(const CMountedVolume* volume, bool isVolume, uint64_t id, DWORD access,
                     DWORD share) const;
  // FSCTL_MOVE_FILE issued on a handle of `volume` (volume_move.cpp).
  DWORD MoveFile(CMountedVolume& volume, const void* in, DWORD inSize);
  // Runs the allocation check of `volume` unless it has run.
  DWORD EnsureChecked(CMountedVolume& volume);
  // Adds a volume whose device is open (volume_set.cpp).
  DWORD AddVolume(char letter, std::unique_ptr<CBlockDevice> device, const std::string& identity,
                  bool readOnly, bool readAccess, std::string* message,
                  const std::string& displayName);
  // Whether `volume` still has an open volume handle.
  bool HasVolumeHandle(const CMountedVolume* volume) const;
};

DWORD MapGenericAccess(DWORD access);
// The executables are long-path aware: a path may be as long as Windows takes
// any path (32,767 characters), with or without \\?\. The limit also bounds
// every walk down a damaged image whose folders loop.
bool IsPathTooLong(const char* path);
void StoreLastError(DWORD error);

}  // namespace vt
