#include <cstdio>

#include "platform/image/volume_identity.h"

namespace vt {

CBackingIdentity BackingIdentity(const std::string& path) {
  CBackingIdentity id;
  HANDLE h = ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return id;
  BY_HANDLE_FILE_INFORMATION info;
  if (::GetFileInformationByHandle(h, &info)) {
    id.m_eKind = CBackingIdentity::kFile;
    id.m_nDevice = info.dwVolumeSerialNumber;
    id.m_nInode = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  }
  ::CloseHandle(h);
  return id;
}

CWriterLock::~CWriterLock() {}

DWORD CWriterLock::Take(const CBackingIdentity& identity, std::string* message) {
  (void)identity, (void)message;
  return ERROR_SUCCESS;
}

std::string WriterLockFolder() { return std::string(); }

}  // namespace vt
