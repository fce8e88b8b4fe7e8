#include "platform/image/fat_table.h"

#include <algorithm>

#include "base/le.h"

namespace vt {

DWORD CFatTable::Load(CBlockDevice* device, const CFatLayout& layout, std::string* message) {
  m_pDevice = device;
  m_layout = layout;
  uint64_t bytes = layout.FatBytesNeeded();
  // A FAT32 table is at most 1 GiB (2^28 entries); refuse before allocating
  // anything absurd on a host that cannot hold it.
  if (bytes > (static_cast<uint64_t>(1) << 30) || bytes > SIZE_MAX / 2) {
    if (message) *message = "FAT too large to load";
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  m_fat.assign(static_cast<size_t>(bytes) + 4, 0);  // slack for the FAT12 pair read
  DWORD err =
      device->Read(layout.FatOffset(layout.m_nActiveFat), m_fat.data(), static_cast<size_t>(bytes));
  if (err != ERROR_SUCCESS) {
    if (message) *message = "cannot read the FAT";
    m_fat.clear();
    return err;
  }
  return ERROR_SUCCESS;
}

uint32_t CFatTable::Get(uint32_t cluster) const {
  if (cluster > MaxCluster() || m_fat.empty()) return 1;  // reserved value: never a link
  switch (m_layout.m_eType) {
    case EFatType::kFat12: {
      size_t off = static_cast<size_t>(cluster) + cluster / 2;
      uint16_t pair = Le16(&m_fat[off]);
      return (cluster & 1) ? (pair >> 4) : (pair & 0x0FFF);
    }
    case EFatType::kFat16:
      return Le16(&m_fat[static_cast<size_t>(cluster) * 2]);
    case EFatType::kFat32:
      return Le32(&m_fat[static_cast<size_t>(cluster) * 4]) & 0x0FFFFFFF;
  }
  return 1;
}

void CFatTable::UsedBits(uint32_t first, uint64_t count, uint8_t* bits) const {
  if (m_fat.empty() || first > MaxCluster() || count > uint64_t(MaxCluster()) + 1 - first) return;
  // Eight entries make one byte of the bitmap; the type is settled once,
  // not per entry.
  auto scan = [&](auto entry) {
    for (uint64_t i = 0; i < count; i += 8) {
      const unsigned n = static_cast<unsigned>(std::min<uint64_t>(8, count - i));
      const uint32_t base = first + static_cast<uint32_t>(i);
      unsigned byte = 0;
      for (unsigned b = 0; b < n; ++b)
        if (entry(base + b) != 0) byte |= 1u << b;
      bits[i / 8] = static_cast<uint8_t>(bits[i / 8] | byte);
    }
  };
  const uint8_t* fat = m_fat.data();
  switch (m_layout.m_eType) {
    case EFatType::kFat12:
      scan([fat](uint32_t c) {
        const uint16_t pair = Le16(fat + static_cast<size_t>(c) + c / 2);
        return (c & 1) ? (pair >> 4) : (pair & 0x0FFF);
      });
      break;
    case EFatType::kFat16:
      scan([fat](uint32_t c) { return static_cast<uint32_t>(Le16(fat + size_t(c) * 2)); });
      break;
    case EFatType::kFat32:
      scan([fat](uint32_t c) { return Le32(fat + size_t(c) * 4) & 0x0FFFFFFFu; });
      break;
  }
}

uint32_t CFatTable::BadClusterValue() const {
  switch (m_layout.m_eType) {
    case EFatType::kFat12:
      return 0xFF7;
    case EFatType::kFat16:
      return 0xFFF7;
    case EFatType::kFat32:
      return 0x0FFFFFF7;
  }
  return 0x0FFFFFF7;
}

uint32_t CFatTable::EndOfChainValue() const { return BadClusterValue() + 8; }

EFatEntry CFatTable::Classify(uint32_t value) const {
  if (value == 0) return EFatEntry::kFree;
  uint32_t bad = BadClusterValue();
  if (value == bad) return EFatEntry::kBad;
  if (value > bad) return EFatEntry::kEnd;
  if (value >= 2 && value <= MaxCluster()) return EFatEntry::kNext;
  return EFatEntry::kInvalid;
}

DWORD CFatTable::ReadChain(uint32_t first, std::vector<CFsRun>* runs, uint64_t maxClusters) const {
  if (first < 2 || first > MaxCluster()) return ERROR_FILE_CORRUPT;
  uint64_t vcn = 0;
  uint32_t cluster = first;
  // Brent's cycle check: a loop is found within a few times the length of
  // the chain's distinct part, so memory stays bounded by the real chain.
  uint32_t saved = first;
  uint64_t power = 1;
  uint64_t sinceSaved = 0;
  for (uint64_t steps = 1;; ++steps) {
    if (steps > m_layout.m_nClusterCount || steps > maxClusters) return ERROR_FILE_CORRUPT;
    uint64_t lcn = cluster - 2;
    if (!runs->empty() && runs->back().m_nLcn + runs->back().m_nCount == lcn &&
        runs->back().m_nVcn + runs->back().m_nCount == vcn) {
      ++runs->back().m_nCount;
    } else {
      runs->push_back(CFsRun{vcn, lcn, 1});
    }
    ++vcn;
    uint32_t next = Get(cluster);
    switch (Classify(next)) {
      case EFatEntry::kNext:
        cluster = next;
        break;
      case EFatEntry::kEnd:
        return ERROR_SUCCESS;
      default:
        return ERROR_FILE_CORRUPT;
    }
    if (cluster == saved) return ERROR_FILE_CORRUPT;
    if (++sinceSaved == power) {
      saved = cluster;
      power *= 2;
      sinceSaved = 0;
    }
  }
}

uint64_t CFatTable::CountFree() const {
  uint64_t free = 0;
  for (uint32_t c = 2; c <= MaxCluster(); ++c) {
    if (Get(c) == 0) ++free;
  }
  return free;
}

void CFatTable::Store(uint32_t cluster, uint32_t value, size_t* offset, size_t* length) {
  switch (m_layout.m_eType) {
    case EFatType::kFat12: {
      size_t off = static_cast<size_t>(cluster) + cluster / 2;
      uint16_t pair = Le16(&m_fat[off]);
      value &= 0x0FFF;
      pair = (cluster & 1) ? static_cast<uint16_t>((pair & 0x000F) | (value << 4))
                           : static_cast<uint16_t>((pair & 0xF000) | value);
      PutLe16(&m_fat[off], pair);
      *offset = off;
      *length = 2;
      return;
    }
    case EFatType::kFat16:
      *offset = static_cast<size_t>(cluster) * 2;
      *length = 2;
      PutLe16(&m_fat[*offset], static_cast<uint16_t>(value));
      return;
    case EFatType::kFat32: {
      *offset = static_cast<size_t>(cluster) * 4;
      *length = 4;
      uint32_t old = Le32(&m_fat[*offset]);
      PutLe32(&m_fat[*offset], (old & 0xF0000000) | (value & 0x0FFFFFFF));
      return;
    }
  }
}

DWORD CFatTable::WriteSpans(const std::vector<std::pair<size_t, size_t>>& spans) {
  for (uint32_t copy = 0; copy < m_layout.m_nFats; ++copy) {
    if (!m_layout.m_bMirrored && copy != m_layout.m_nActiveFat) continue;
    for (const auto& span : spans) {
      DWORD err = m_pDevice->Write(m_layout.FatOffset(copy) + span.first, &m_fat[span.first],
                                   span.second - span.first);
      if (err != ERROR_SUCCESS) return err;
    }
  }
  return ERROR_SUCCESS;
}

DWORD CFatTable::WriteEntry(uint32_t cluster, uint32_t value) {
  return WriteEntries({{cluster, value}});
}

DWORD CFatTable::WriteEntries(const std::vector<std::pair<uint32_t, uint32_t>>& entries) {
  if (m_fat.empty()) return ERROR_INVALID_PARAMETER;
  for (const auto& e : entries) {
    if (e.first < 2 || e.first > MaxCluster()) return ERROR_INVALID_PARAMETER;
  }
  if (m_pDevice->IsReadOnly()) return ERROR_WRITE_PROTECT;
  // Byte ranges [begin, end) of the table, merged where they touch.
  std::vector<std::pair<size_t, size_t>> spans;
  for (const auto& e : entries) {
    size_t off = 0;
    size_t len = 0;
    Store(e.first, e.second, &off, &len);
    spans.emplace_back(off, off + len);
  }
  std::sort(spans.begin(), spans.end());
  std::vector<std::pair<size_t, size_t>> merged;
  for (const auto& span : spans) {
    if (!merged.empty() && span.first <= merged.back().second) {
      merged.back().second = std::max(merged.back().second, span.second);
    } else {
      merged.push_back(span);
    }
  }
  return WriteSpans(merged);
}

bool CFatTable::IsCleanBitSet() const {
  switch (m_layout.m_eType) {
    case EFatType::kFat12:
      return true;
    case EFatType::kFat16:
      return m_fat.size() >= 4 && (Le16(&m_fat[2]) & 0x8000) != 0;
    case EFatType::kFat32:
      return m_fat.size() >= 8 && (Le32(&m_fat[4]) & 0x08000000) != 0;
  }
  return true;
}

DWORD CFatTable::SetCleanBit(bool clean) {
  if (!HasCleanBit()) return ERROR_SUCCESS;
  if (m_fat.size() < 8) return ERROR_INVALID_PARAMETER;
  if (m_pDevice->IsReadOnly()) return ERROR_WRITE_PROTECT;
  size_t off = 0;
  size_t len = 0;
  if (m_layout.m_eType == EFatType::kFat16) {
    uint16_t v = Le16(&m_fat[2]);
    PutLe16(&m_fat[2], static_cast<uint16_t>(clean ? (v | 0x8000) : (v & 0x7FFF)));
    off = 2;
    len = 2;
  } else {
    uint32_t v = Le32(&m_fat[4]);
    PutLe32(&m_fat[4], clean ? (v | 0x08000000) : (v & ~0x08000000u));
    off = 4;
    len = 4;
  }
  return WriteSpans({{off, off + len}});
}

}  // namespace vt
