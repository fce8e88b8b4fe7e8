// The volume operations of the running Windows: straight pass-through.
#pragma once

#include "platform/volume_ops.h"

namespace vt {

class CWin32VolumeOps : public IVolumeOps {
 public:
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
  UINT SetErrorMode(UINT mode) override;
  DWORD GetTempPathA(DWORD size, char* buffer) override;
  DWORD GetFileAttributesA(const char* path) override;
  BOOL DeleteFileA(const char* path) override;
  // win32_media.cpp: storage property queries and the Storage Management
  // API's retrim.
  BOOL GetVolumeMediaA(const char* root, VOLUME_MEDIA_INFO* media) override;
  BOOL RetrimVolumeA(const char* root, ULONGLONG* trimmedBytes) override;
  DWORD GetLastError() override;
  void SetLastError(DWORD error) override;
};

}  // namespace vt
