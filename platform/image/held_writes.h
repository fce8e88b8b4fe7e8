// A block device that can hold metadata writes back: while a group of moves
// is being gathered, the writes that would switch files to their new
// clusters stay in memory, and every read sees them over the storage, so
// the volume answers as if they were made. The group's commit then puts
// them on the storage in the order they were made, one stage at a time.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "platform/image/block_device.h"

namespace vt {

class CHeldWriteDevice : public CBlockDevice {
 public:
  // Stages the group's commit stores in turn, each followed by a flush.
  enum EStage { kDirect = 0, kChains = 1, kSwitch = 2 };

  explicit CHeldWriteDevice(std::unique_ptr<CBlockDevice> inner) : m_pInner(std::move(inner)) {}

  // Writes from now on are held for `stage`; kDirect writes straight through.
  void HoldFor(EStage stage) { m_eStage = stage; }
  bool HasHeld() const { return !m_held.empty(); }
  // Writes the held writes of one stage to the storage, in order, and
  // forgets them; the first failure stops it (what is left stays held).
  DWORD Release(EStage stage);
  // Forgets every held write: the storage keeps what it had.
  void DropHeld() {
    m_held.clear();
    m_byOffset.clear();
    m_nLongest = 0;
  }

  uint64_t Size() const override { return m_pInner->Size(); }
  bool IsReadOnly() const override { return m_pInner->IsReadOnly(); }
  DWORD Read(uint64_t offset, void* buffer, size_t size) override;
  DWORD Write(uint64_t offset, const void* buffer, size_t size) override;
  DWORD Flush() override { return m_pInner->Flush(); }
  void DropCached(uint64_t offset, size_t size) override { m_pInner->DropCached(offset, size); }
  // The storage's bytes, so only where no held write lies over the range.
  DWORD ReadStored(uint64_t offset, void* buffer, size_t size) override;
  VOLUME_MEDIA_INFO QueryMedia() const override { return m_pInner->QueryMedia(); }
  uint64_t DiscardUnit() const override { return m_pInner->DiscardUnit(); }
  DWORD Discard(uint64_t offset, uint64_t size) override { return m_pInner->Discard(offset, size); }
  std::string StatePath() const override { return m_pInner->StatePath(); }

 private:
  struct CHeld {
    uint64_t m_nOffset;
    std::vector<uint8_t> m_data;
    EStage m_eStage;
  };
  // Indexes the held writes by where they start, for reads: most read
  // nothing that is held, and a group holds thousands of writes.
  void IndexHeld();

  std::unique_ptr<CBlockDevice> m_pInner;
  std::vector<CHeld> m_held;
  std::multimap<uint64_t, size_t> m_byOffset;  // start -> index in m_held
  uint64_t m_nLongest = 0;                     // the longest held write
  EStage m_eStage = kDirect;
};

}  // namespace vt
