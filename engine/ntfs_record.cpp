#include "engine/ntfs_record.h"

#include <cstring>

namespace vt {

uint16_t CByteView::U16(size_t o) const {
  if (!Has(o, 2)) return 0;
  return static_cast<uint16_t>(m_data[o] | (m_data[o + 1] << 8));
}

uint32_t CByteView::U32(size_t o) const {
  if (!Has(o, 4)) return 0;
  return static_cast<uint32_t>(m_data[o]) | (static_cast<uint32_t>(m_data[o + 1]) << 8) |
         (static_cast<uint32_t>(m_data[o + 2]) << 16) | (static_cast<uint32_t>(m_data[o + 3]) << 24);
}

uint64_t CByteView::U64(size_t o) const {
  if (!Has(o, 8)) return 0;
  return static_cast<uint64_t>(U32(o)) | (static_cast<uint64_t>(U32(o + 4)) << 32);
}

bool ApplyFixups(uint8_t* record, size_t size) {
  CByteView view(record, size);
  const uint16_t offset = view.U16(0x04);
  const uint16_t count = view.U16(0x06);
  if (count == 0) return true;
  if (!view.Has(offset, static_cast<size_t>(count) * 2)) return false;
  for (uint32_t k = 1; k < count; ++k) {
    const size_t at = 512u * k - 2;
    if (!view.Has(at, 2)) break;
    record[at] = record[offset + 2 * k];
    record[at + 1] = record[offset + 2 * k + 1];
  }
  return true;
}

std::vector<CNtfsAttribute> ListAttributes(const CByteView& record) {
  std::vector<CNtfsAttribute> out;
  out.reserve(8);  // a file's record holds about five; one allocation, not four
  size_t offset = record.U16(0x14);
  // A record holds at most a few hundred attributes; the bound keeps a
  // damaged record from being walked for long.
  for (int guard = 0; guard < 4096; ++guard) {
    if (!record.Has(offset, 8)) break;
    CNtfsAttribute a;
    a.offset = offset;
    a.type = record.U32(offset);
    if (a.type == kNtfsAttrEnd) break;
    a.length = record.U32(offset + 4);
    if (a.length == 0 || a.length < 16 || !record.Has(offset, a.length)) break;
    a.nonResident = record.U8(offset + 8) != 0;
    a.nameLength = record.U8(offset + 9);
    a.nameOffset = record.U16(offset + 0x0A);
    a.flags = record.U16(offset + 0x0C);
    if (!a.nonResident) {
      a.valueLength = record.U32(offset + 0x10);
      a.valueOffset = record.U16(offset + 0x14);
    } else {
      if (a.length < 0x40) break;
      a.firstVcn = static_cast<int64_t>(record.U64(offset + 0x10));
      a.lastVcn = static_cast<int64_t>(record.U64(offset + 0x18));
      a.runsOffset = record.U16(offset + 0x20);
      a.allocatedSize = static_cast<int64_t>(record.U64(offset + 0x28));
      a.realSize = static_cast<int64_t>(record.U64(offset + 0x30));
    }
    out.push_back(a);
    offset += a.length;
  }
  return out;
}

std::u16string AttributeName(const CByteView& record, const CNtfsAttribute& attribute) {
  std::u16string name;
  const size_t at = attribute.offset + attribute.nameOffset;
  if (attribute.nameLength == 0 || !record.Has(at, attribute.nameLength * 2u)) return name;
  for (size_t i = 0; i < attribute.nameLength; ++i) name += static_cast<char16_t>(record.U16(at + 2 * i));
  return name;
}

namespace {
char16_t FoldAscii(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }
}  // namespace

bool FindAttribute(const CByteView& record, uint32_t type, const std::u16string* name,
                   CNtfsAttribute* found) {
  for (const CNtfsAttribute& a : ListAttributes(record)) {
    if (a.type != type) continue;
    if (!name) {
      if (a.nameLength != 0) continue;
    } else {
      if (a.nameLength != name->size()) continue;
      std::u16string n = AttributeName(record, a);
      if (n.size() != name->size()) continue;
      bool same = true;
      for (size_t i = 0; i < n.size() && same; ++i) same = FoldAscii(n[i]) == FoldAscii((*name)[i]);
      if (!same) continue;
    }
    *found = a;
    return true;
  }
  return false;
}

bool DecodeRunList(const CByteView& bytes, size_t offset, std::vector<CNtfsRun>* runs) {
  runs->clear();
  int64_t lcn = 0;
  while (bytes.Has(offset, 1)) {
    const uint8_t header = bytes.U8(offset);
    if (header == 0) return true;
    const unsigned lengthBytes = header & 0x0F;
    const unsigned offsetBytes = header >> 4;
    if (lengthBytes == 0 || lengthBytes > 8 || offsetBytes > 8) return false;
    if (!bytes.Has(offset + 1, lengthBytes + offsetBytes)) return false;
    uint64_t length = 0;
    for (unsigned i = 0; i < lengthBytes; ++i)
      length |= static_cast<uint64_t>(bytes.U8(offset + 1 + i)) << (8 * i);
    CNtfsRun run;
    run.length = length;
    if (offsetBytes == 0) {
      run.sparse = true;
    } else {
      uint64_t delta = 0;
      for (unsigned i = 0; i < offsetBytes; ++i)
        delta |= static_cast<uint64_t>(bytes.U8(offset + 1 + lengthBytes + i)) << (8 * i);
      if (offsetBytes < 8 && (bytes.U8(offset + lengthBytes + offsetBytes) & 0x80))
        delta |= ~0ull << (8 * offsetBytes);
      lcn = static_cast<int64_t>(static_cast<uint64_t>(lcn) + delta);
      run.lcn = lcn;
    }
    runs->push_back(run);
    offset += 1 + lengthBytes + offsetBytes;
  }
  return true;
}

bool LookupRun(const std::vector<CNtfsRun>& runs, int64_t firstVcn, int64_t lastVcn, int64_t vcn,
               uint64_t* lcn, uint64_t* remaining, bool* sparse) {
  if (vcn < firstVcn || vcn > lastVcn) return false;
  uint64_t start = static_cast<uint64_t>(firstVcn);
  const uint64_t target = static_cast<uint64_t>(vcn);
  for (const CNtfsRun& run : runs) {
    if (target >= start && target - start < run.length) {
      const uint64_t into = target - start;
      *sparse = run.sparse;
      *lcn = run.sparse ? 0 : static_cast<uint64_t>(run.lcn) + into;
      *remaining = run.length - into;
      return true;
    }
    start += run.length;
  }
  return false;
}

uint32_t NtfsRecordSize(uint8_t clustersPerRecord, uint32_t sectorsPerCluster,
                        uint32_t bytesPerSector) {
  if (clustersPerRecord > 127) {
    const unsigned shift = 256u - clustersPerRecord;
    return shift < 31 ? (1u << shift) : 0;
  }
  return clustersPerRecord * sectorsPerCluster * bytesPerSector;
}

}  // namespace vt
