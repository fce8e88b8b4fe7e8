#include "platform/win32/win32_volume_ops.h"

namespace vt {

HANDLE CWin32VolumeOps::CreateFileA(const char* path, DWORD access, DWORD share, DWORD creation,
                                    DWORD flags) {
  return ::CreateFileA(path, access, share, nullptr, creation, flags, nullptr);
}

BOOL CWin32VolumeOps::CloseHandle(HANDLE h) { return ::CloseHandle(h); }

BOOL CWin32VolumeOps::DeviceIoControl(HANDLE h, DWORD code, const void* in, DWORD inSize, void* out,
                                      DWORD outSize, DWORD* returned) {
  DWORD dummy = 0;
  return ::DeviceIoControl(h, code, const_cast<void*>(in), inSize, out, outSize,
                           returned ? returned : &dummy, nullptr);
}

BOOL CWin32VolumeOps::ReadFile(HANDLE h, void* buffer, DWORD toRead, DWORD* read) {
  DWORD dummy = 0;
  return ::ReadFile(h, buffer, toRead, read ? read : &dummy, nullptr);
}

BOOL CWin32VolumeOps::SetFilePointerEx(HANDLE h, LARGE_INTEGER distance, LARGE_INTEGER* newPosition,
                                       DWORD method) {
  return ::SetFilePointerEx(h, distance, newPosition, method);
}

BOOL CWin32VolumeOps::GetFileSizeEx(HANDLE h, LARGE_INTEGER* size) {
  return ::GetFileSizeEx(h, size);
}

HANDLE CWin32VolumeOps::FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* data) {
  return ::FindFirstFileA(pattern, data);
}

BOOL CWin32VolumeOps::FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data) {
  return ::FindNextFileA(find, data);
}

BOOL CWin32VolumeOps::FindClose(HANDLE find) { return ::FindClose(find); }

BOOL CWin32VolumeOps::GetVolumeNameForVolumeMountPointA(const char* mountPoint, char* name,
                                                        DWORD nameSize) {
  return ::GetVolumeNameForVolumeMountPointA(mountPoint, name, nameSize);
}

BOOL CWin32VolumeOps::GetVolumeInformationA(const char* root, char* volumeName,
                                            DWORD volumeNameSize, DWORD* serial,
                                            DWORD* maxComponent, DWORD* fsFlags, char* fsName,
                                            DWORD fsNameSize) {
  return ::GetVolumeInformationA(root, volumeName, volumeNameSize, serial, maxComponent, fsFlags,
                                 fsName, fsNameSize);
}

BOOL CWin32VolumeOps::GetDiskFreeSpaceA(const char* root, DWORD* sectorsPerCluster,
                                        DWORD* bytesPerSector, DWORD* freeClusters,
                                        DWORD* totalClusters) {
  return ::GetDiskFreeSpaceA(root, sectorsPerCluster, bytesPerSector, freeClusters, totalClusters);
}

BOOL CWin32VolumeOps::GetDiskFreeSpaceExA(const char* root, ULARGE_INTEGER* freeToCaller,
                                          ULARGE_INTEGER* total, ULARGE_INTEGER* totalFree) {
  return ::GetDiskFreeSpaceExA(root, freeToCaller, total, totalFree);
}

DWORD CWin32VolumeOps::GetLogicalDrives() { return ::GetLogicalDrives(); }

UINT CWin32VolumeOps::GetDriveTypeA(const char* root) { return ::GetDriveTypeA(root); }

UINT CWin32VolumeOps::SetErrorMode(UINT mode) { return ::SetErrorMode(mode); }

DWORD CWin32VolumeOps::GetTempPathA(DWORD size, char* buffer) {
  return ::GetTempPathA(size, buffer);
}

DWORD CWin32VolumeOps::GetFileAttributesA(const char* path) { return ::GetFileAttributesA(path); }

BOOL CWin32VolumeOps::DeleteFileA(const char* path) { return ::DeleteFileA(path); }

DWORD CWin32VolumeOps::GetLastError() { return ::GetLastError(); }

void CWin32VolumeOps::SetLastError(DWORD error) { ::SetLastError(error); }

}  // namespace vt
