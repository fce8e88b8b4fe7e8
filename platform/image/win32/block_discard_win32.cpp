#include "platform/image/block_device.h"

namespace vt {

uint64_t CFileBlockDevice::DiscardUnit() const { return m_bReadOnly ? 0 : 4096; }

DWORD CFileBlockDevice::Discard(uint64_t offset, uint64_t size) {
  if (m_bReadOnly) return ERROR_WRITE_PROTECT;
  DWORD returned = 0;
  // Zeroed ranges of a sparse file are given back to the host volume.
  if (!m_bSparse) {
    if (!::DeviceIoControl(m_hFile, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr))
      return ERROR_NOT_SUPPORTED;
    m_bSparse = true;
  }
  FILE_ZERO_DATA_INFORMATION zero;
  zero.FileOffset.QuadPart = static_cast<LONGLONG>(offset);
  zero.BeyondFinalZero.QuadPart = static_cast<LONGLONG>(offset + size);
  if (!::DeviceIoControl(m_hFile, FSCTL_SET_ZERO_DATA, &zero, sizeof(zero), nullptr, 0, &returned,
                         nullptr)) {
    const DWORD err = ::GetLastError();
    return err == ERROR_INVALID_FUNCTION ? ERROR_NOT_SUPPORTED : err;
  }
  return ERROR_SUCCESS;
}

}  // namespace vt
