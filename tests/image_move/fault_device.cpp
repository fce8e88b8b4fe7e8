#include "tests/image_move/fault_device.h"

namespace vt {
namespace test {

DWORD CFaultBlockDevice::Read(uint64_t offset, void* buffer, size_t size) {
  DWORD err = m_pInner->Read(offset, buffer, size);
  if (err == ERROR_SUCCESS && size > 0 && offset < m_pPlan->m_nBadTo &&
      offset + size > m_pPlan->m_nBadFrom) {
    uint64_t at = offset < m_pPlan->m_nBadFrom ? m_pPlan->m_nBadFrom - offset : 0;
    static_cast<uint8_t*>(buffer)[at] ^= 0x5A;
  }
  return err;
}

DWORD CFaultBlockDevice::Write(uint64_t offset, const void* buffer, size_t size) {
  uint64_t n = ++m_pPlan->m_nWrites;
  if (m_pPlan->m_eMode == CFaultPlan::kFailAt && n == m_pPlan->m_nAt) return ERROR_WRITE_FAULT;
  if (m_pPlan->m_eMode == CFaultPlan::kCrashAfter && n > m_pPlan->m_nAt) return ERROR_SUCCESS;
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  m_pPlan->m_log.push_back(
      CFaultPlan::CWrite{offset, std::vector<uint8_t>(bytes, bytes + size), m_pPlan->m_nFlushes});
  return m_pInner->Write(offset, buffer, size);
}

DWORD CFaultBlockDevice::Flush() {
  ++m_pPlan->m_nFlushes;
  if (m_pPlan->m_eMode == CFaultPlan::kCrashAfter && m_pPlan->m_nWrites > m_pPlan->m_nAt) {
    return ERROR_SUCCESS;
  }
  return m_pInner->Flush();
}

}  // namespace test
}  // namespace vt
