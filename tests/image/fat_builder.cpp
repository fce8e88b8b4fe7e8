#include "tests/image/fat_builder.h"

#include <cstring>
#include <stdexcept>

namespace vt {
namespace test {

namespace {

void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

uint8_t Checksum(const std::string& name11) {
  uint8_t sum = 0;
  for (unsigned char c : name11) sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + c);
  return sum;
}

}  // namespace

CFatImageBuilder::CFatImageBuilder(EBuildType type) : m_type(type) {
  uint32_t fats = 2;
  switch (type) {
    case EBuildType::kFat12:
      m_nTotalSectors = 2880;
      m_nRootEntries = 224;
      m_nFatSectors = 9;
      break;
    case EBuildType::kFat16:
      m_nTotalSectors = 16384;
      m_nRootEntries = 512;
      m_nFatSectors = 64;
      break;
    case EBuildType::kFat32:
      m_nTotalSectors = 70000;
      m_nReserved = 32;
      m_nFatSectors = 547;
      break;
  }
  uint32_t rootSectors = m_nRootEntries * 32 / 512;
  m_nFirstData = m_nReserved + fats * m_nFatSectors + rootSectors;
  m_nClusters = (m_nTotalSectors - m_nFirstData) / m_nSpc;
  m_bytes.assign(static_cast<size_t>(m_nFirstData) * 512, 0);

  std::vector<uint8_t>& b = m_bytes;
  b[0] = 0xEB;
  b[1] = 0x3C;
  b[2] = 0x90;
  std::memcpy(&b[3], "TESTFAT ", 8);
  Put16(b, 0x0B, 512);
  b[0x0D] = static_cast<uint8_t>(m_nSpc);
  Put16(b, 0x0E, m_nReserved);
  b[0x10] = static_cast<uint8_t>(fats);
  Put16(b, 0x11, m_nRootEntries);
  Put16(b, 0x13, m_nTotalSectors < 65536 ? m_nTotalSectors : 0);
  b[0x15] = 0xF8;
  if (m_nTotalSectors >= 65536) Put32(b, 0x20, m_nTotalSectors);
  if (type == EBuildType::kFat32) {
    Put32(b, 0x24, m_nFatSectors);
    Put32(b, 0x2C, 2);  // root cluster
    Put16(b, 0x30, 1);  // FSInfo sector
    Put16(b, 0x32, 6);  // backup boot sector
    b[0x42] = 0x29;
    Put32(b, 0x43, 0x1234ABCD);
    std::memcpy(&b[0x47], "NO NAME    FAT32   ", 19);
    Put32(b, 512 + 0, 0x41615252);
    Put32(b, 512 + 484, 0x61417272);
    Put32(b, 512 + 488, 0xFFFFFFFF);
    Put32(b, 512 + 492, 0xFFFFFFFF);
    Put32(b, 512 + 508, 0xAA550000);
  } else {
    Put16(b, 0x16, m_nFatSectors);
    b[0x26] = 0x29;
    Put32(b, 0x27, 0x1234ABCD);
    std::memcpy(&b[0x2B],
                type == EBuildType::kFat12 ? "NO NAME    FAT12   " : "NO NAME    FAT16   ", 19);
  }
  b[510] = 0x55;
  b[511] = 0xAA;
  SetFat(0, 0x0FFFFFF8);
  SetFat(1, 0x0FFFFFFF);
  if (type == EBuildType::kFat32) {
    SetFat(2, EndOfChain());
    m_folders[2].m_clusters = {2};
  }
}

uint64_t CFatImageBuilder::ClusterOffset(uint32_t cluster) const {
  return (static_cast<uint64_t>(m_nFirstData) + static_cast<uint64_t>(cluster - 2) * m_nSpc) * 512;
}

uint32_t CFatImageBuilder::EndOfChain() const {
  switch (m_type) {
    case EBuildType::kFat12:
      return 0xFFF;
    case EBuildType::kFat16:
      return 0xFFFF;
    case EBuildType::kFat32:
      return 0x0FFFFFFF;
  }
  return 0;
}

uint32_t CFatImageBuilder::BadCluster() const {
  switch (m_type) {
    case EBuildType::kFat12:
      return 0xFF7;
    case EBuildType::kFat16:
      return 0xFFF7;
    case EBuildType::kFat32:
      return 0x0FFFFFF7;
  }
  return 0;
}

void CFatImageBuilder::SetFat(uint32_t cluster, uint32_t value) {
  for (uint32_t copy = 0; copy < 2; ++copy) {
    size_t base = (static_cast<size_t>(m_nReserved) + copy * m_nFatSectors) * 512;
    switch (m_type) {
      case EBuildType::kFat12: {
        size_t at = base + cluster + cluster / 2;
        uint32_t pair = m_bytes[at] | (m_bytes[at + 1] << 8);
        value &= 0xFFF;
        pair = (cluster & 1) ? ((pair & 0x000F) | (value << 4)) : ((pair & 0xF000) | value);
        Put16(m_bytes, at, pair);
        break;
      }
      case EBuildType::kFat16:
        Put16(m_bytes, base + cluster * 2, value & 0xFFFF);
        break;
      case EBuildType::kFat32:
        Put32(m_bytes, base + cluster * 4, value & 0x0FFFFFFF);
        break;
    }
  }
}

void CFatImageBuilder::Chain(const std::vector<uint32_t>& clusters) {
  for (size_t i = 0; i < clusters.size(); ++i) {
    SetFat(clusters[i], i + 1 < clusters.size() ? clusters[i + 1] : EndOfChain());
  }
}

void CFatImageBuilder::Write(uint64_t offset, const void* data, size_t size) {
  if (offset + size > VolumeBytes()) throw std::out_of_range("write past the volume");
  if (offset + size > m_bytes.size()) m_bytes.resize(static_cast<size_t>(offset + size), 0);
  std::memcpy(&m_bytes[static_cast<size_t>(offset)], data, size);
}

void CFatImageBuilder::Fill(uint64_t offset, uint8_t value, size_t size) {
  std::vector<uint8_t> data(size, value);
  Write(offset, data.data(), size);
}

uint64_t CFatImageBuilder::SlotOffset(uint32_t folder, size_t slot) const {
  if (folder == 0 && m_type != EBuildType::kFat32) {
    if (slot >= m_nRootEntries) throw std::out_of_range("root folder full");
    return (static_cast<uint64_t>(m_nReserved) + 2 * m_nFatSectors) * 512 + slot * 32;
  }
  uint32_t key = folder == 0 ? 2 : folder;
  const Folder& f = m_folders.at(key);
  size_t perCluster = ClusterBytes() / 32;
  size_t index = slot / perCluster;
  if (index >= f.m_clusters.size()) throw std::out_of_range("folder full");
  return ClusterOffset(f.m_clusters[index]) + (slot % perCluster) * 32;
}

uint64_t CFatImageBuilder::AddRawEntry(uint32_t folder, const uint8_t entry[32]) {
  uint32_t key = (folder == 0 && m_type == EBuildType::kFat32) ? 2 : folder;
  Folder& f = m_folders[key];
  uint64_t at = SlotOffset(folder, f.m_nNextSlot++);
  Write(at, entry, 32);
  return at;
}

uint16_t CFatImageBuilder::Date(int year, int month, int day) {
  return static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day);
}

uint16_t CFatImageBuilder::Time(int hour, int minute, int second) {
  return static_cast<uint16_t>((hour << 11) | (minute << 5) | (second / 2));
}

uint64_t CFatImageBuilder::AddShortEntry(uint32_t folder, const std::string& name11, uint8_t attr,
                                         uint32_t firstCluster, uint32_t size, uint8_t caseFlags) {
  uint8_t e[32] = {};
  std::memcpy(e, name11.data(), 11);
  e[11] = attr;
  e[12] = caseFlags;
  e[13] = 150;  // 1.5 s past the even second
  std::vector<uint8_t> v(32);
  Put16(v, 14, Time(8, 30, 10));
  Put16(v, 16, Date(2019, 3, 4));
  Put16(v, 18, Date(2021, 1, 2));
  Put16(v, 20, firstCluster >> 16);
  Put16(v, 22, Time(13, 45, 30));
  Put16(v, 24, Date(2020, 5, 17));
  Put16(v, 26, firstCluster & 0xFFFF);
  Put32(v, 28, size);
  for (int i = 14; i < 32; ++i) e[i] = v[i];
  return AddRawEntry(folder, e);
}

void CFatImageBuilder::AddLongEntries(uint32_t folder, const std::u16string& name,
                                      const std::string& name11, int forcedChecksum) {
  static const int kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  uint8_t sum = forcedChecksum >= 0 ? static_cast<uint8_t>(forcedChecksum) : Checksum(name11);
  size_t count = (name.size() + 12) / 13;
  for (size_t n = count; n >= 1; --n) {
    uint8_t e[32] = {};
    e[0] = static_cast<uint8_t>(n | (n == count ? 0x40 : 0));
    e[11] = 0x0F;
    e[13] = sum;
    for (int i = 0; i < 13; ++i) {
      size_t k = (n - 1) * 13 + i;
      uint16_t c = k < name.size() ? name[k] : (k == name.size() ? 0x0000 : 0xFFFF);
      e[kOffsets[i]] = static_cast<uint8_t>(c);
      e[kOffsets[i] + 1] = static_cast<uint8_t>(c >> 8);
    }
    AddRawEntry(folder, e);
  }
}

void CFatImageBuilder::AddFile(uint32_t folder, const std::u16string& longName,
                               const std::string& name11, const std::vector<uint32_t>& clusters,
                               const std::string& data, uint8_t attr) {
  if (!longName.empty()) AddLongEntries(folder, longName, name11);
  AddShortEntry(folder, name11, attr, clusters.empty() ? 0 : clusters[0],
                static_cast<uint32_t>(data.size()));
  if (clusters.empty()) return;
  Chain(clusters);
  size_t done = 0;
  for (uint32_t c : clusters) {
    size_t take = std::min<size_t>(ClusterBytes(), data.size() - done);
    if (take) Write(ClusterOffset(c), data.data() + done, take);
    done += take;
  }
}

uint32_t CFatImageBuilder::AddFolder(uint32_t parent, const std::u16string& longName,
                                     const std::string& name11,
                                     const std::vector<uint32_t>& clusters) {
  if (!longName.empty()) AddLongEntries(parent, longName, name11);
  AddShortEntry(parent, name11, 0x10, clusters[0], 0);
  Chain(clusters);
  for (uint32_t c : clusters) Fill(ClusterOffset(c), 0, ClusterBytes());
  m_folders[clusters[0]].m_clusters = clusters;
  AddShortEntry(clusters[0], ".          ", 0x10, clusters[0], 0);
  uint32_t parentCluster = (parent == 2 && m_type == EBuildType::kFat32) ? 0 : parent;
  AddShortEntry(clusters[0], "..         ", 0x10, parentCluster, 0);
  return clusters[0];
}

void CFatImageBuilder::AddLabel(const std::string& name11) { AddShortEntry(0, name11, 0x08, 0, 0); }

void CFatImageBuilder::SetFsInfoFreeCount(uint32_t count) { Put32(m_bytes, 512 + 488, count); }

std::unique_ptr<CBlockDevice> CFatImageBuilder::Device(bool readOnly) const {
  return std::make_unique<CMemoryBlockDevice>(m_bytes, VolumeBytes(), readOnly);
}

}  // namespace test
}  // namespace vt
