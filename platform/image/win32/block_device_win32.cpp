#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/image/block_device.h"
#include "platform/image/host_mounts.h"

namespace vt {

CFileBlockDevice::~CFileBlockDevice() {
  if (m_hFile != INVALID_HANDLE_VALUE) ::CloseHandle(m_hFile);
}

DWORD CFileBlockDevice::Open(const std::string& path, bool readOnly,
                             std::unique_ptr<CBlockDevice>* device, std::string* message) {
  std::unique_ptr<CFileBlockDevice> dev(new CFileBlockDevice());
  DWORD access = GENERIC_READ | (readOnly ? 0 : GENERIC_WRITE);
  // One writer at a time: a writer denies others the right to write, and
  // the system drops that with the handle, also when the process is killed.
  DWORD share = readOnly ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ;
  dev->m_hFile = ::CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (dev->m_hFile == INVALID_HANDLE_VALUE) {
    DWORD err = ::GetLastError();
    if (err == ERROR_SHARING_VIOLATION && !readOnly) {
      if (message) *message = kInUseByVantrel;
      return err;
    }
    if (message) *message = "cannot open image '" + path + "'";
    return err ? err : ERROR_FILE_NOT_FOUND;
  }
  // A pipe or a console would wait for its other end.
  if (::GetFileType(dev->m_hFile) != FILE_TYPE_DISK) {
    if (message) *message = NotAVolumeMessage(path);
    return ERROR_ACCESS_DENIED;
  }
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(dev->m_hFile, &size)) {
    DWORD err = ::GetLastError();
    if (message) *message = "cannot read the size of '" + path + "'";
    return err ? err : ERROR_READ_FAULT;
  }
  dev->m_nSize = static_cast<uint64_t>(size.QuadPart);
  dev->m_bReadOnly = readOnly;
  dev->m_strPath = path;
  // \\.\X: and \\.\PhysicalDriveN name devices, not files.
  dev->m_bBlock = path.rfind("\\\\.\\", 0) == 0;
  *device = std::move(dev);
  return ERROR_SUCCESS;
}

DWORD CFileBlockDevice::Read(uint64_t offset, void* buffer, size_t size) {
  if (!InRange(offset, size)) return ERROR_SECTOR_NOT_FOUND;
  auto* out = static_cast<uint8_t*>(buffer);
  while (size > 0) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
    OVERLAPPED ov = {};
    ov.Offset = static_cast<DWORD>(offset);
    ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    if (!::ReadFile(m_hFile, out, chunk, &got, &ov)) return ERROR_READ_FAULT;
    if (got == 0) return ERROR_SECTOR_NOT_FOUND;
    out += got;
    offset += got;
    size -= got;
  }
  return ERROR_SUCCESS;
}

DWORD CFileBlockDevice::Write(uint64_t offset, const void* buffer, size_t size) {
  if (m_bReadOnly) return ERROR_WRITE_PROTECT;
  if (!InRange(offset, size)) return ERROR_SECTOR_NOT_FOUND;
  const auto* in = static_cast<const uint8_t*>(buffer);
  while (size > 0) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
    OVERLAPPED ov = {};
    ov.Offset = static_cast<DWORD>(offset);
    ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD put = 0;
    if (!::WriteFile(m_hFile, in, chunk, &put, &ov) || put == 0) return ERROR_WRITE_FAULT;
    in += put;
    offset += put;
    size -= put;
  }
  return ERROR_SUCCESS;
}

DWORD CFileBlockDevice::Flush() {
  if (m_bReadOnly) return ERROR_SUCCESS;
  return ::FlushFileBuffers(m_hFile) ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

void CFileBlockDevice::DropCached(uint64_t offset, size_t size) { (void)offset, (void)size; }

// Read back through the cache here (the caller's way after DropCached).
DWORD CFileBlockDevice::ReadStored(uint64_t offset, void* buffer, size_t size) {
  (void)offset, (void)buffer, (void)size;
  return ERROR_NOT_SUPPORTED;
}

}  // namespace vt
