// Volume images answering the volume operations as Windows answers them for
// real drives: a set of drive letters, each backed by a FAT12/16/32 image
// file or unmounted block device.
//
// Paths on a mounted letter ("V:\Data\a.txt", "\\.\V:", the volume name
// returned by GetVolumeNameForVolumeMountPointA) are answered from the image;
// any other path is a host path (temporary folder, cache files) and goes to
// the host's own files for GetTempPathA, GetFileAttributesA and DeleteFileA.
#pragma once

#include <memory>
#include <string>

#include "platform/volume_ops.h"

namespace vt {

class CBlockDevice;
struct CAllocationCheck;

class CImageVolumeSet : public IVolumeOps {
 public:
  CImageVolumeSet();
  ~CImageVolumeSet() override;
  CImageVolumeSet(const CImageVolumeSet&) = delete;
  CImageVolumeSet& operator=(const CImageVolumeSet&) = delete;

  // Maps a drive letter (A to Z) to an image file or block device. Returns
  // ERROR_SUCCESS, or a Windows error code with a one-line reason in *message
  // (file missing, not a recognised file system, damaged boot sector, letter
  // taken, the host has the volume mounted, another process writes to it
  // ...). A read-only mount reports FILE_READ_ONLY_VOLUME and refuses every
  // change. A writable mount holds the image's write lock until unmounted.
  DWORD Mount(char letter, const std::string& imagePath, bool readOnly,
              std::string* message = nullptr);
  // Mounts an image or device for analysis only: opened for reading, with
  // no write lock and no refusal of a volume the host has mounted; the
  // volume does not report itself read-only, but every move is refused with
  // ERROR_ACCESS_DENIED.
  DWORD MountForReading(char letter, const std::string& imagePath, std::string* message = nullptr);
  // The allocation check that guards the first write to a volume, run once
  // per mount (ERROR_INVALID_DRIVE for a letter not mounted). While it finds
  // a problem, every move on the volume fails with ERROR_DISK_CORRUPT.
  DWORD CheckAllocation(char letter, CAllocationCheck* result);
  // Lets that check take the records an analysis asks for next (NTFS), for
  // a caller that checks right after the analysis, with nothing written in
  // between: the MFT is then read once for both.
  void CheckAlongReads(char letter);
  // Mounts every "L=path" of a "V=path;W=path" list (VANTREL_VOLUMES).
  DWORD MountList(const std::string& list, bool readOnly, std::string* message = nullptr);
  // Mounts a device that is already open (an image held in memory, for
  // tests and fuzzing). `identity` keeps the volume name stable and
  // `displayName` (default: the identity) names it in messages.
  DWORD MountDevice(char letter, std::unique_ptr<CBlockDevice> device, const std::string& identity,
                    bool readOnly, std::string* message = nullptr,
                    const std::string& displayName = std::string());
  bool IsMounted(char letter) const;
  void Unmount(char letter);

  HANDLE CreateFileA(const char* path, DWORD access, DWORD share, DWORD creation,
                     DWORD flags) override;
  BOOL CloseHandle(HANDLE h) override;
  BOOL DeviceIoControl(HANDLE h, DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                       DWORD* returned) override;
  BOOL ReadFile(HANDLE h, void* buffer, DWORD toRead, DWORD* read) override;
  BOOL SetFilePointerEx(HANDLE h, LARGE_INTEGER distance, LARGE_INTEGER* newPosition,
                        DWORD method) override;
  BOOL GetFileSizeEx(HANDLE h, LARGE_INTEGER* size) override;
  HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* data) override;
  BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data) override;
  BOOL FindClose(HANDLE find) override;
  BOOL GetVolumeNameForVolumeMountPointA(const char* mountPoint, char* name,
                                         DWORD nameSize) override;
  BOOL GetVolumeInformationA(const char* root, char* volumeName, DWORD volumeNameSize,
                             DWORD* serial, DWORD* maxComponent, DWORD* fsFlags, char* fsName,
                             DWORD fsNameSize) override;
  BOOL GetDiskFreeSpaceA(const char* root, DWORD* sectorsPerCluster, DWORD* bytesPerSector,
                         DWORD* freeClusters, DWORD* totalClusters) override;
  BOOL GetDiskFreeSpaceExA(const char* root, ULARGE_INTEGER* freeToCaller, ULARGE_INTEGER* total,
                           ULARGE_INTEGER* totalFree) override;
  DWORD GetLogicalDrives() override;
  UINT GetDriveTypeA(const char* root) override;
  DWORD GetTempPathA(DWORD size, char* buffer) override;
  DWORD GetFileAttributesA(const char* path) override;
  BOOL DeleteFileA(const char* path) override;
  // The media under the volume's image or device (image_retrim.cpp), and
  // retrim: the free clusters of the bitmap given back, refused as a move
  // is (read-only mounts, a volume that fails the allocation check).
  BOOL GetVolumeMediaA(const char* root, VOLUME_MEDIA_INFO* media) override;
  BOOL RetrimVolumeA(const char* root, ULONGLONG* trimmedBytes) override;
  DWORD GetLastError() override;
  void SetLastError(DWORD error) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace vt
