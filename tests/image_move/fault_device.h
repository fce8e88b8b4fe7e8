// A block device that wraps another and misbehaves on cue: a write that
// fails, a power cut after which no write reaches the storage, or reads of
// a range that come back altered.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/image/block_device.h"

namespace vt {
namespace test {

struct CFaultPlan {
  enum EMode { kNone, kFailAt, kCrashAfter };
  EMode m_eMode = kNone;
  // kFailAt: write number m_nAt (1-based) fails and changes nothing.
  // kCrashAfter: writes after the first m_nAt are dropped while reporting
  // success, as if power was lost after write m_nAt.
  uint64_t m_nAt = 0;
  uint64_t m_nWrites = 0;   // writes asked for
  uint64_t m_nFlushes = 0;  // flushes asked for
  // Reads that overlap [m_nBadFrom, m_nBadTo) get one byte flipped.
  uint64_t m_nBadFrom = 0;
  uint64_t m_nBadTo = 0;
  // Every write that reached the storage, with the number of flushes before
  // it: storage may put the writes between two flushes in any order.
  struct CWrite {
    uint64_t m_nOffset;
    std::vector<uint8_t> m_data;
    uint64_t m_nEpoch;
  };
  std::vector<CWrite> m_log;
};

class CFaultBlockDevice : public CBlockDevice {
 public:
  CFaultBlockDevice(std::unique_ptr<CBlockDevice> inner, std::shared_ptr<CFaultPlan> plan)
      : m_pInner(std::move(inner)), m_pPlan(std::move(plan)) {}

  uint64_t Size() const override { return m_pInner->Size(); }
  bool IsReadOnly() const override { return m_pInner->IsReadOnly(); }
  DWORD Read(uint64_t offset, void* buffer, size_t size) override;
  DWORD Write(uint64_t offset, const void* buffer, size_t size) override;
  DWORD Flush() override;
  void DropCached(uint64_t offset, size_t size) override { m_pInner->DropCached(offset, size); }

 private:
  std::unique_ptr<CBlockDevice> m_pInner;
  std::shared_ptr<CFaultPlan> m_pPlan;
};

}  // namespace test
}  // namespace vt
