// The volume and file operations the engine asks of the system.
//
// Every call keeps the Windows contract: a success flag (or handle) plus a
// per-thread last-error code, the published buffer layouts, and the same
// partial-reply rules (ERROR_MORE_DATA, ERROR_INVALID_PARAMETER past the end
// of the bitmap). The Win32 backend passes straight through to the system;
// the image backend answers over volume images.
#pragma once

#include "base/winshapes.h"

#ifndef ERROR_OLD_WIN_VERSION
#define ERROR_OLD_WIN_VERSION 1150L
#endif

namespace vt {

// What the storage under a volume is, as far as the system can tell.
enum VolumeSeekPenalty : int {
  SEEK_PENALTY_UNKNOWN = 0,
  SEEK_PENALTY_YES = 1,  // a spinning disk
  SEEK_PENALTY_NO = 2,   // solid state
};

struct VOLUME_MEDIA_INFO {
  int SeekPenalty;     // VolumeSeekPenalty
  BOOL TrimSupported;  // the storage takes trim (discard) requests
};

class IVolumeOps {
 public:
  virtual ~IVolumeOps() = default;

  // Files, folders and volumes.
  virtual HANDLE CreateFileA(const char* path, DWORD access, DWORD share, DWORD creation,
                             DWORD flags) = 0;
  virtual BOOL CloseHandle(HANDLE h) = 0;
  virtual BOOL DeviceIoControl(HANDLE h, DWORD code, const void* in, DWORD inSize, void* out,
                               DWORD outSize, DWORD* returned) = 0;
  virtual BOOL ReadFile(HANDLE h, void* buffer, DWORD toRead, DWORD* read) = 0;
  virtual BOOL SetFilePointerEx(HANDLE h, LARGE_INTEGER distance, LARGE_INTEGER* newPosition,
                                DWORD method) = 0;
  virtual BOOL GetFileSizeEx(HANDLE h, LARGE_INTEGER* size) = 0;

  // Folder enumeration.
  virtual HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* data) = 0;
  virtual BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data) = 0;
  virtual BOOL FindClose(HANDLE find) = 0;

  // Volumes and drives.
  virtual BOOL GetVolumeNameForVolumeMountPointA(const char* mountPoint, char* name,
                                                 DWORD nameSize) = 0;
  virtual BOOL GetVolumeInformationA(const char* root, char* volumeName, DWORD volumeNameSize,
                                     DWORD* serial, DWORD* maxComponent, DWORD* fsFlags,
                                     char* fsName, DWORD fsNameSize) = 0;
  virtual BOOL GetDiskFreeSpaceA(const char* root, DWORD* sectorsPerCluster, DWORD* bytesPerSector,
                                 DWORD* freeClusters, DWORD* totalClusters) = 0;
  virtual BOOL GetDiskFreeSpaceExA(const char* root, ULARGE_INTEGER* freeToCaller,
                                   ULARGE_INTEGER* total, ULARGE_INTEGER* totalFree) = 0;
  virtual DWORD GetLogicalDrives() = 0;
  virtual UINT GetDriveTypeA(const char* root) = 0;

  // Plain files of the host (analysis cache and friends).
  virtual DWORD GetTempPathA(DWORD size, char* buffer) = 0;
  virtual DWORD GetFileAttributesA(const char* path) = 0;
  virtual BOOL DeleteFileA(const char* path) = 0;

  // The media under a volume root ("C:\\"): seek penalty and trim support.
  // A backend that cannot tell answers unknown and no trim.
  virtual BOOL GetVolumeMediaA(const char* root, VOLUME_MEDIA_INFO* media) {
    (void)root;
    media->SeekPenalty = SEEK_PENALTY_UNKNOWN;
    media->TrimSupported = FALSE;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
  }
  // Tells the storage that every free cluster of the volume is unused (a
  // retrim); *trimmedBytes is how much free space was handed over. Fails
  // with ERROR_OLD_WIN_VERSION where the system has no retrim,
  // ERROR_NOT_SUPPORTED where the storage takes no trim, ERROR_DISK_CORRUPT
  // for a volume whose allocation does not add up.
  virtual BOOL RetrimVolumeA(const char* root, ULONGLONG* trimmedBytes) {
    (void)root;
    *trimmedBytes = 0;
    SetLastError(ERROR_OLD_WIN_VERSION);
    return FALSE;
  }

  // The process's error mode (SetErrorMode): with SEM_FAILCRITICALERRORS a
  // drive without its medium fails the call instead of raising a system
  // box. Returns the mode before. A backend without such boxes keeps none.
  virtual UINT SetErrorMode(UINT mode) {
    (void)mode;
    return 0;
  }

  // The calling thread's last error.
  virtual DWORD GetLastError() = 0;
  virtual void SetLastError(DWORD error) = 0;
};

// Owns one handle of a volume-operations backend and closes it on scope exit.
class CHandle {
 public:
  CHandle() = default;
  CHandle(IVolumeOps* ops, HANDLE h) : m_ops(ops), m_h(h) {}
  CHandle(const CHandle&) = delete;
  CHandle& operator=(const CHandle&) = delete;
  CHandle(CHandle&& other) noexcept : m_ops(other.m_ops), m_h(other.Release()) {}
  CHandle& operator=(CHandle&& other) noexcept {
    if (this != &other) {
      Close();
      m_ops = other.m_ops;
      m_h = other.Release();
    }
    return *this;
  }
  ~CHandle() { Close(); }

  bool IsValid() const { return m_h != INVALID_HANDLE_VALUE && m_h != nullptr; }
  HANDLE Get() const { return m_h; }
  HANDLE Release() {
    HANDLE h = m_h;
    m_h = INVALID_HANDLE_VALUE;
    return h;
  }
  // Closes the handle; the last error of the backend is left untouched.
  void Close() {
    if (IsValid() && m_ops) {
      DWORD err = m_ops->GetLastError();
      m_ops->CloseHandle(m_h);
      m_ops->SetLastError(err);
    }
    m_h = INVALID_HANDLE_VALUE;
  }

 private:
  IVolumeOps* m_ops = nullptr;
  HANDLE m_h = INVALID_HANDLE_VALUE;
};

// Owns a find handle and ends the enumeration on scope exit.
class CFindHandle {
 public:
  CFindHandle(IVolumeOps* ops, HANDLE h) : m_ops(ops), m_h(h) {}
  CFindHandle(const CFindHandle&) = delete;
  CFindHandle& operator=(const CFindHandle&) = delete;
  ~CFindHandle() {
    if (IsValid()) {
      DWORD err = m_ops->GetLastError();
      m_ops->FindClose(m_h);
      m_ops->SetLastError(err);
    }
  }
  bool IsValid() const { return m_h != INVALID_HANDLE_VALUE && m_h != nullptr; }
  HANDLE Get() const { return m_h; }

 private:
  IVolumeOps* m_ops;
  HANDLE m_h;
};

}  // namespace vt
