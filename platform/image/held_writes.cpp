#include "platform/image/held_writes.h"

#include <algorithm>
#include <cstring>

namespace vt {

DWORD CHeldWriteDevice::Read(uint64_t offset, void* buffer, size_t size) {
  DWORD err = m_pInner->Read(offset, buffer, size);
  if (err != ERROR_SUCCESS) return err;
  auto* out = static_cast<uint8_t*>(buffer);
  // Later writes over earlier ones, as the storage will have them.
  for (const CHeld& held : m_held) {
    const uint64_t begin = std::max(offset, held.m_nOffset);
    const uint64_t end = std::min(offset + size, held.m_nOffset + held.m_data.size());
    if (begin >= end) continue;
    std::memcpy(out + (begin - offset), held.m_data.data() + (begin - held.m_nOffset),
                static_cast<size_t>(end - begin));
  }
  return ERROR_SUCCESS;
}

DWORD CHeldWriteDevice::Write(uint64_t offset, const void* buffer, size_t size) {
  if (m_eStage == kDirect) return m_pInner->Write(offset, buffer, size);
  if (IsReadOnly()) return ERROR_WRITE_PROTECT;
  if (!InRange(offset, size)) return ERROR_SECTOR_NOT_FOUND;
  const auto* in = static_cast<const uint8_t*>(buffer);
  m_held.push_back(CHeld{offset, std::vector<uint8_t>(in, in + size), m_eStage});
  return ERROR_SUCCESS;
}

DWORD CHeldWriteDevice::Release(EStage stage) {
  size_t kept = 0;
  DWORD result = ERROR_SUCCESS;
  for (size_t i = 0; i < m_held.size(); ++i) {
    CHeld& held = m_held[i];
    if (held.m_eStage == stage && result == ERROR_SUCCESS) {
      result = m_pInner->Write(held.m_nOffset, held.m_data.data(), held.m_data.size());
      if (result == ERROR_SUCCESS) continue;
    }
    if (kept != i) m_held[kept] = std::move(held);
    ++kept;
  }
  m_held.resize(kept);
  return result;
}

}  // namespace vt
