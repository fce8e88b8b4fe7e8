#include "platform/image/block_device.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vt {

const char kInUseByVantrel[] = "The volume is in use by another Vantrel process.";

std::string NotAVolumeMessage(const std::string& path) {
  return "'" + path + "' is neither an image file nor a block device";
}

CMemoryBlockDevice::CMemoryBlockDevice(std::vector<uint8_t> data, bool readOnly)
    : m_data(std::move(data)), m_nSize(m_data.size()), m_bReadOnly(readOnly) {}

CMemoryBlockDevice::CMemoryBlockDevice(std::vector<uint8_t> data, uint64_t logicalSize,
                                       bool readOnly)
    : m_data(std::move(data)), m_nSize(logicalSize), m_bReadOnly(readOnly) {
  if (m_data.size() > m_nSize) m_data.resize(static_cast<size_t>(m_nSize));
}

DWORD CMemoryBlockDevice::Read(uint64_t offset, void* buffer, size_t size) {
  if (!InRange(offset, size)) return ERROR_SECTOR_NOT_FOUND;
  auto* out = static_cast<uint8_t*>(buffer);
  size_t stored = 0;
  if (offset < m_data.size()) {
    stored = std::min<size_t>(size, m_data.size() - static_cast<size_t>(offset));
    std::memcpy(out, m_data.data() + offset, stored);
  }
  std::memset(out + stored, 0, size - stored);
  return ERROR_SUCCESS;
}

DWORD CMemoryBlockDevice::Write(uint64_t offset, const void* buffer, size_t size) {
  if (m_bReadOnly) return ERROR_WRITE_PROTECT;
  if (!InRange(offset, size)) return ERROR_SECTOR_NOT_FOUND;
  if (size == 0) return ERROR_SUCCESS;
  if (offset + size > m_data.size()) m_data.resize(static_cast<size_t>(offset + size));
  std::memcpy(m_data.data() + offset, buffer, size);
  return ERROR_SUCCESS;
}

}  // namespace vt
