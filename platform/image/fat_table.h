// The file allocation table: reads the copy in use, follows cluster chains
// with loop and range checks, and writes entries to every copy in use.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "ondisk/fat_boot.h"
#include "platform/image/block_device.h"
#include "platform/image/fs_types.h"

namespace vt {

enum class EFatEntry { kFree, kNext, kEnd, kBad, kInvalid };

class CFatTable {
 public:
  // Reads the entries of every cluster from the FAT copy in use.
  DWORD Load(CBlockDevice* device, const CFatLayout& layout, std::string* message);

  // Raw entry of a cluster (0 .. cluster count + 1), FAT32 without its top
  // four reserved bits. Out-of-range clusters read as invalid values.
  uint32_t Get(uint32_t cluster) const;
  EFatEntry Classify(uint32_t value) const;
  EFatEntry Kind(uint32_t cluster) const { return Classify(Get(cluster)); }
  uint32_t MaxCluster() const { return m_layout.m_nClusterCount + 1; }
  uint32_t EndOfChainValue() const;
  uint32_t BadClusterValue() const;

  // Follows the chain that starts at `first` and appends its runs (LCN =
  // cluster - 2). ERROR_FILE_CORRUPT for a first cluster out of range, a
  // link to a free, bad, reserved or out-of-range cluster, a loop, or a
  // chain longer than `maxClusters`.
  DWORD ReadChain(uint32_t first, std::vector<CFsRun>* runs,
                  uint64_t maxClusters = UINT64_MAX) const;

  uint64_t CountFree() const;
  // Sets bit i of `bits` for each cluster first + i (i < count) whose entry
  // is not free; other bits are left alone.
  void UsedBits(uint32_t first, uint64_t count, uint8_t* bits) const;

  // Sets one entry in memory and in every FAT copy in use (all of them
  // unless FAT32 mirroring is off). FAT32 keeps the entry's top four bits.
  DWORD WriteEntry(uint32_t cluster, uint32_t value);
  // Sets several entries (cluster, value) in memory, then writes the bytes
  // they touched to the first copy in use, then to the next: every copy
  // holds either the old or the new entries until its turn comes. Entries
  // that share or touch bytes go out in one write, so no FAT12 entry is
  // ever half written.
  DWORD WriteEntries(const std::vector<std::pair<uint32_t, uint32_t>>& entries);

  // The clean-shutdown bit of entry 1 (FAT16 bit 15, FAT32 bit 27); FAT12
  // has none.
  bool HasCleanBit() const { return m_layout.m_eType != EFatType::kFat12; }
  bool IsCleanBitSet() const;
  DWORD SetCleanBit(bool clean);

 private:
  // Puts `value` into the in-memory entry of `cluster`; returns the byte
  // range of the table it changed.
  void Store(uint32_t cluster, uint32_t value, size_t* offset, size_t* length);
  DWORD WriteSpans(const std::vector<std::pair<size_t, size_t>>& spans);

  CBlockDevice* m_pDevice = nullptr;
  CFatLayout m_layout;
  std::vector<uint8_t> m_fat;  // the entries of clusters 0 .. MaxCluster()
};

}  // namespace vt
