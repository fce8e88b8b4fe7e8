// Hand-built FAT images in memory for precise test cases: a fixed geometry
// per FAT type, folders and files placed on chosen clusters, raw entries
// for damaged cases. The layout is written here independently of the
// reader under test.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/image/block_device.h"

namespace vt {
namespace test {

enum class EBuildType { kFat12, kFat16, kFat32 };

class CFatImageBuilder {
 public:
  explicit CFatImageBuilder(EBuildType type);

  uint32_t TotalClusters() const { return m_nClusters; }
  uint32_t ClusterBytes() const { return 512u * m_nSpc; }
  uint32_t RootCluster() const { return m_type == EBuildType::kFat32 ? 2 : 0; }
  uint64_t ClusterOffset(uint32_t cluster) const;
  uint64_t VolumeBytes() const { return static_cast<uint64_t>(m_nTotalSectors) * 512; }

  // FAT entries, written to both copies.
  void SetFat(uint32_t cluster, uint32_t value);
  uint32_t EndOfChain() const;
  uint32_t BadCluster() const;
  // Links the clusters in order and ends the chain.
  void Chain(const std::vector<uint32_t>& clusters);

  // Writes bytes at a volume offset (the image grows as needed).
  void Write(uint64_t offset, const void* data, size_t size);
  void Fill(uint64_t offset, uint8_t value, size_t size);
  std::vector<uint8_t>& Bytes() { return m_bytes; }

  // A raw 32-byte entry in the next free slot of a folder (0: the root).
  // Returns the entry's volume offset.
  uint64_t AddRawEntry(uint32_t folder, const uint8_t entry[32]);
  // An 8.3 entry; `name11` is the padded on-disk name ("README  TXT").
  uint64_t AddShortEntry(uint32_t folder, const std::string& name11, uint8_t attr,
                         uint32_t firstCluster, uint32_t size, uint8_t caseFlags = 0);
  // Long-name entries for `name`, checksummed against `name11` unless a
  // checksum is forced.
  void AddLongEntries(uint32_t folder, const std::u16string& name, const std::string& name11,
                      int forcedChecksum = -1);
  // A file with data on `clusters`, content from `data` (its size is the
  // file size), with a long name when `longName` is not empty.
  void AddFile(uint32_t folder, const std::u16string& longName, const std::string& name11,
               const std::vector<uint32_t>& clusters, const std::string& data, uint8_t attr = 0x20);
  // A folder on `clusters` (its chain) with "." and "..". Returns its first
  // cluster.
  uint32_t AddFolder(uint32_t parent, const std::u16string& longName, const std::string& name11,
                     const std::vector<uint32_t>& clusters);
  void AddLabel(const std::string& name11);

  // Boot sector access for damaged cases.
  uint8_t* Boot() { return m_bytes.data(); }
  void SetFsInfoFreeCount(uint32_t count);

  std::unique_ptr<CBlockDevice> Device(bool readOnly = false) const;

  static uint16_t Date(int year, int month, int day);
  static uint16_t Time(int hour, int minute, int second);

 private:
  struct Folder {
    std::vector<uint32_t> m_clusters;
    size_t m_nNextSlot = 0;
  };
  uint64_t SlotOffset(uint32_t folder, size_t slot) const;

  EBuildType m_type;
  uint32_t m_nTotalSectors = 0;
  uint32_t m_nSpc = 1;
  uint32_t m_nReserved = 1;
  uint32_t m_nFatSectors = 0;
  uint32_t m_nRootEntries = 0;
  uint32_t m_nClusters = 0;
  uint32_t m_nFirstData = 0;
  std::vector<uint8_t> m_bytes;
  std::map<uint32_t, Folder> m_folders;
};

}  // namespace test
}  // namespace vt
