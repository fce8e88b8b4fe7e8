#include "tests/support/ntfs_builder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ondisk/ntfs_runlist.h"

namespace vt {
namespace test {

namespace {

constexpr uint64_t kCreation = 0x01D5000000000001ULL;
constexpr uint64_t kWrite = 0x01D5000000000002ULL;
constexpr uint64_t kChange = 0x01D5000000000003ULL;
constexpr uint64_t kAccess = 0x01D5000000000004ULL;

size_t Align8(size_t n) { return (n + 7) & ~static_cast<size_t>(7); }

void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put64(std::vector<uint8_t>& b, size_t at, uint64_t v) {
  for (int i = 0; i < 8; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
uint16_t Get16(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}
void PutName(std::vector<uint8_t>& b, size_t at, const std::u16string& name) {
  for (size_t i = 0; i < name.size(); ++i) Put16(b, at + 2 * i, name[i]);
}

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "ntfs builder: %s\n", what);
  std::abort();
}

std::u16string Upper(const std::u16string& s) {
  std::u16string u = s;
  for (char16_t& c : u) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
  }
  return u;
}

}  // namespace

void ProtectStrides(std::vector<uint8_t>* data, size_t usaOffset, uint16_t usn) {
  std::vector<uint8_t>& b = *data;
  const size_t count = b.size() / 512 + 1;
  Put16(b, 4, static_cast<uint16_t>(usaOffset));
  Put16(b, 6, static_cast<uint16_t>(count));
  Put16(b, usaOffset, usn);
  for (size_t i = 1; i < count; ++i) {
    Put16(b, usaOffset + 2 * i, Get16(b, i * 512 - 2));
    Put16(b, i * 512 - 2, usn);
  }
}

std::vector<uint8_t> BuildRunList(const std::vector<CBRun>& runs) {
  std::vector<uint8_t> out;
  int64_t previous = 0;
  for (const CBRun& r : runs) {
    const bool sparse = r.lcn == kBHole;
    out.push_back(sparse ? 0x08 : 0x88);
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(r.count >> (8 * i)));
    if (!sparse) {
      const uint64_t delta = static_cast<uint64_t>(r.lcn - previous);
      for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(delta >> (8 * i)));
      previous = r.lcn;
    }
  }
  out.push_back(0);
  return out;
}

std::vector<uint8_t> BuildRecord(uint64_t number, uint16_t flags, uint64_t base,
                                 const std::vector<std::vector<uint8_t>>& attributes, uint16_t usn,
                                 uint16_t sequence) {
  std::vector<uint8_t> r(kBRecordBytes, 0);
  std::memcpy(r.data(), "FILE", 4);
  Put16(r, 0x10, sequence);
  Put16(r, 0x12, 1);
  Put16(r, 0x14, 0x38);
  Put16(r, 0x16, flags);
  Put32(r, 0x1C, kBRecordBytes);
  Put64(r, 0x20, base);
  Put16(r, 0x28, static_cast<uint16_t>(attributes.size()));
  Put32(r, 0x2C, static_cast<uint32_t>(number));
  size_t at = 0x38;
  for (const auto& a : attributes) {
    if (at + a.size() + 8 > kBRecordBytes) Fail("record overflows");
    std::memcpy(r.data() + at, a.data(), a.size());
    at += a.size();
  }
  Put32(r, at, 0xFFFFFFFF);
  Put32(r, 0x18, static_cast<uint32_t>(at + 8));
  ProtectStrides(&r, 0x30, usn);
  return r;
}

std::vector<uint8_t> ResidentAttr(uint32_t type, const std::u16string& name,
                                  const std::vector<uint8_t>& value, uint16_t instance) {
  const size_t valueOffset = Align8(0x18 + 2 * name.size());
  std::vector<uint8_t> a(Align8(valueOffset + value.size()), 0);
  Put32(a, 0x00, type);
  Put32(a, 0x04, static_cast<uint32_t>(a.size()));
  a[0x09] = static_cast<uint8_t>(name.size());
  Put16(a, 0x0A, 0x18);
  Put16(a, 0x0E, instance);
  Put32(a, 0x10, static_cast<uint32_t>(value.size()));
  Put16(a, 0x14, static_cast<uint16_t>(valueOffset));
  PutName(a, 0x18, name);
  if (!value.empty()) std::memcpy(a.data() + valueOffset, value.data(), value.size());
  return a;
}

std::vector<uint8_t> NonResidentAttr(uint32_t type, const std::u16string& name, uint64_t firstVcn,
                                     int64_t lastVcn, const std::vector<uint8_t>& runList,
                                     uint64_t allocated, uint64_t size, uint64_t initialized,
                                     uint16_t flags, uint8_t compressionUnit, uint16_t instance) {
  const size_t header = compressionUnit ? 0x48 : 0x40;
  const size_t runsOffset = Align8(header + 2 * name.size());
  std::vector<uint8_t> a(Align8(runsOffset + runList.size()), 0);
  Put32(a, 0x00, type);
  Put32(a, 0x04, static_cast<uint32_t>(a.size()));
  a[0x08] = 1;
  a[0x09] = static_cast<uint8_t>(name.size());
  Put16(a, 0x0A, static_cast<uint16_t>(header));
  Put16(a, 0x0C, flags);
  Put16(a, 0x0E, instance);
  Put64(a, 0x10, firstVcn);
  Put64(a, 0x18, static_cast<uint64_t>(lastVcn));
  Put16(a, 0x20, static_cast<uint16_t>(runsOffset));
  a[0x22] = compressionUnit;
  Put64(a, 0x28, firstVcn == 0 ? allocated : 0);
  Put64(a, 0x30, firstVcn == 0 ? size : 0);
  Put64(a, 0x38, firstVcn == 0 ? initialized : 0);
  PutName(a, header, name);
  std::memcpy(a.data() + runsOffset, runList.data(), runList.size());
  return a;
}

std::vector<uint8_t> FileNameValue(uint64_t parentRef, const std::u16string& name, uint8_t space,
                                   bool directory, uint64_t size, uint32_t attributes) {
  std::vector<uint8_t> v(0x42 + 2 * name.size(), 0);
  Put64(v, 0x00, parentRef);
  Put64(v, 0x08, kCreation);
  Put64(v, 0x10, kWrite);
  Put64(v, 0x18, kChange);
  Put64(v, 0x20, kAccess);
  Put64(v, 0x28, (size + kBClusterBytes - 1) / kBClusterBytes * kBClusterBytes);
  Put64(v, 0x30, size);
  Put32(v, 0x38, attributes | (directory ? 0x10000000u : 0u));
  v[0x40] = static_cast<uint8_t>(name.size());
  v[0x41] = space;
  PutName(v, 0x42, name);
  return v;
}

std::vector<uint8_t> StandardInfoValue(uint32_t attributes) {
  std::vector<uint8_t> v(48, 0);
  Put64(v, 0x00, kCreation);
  Put64(v, 0x08, kWrite);
  Put64(v, 0x10, kChange);
  Put64(v, 0x18, kAccess);
  Put32(v, 0x20, attributes);
  return v;
}

std::vector<uint8_t> IndexEntry(uint64_t ref, const std::vector<uint8_t>& key, bool last,
                                int64_t subVcn) {
  const bool sub = subVcn >= 0;
  std::vector<uint8_t> e(Align8(0x10 + key.size()) + (sub ? 8 : 0), 0);
  Put64(e, 0x00, ref);
  Put16(e, 0x08, static_cast<uint16_t>(e.size()));
  Put16(e, 0x0A, static_cast<uint16_t>(key.size()));
  Put16(e, 0x0C, static_cast<uint16_t>((sub ? 1 : 0) | (last ? 2 : 0)));
  if (!key.empty()) std::memcpy(e.data() + 0x10, key.data(), key.size());
  if (sub) Put64(e, e.size() - 8, static_cast<uint64_t>(subVcn));
  return e;
}

std::vector<uint8_t> IndexRootValue(const std::vector<std::vector<uint8_t>>& entries, bool large) {
  std::vector<uint8_t> v(0x20, 0);
  Put32(v, 0x00, 0x30);
  Put32(v, 0x04, 1);
  Put32(v, 0x08, kBBlockBytes);
  v[0x0C] = 1;
  for (const auto& e : entries) v.insert(v.end(), e.begin(), e.end());
  Put32(v, 0x10, 0x10);
  Put32(v, 0x14, static_cast<uint32_t>(v.size() - 0x10));
  Put32(v, 0x18, static_cast<uint32_t>(v.size() - 0x10));
  v[0x1C] = large ? 1 : 0;
  return v;
}

std::vector<uint8_t> IndexBlock(uint64_t vcn, const std::vector<std::vector<uint8_t>>& entries,
                                bool node) {
  std::vector<uint8_t> b(kBBlockBytes, 0);
  std::memcpy(b.data(), "INDX", 4);
  Put64(b, 0x10, vcn);
  size_t at = 0x40;
  for (const auto& e : entries) {
    if (at + e.size() > b.size()) Fail("index block overflows");
    std::memcpy(b.data() + at, e.data(), e.size());
    at += e.size();
  }
  Put32(b, 0x18, 0x28);
  Put32(b, 0x1C, static_cast<uint32_t>(at - 0x18));
  Put32(b, 0x20, kBBlockBytes - 0x18);
  b[0x24] = node ? 1 : 0;
  ProtectStrides(&b, 0x28, 7);
  return b;
}

CNtfsImageBuilder::CNtfsImageBuilder(uint64_t totalClusters, uint32_t mftRecords)
    : m_nTotalClusters(totalClusters), m_nMftRecords(mftRecords), m_nNextLcn(32) {
  m_bytes.assign(static_cast<size_t>(totalClusters * kBClusterBytes + 512), 0);
  m_bitmap.assign(static_cast<size_t>((totalClusters + 63) / 64 * 8), 0);
  MarkUsed(0, 32);
  if (MftLcn() != 4) m_nNextLcn = MftLcn() + MftClusters();
  const char16_t* metafiles[] = {u"$MFT",     u"$MFTMirr", u"$LogFile", u"$Volume",
                                 u"$AttrDef", u".",        u"$Bitmap",  u"$Boot",
                                 u"$BadClus", u"$Secure",  u"$UpCase",  u"$Extend"};
  for (uint64_t n = 0; n < 16; ++n) {
    Item item;
    item.m_bMeta = true;
    item.m_nAttributes = 0x06;
    if (n < 12) item.m_names.push_back({kRoot, metafiles[n], 3});
    item.m_bFolder = n == kRoot || n == 11;
    m_items[n] = item;
  }
}

uint64_t CNtfsImageBuilder::Allocate(uint64_t count) {
  const uint64_t lcn = m_nNextLcn;
  if (lcn + count > m_nTotalClusters) Fail("volume full");
  m_nNextLcn += count;
  MarkUsed(lcn, count);
  return lcn;
}

void CNtfsImageBuilder::MarkUsed(uint64_t lcn, uint64_t count) {
  for (uint64_t i = lcn; i < lcn + count; ++i)
    m_bitmap[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
}

uint64_t CNtfsImageBuilder::NewRecord() {
  if (m_bSplitMft && m_nNextRecord < 32) m_nNextRecord = 32;
  if (m_nNextRecord >= m_nMftRecords) Fail("MFT full");
  return m_nNextRecord++;
}

uint64_t CNtfsImageBuilder::AddFolder(uint64_t parent, const std::u16string& name,
                                      uint32_t attributes) {
  const uint64_t n = NewRecord();
  Item item;
  item.m_bFolder = true;
  item.m_nAttributes = attributes;
  item.m_names.push_back({parent, name, 1});
  m_items[n] = item;
  return n;
}

uint64_t CNtfsImageBuilder::AddFile(uint64_t parent, const std::u16string& name,
                                    const std::string& data, uint32_t attributes) {
  const uint64_t n = NewRecord();
  Item item;
  item.m_nAttributes = attributes;
  item.m_names.push_back({parent, name, 1});
  item.m_nSize = data.size();
  if (data.size() <= 600) {
    item.m_data = data;
  } else {
    const uint64_t clusters = (data.size() + kBClusterBytes - 1) / kBClusterBytes;
    const uint64_t lcn = Allocate(clusters);
    Write(ClusterOffset(lcn), data.data(), data.size());
    item.m_bResident = false;
    item.m_runs.push_back({static_cast<int64_t>(lcn), clusters});
  }
  m_items[n] = item;
  return n;
}

uint64_t CNtfsImageBuilder::AddFileRuns(uint64_t parent, const std::u16string& name, uint64_t size,
                                        const std::vector<CBRun>& runs,
                                        const std::vector<size_t>& extensionSplits, uint16_t flags,
                                        uint8_t compressionUnit) {
  const uint64_t n = NewRecord();
  Item item;
  item.m_names.push_back({parent, name, 1});
  item.m_bResident = false;
  item.m_nSize = size;
  item.m_runs = runs;
  item.m_splits = extensionSplits;
  item.m_nDataFlags = flags;
  item.m_nCompressionUnit = compressionUnit;
  for (const CBRun& r : runs) {
    if (r.lcn != kBHole) MarkUsed(static_cast<uint64_t>(r.lcn), r.count);
  }
  m_items[n] = item;
  return n;
}

void CNtfsImageBuilder::AddName(uint64_t record, uint64_t parent, const std::u16string& name,
                                uint8_t space) {
  m_items[record].m_names.push_back({parent, name, space});
}

void CNtfsImageBuilder::SetNamespace(uint64_t record, uint8_t space) {
  m_items[record].m_names[0].m_nSpace = space;
}

uint64_t CNtfsImageBuilder::RecordOffset(uint64_t number) const {
  const uint64_t byte = number * kBRecordBytes;
  const uint64_t half = static_cast<uint64_t>(m_nMftRecords) * kBRecordBytes / 2;
  // A split MFT keeps its second half at LCN 40.
  if (m_bSplitMft && byte >= half) return ClusterOffset(40) + (byte - half);
  return ClusterOffset(MftLcn()) + byte;
}

uint64_t CNtfsImageBuilder::IndexBlockLcn(uint64_t folder, size_t block) const {
  return m_items.at(folder).m_blockLcns.at(block);
}

void CNtfsImageBuilder::Write(uint64_t offset, const void* data, size_t size) {
  if (offset + size > m_bytes.size()) Fail("write past the image");
  std::memcpy(m_bytes.data() + offset, data, size);
  m_nWritten = std::max<uint64_t>(m_nWritten, offset + size);
}

void CNtfsImageBuilder::WriteRecord(uint64_t number, const std::vector<uint8_t>& record) {
  Write(RecordOffset(number), record.data(), record.size());
}

std::vector<std::vector<uint8_t>> CNtfsImageBuilder::DataAttributes(const Item& item) const {
  if (item.m_bResident) {
    return {ResidentAttr(0x80, u"", std::vector<uint8_t>(item.m_data.begin(), item.m_data.end()))};
  }
  uint64_t total = 0;
  for (const CBRun& r : item.m_runs) total += r.count;
  std::vector<std::vector<uint8_t>> segments;
  std::vector<size_t> cuts = item.m_splits;
  cuts.push_back(item.m_runs.size());
  size_t from = 0;
  uint64_t vcn = 0;
  for (size_t cut : cuts) {
    std::vector<CBRun> part(item.m_runs.begin() + from, item.m_runs.begin() + cut);
    uint64_t clusters = 0;
    for (const CBRun& r : part) clusters += r.count;
    segments.push_back(NonResidentAttr(0x80, u"", vcn, static_cast<int64_t>(vcn + clusters) - 1,
                                       BuildRunList(part), total * kBClusterBytes, item.m_nSize,
                                       item.m_nSize, item.m_nDataFlags, item.m_nCompressionUnit,
                                       static_cast<uint16_t>(3 + segments.size())));
    vcn += clusters;
    from = cut;
  }
  return segments;
}

void CNtfsImageBuilder::WriteFolderIndex(uint64_t number, Item* item,
                                         std::vector<std::vector<uint8_t>>* attrs) {
  struct Child {
    std::u16string key;
    std::vector<uint8_t> entry;
  };
  std::vector<Child> children;
  for (const auto& it : m_items) {
    for (const Name& name : it.second.m_names) {
      if (name.m_nParent != number) continue;
      const uint64_t ref = it.first | (1ull << 48);
      const bool dir = it.second.m_bFolder;
      auto key = FileNameValue(kRoot | (5ull << 48), name.m_name, name.m_nSpace, dir,
                               dir ? 0 : it.second.m_nSize, it.second.m_nAttributes);
      Put64(key, 0, name.m_nParent | (1ull << 48));
      children.push_back({Upper(name.m_name), IndexEntry(ref, key, false)});
    }
  }
  std::sort(children.begin(), children.end(),
            [](const Child& a, const Child& b) { return a.key < b.key; });
  if (children.size() <= m_nRootEntries) {
    std::vector<std::vector<uint8_t>> entries;
    for (const Child& c : children) entries.push_back(c.entry);
    entries.push_back(IndexEntry(0, {}, true));
    attrs->push_back(ResidentAttr(0x90, u"$I30", IndexRootValue(entries, false)));
    return;
  }
  // One level of leaves; the entry after each leaf but the last moves up.
  const size_t perLeaf = 8;
  std::vector<std::vector<std::vector<uint8_t>>> leaves;
  std::vector<std::vector<uint8_t>> root;
  size_t i = 0;
  while (i < children.size()) {
    std::vector<std::vector<uint8_t>> leaf;
    while (leaf.size() < perLeaf && i < children.size()) leaf.push_back(children[i++].entry);
    // A single entry left over joins this leaf rather than needing a
    // separator of its own.
    if (children.size() - i == 1) leaf.push_back(children[i++].entry);
    leaves.push_back(leaf);
    if (i < children.size()) {
      std::vector<uint8_t> up = children[i++].entry;
      // Re-made with the sub-node pointer to this leaf.
      std::vector<uint8_t> key(up.begin() + 0x10, up.begin() + 0x10 + Get16(up, 0x0A));
      uint64_t ref = 0;
      for (int b = 0; b < 8; ++b) ref |= static_cast<uint64_t>(up[b]) << (8 * b);
      root.push_back(IndexEntry(ref, key, false, static_cast<int64_t>(leaves.size() - 1)));
    }
  }
  const uint64_t lcn = Allocate(leaves.size());
  for (size_t k = 0; k < leaves.size(); ++k) {
    std::vector<std::vector<uint8_t>> entries = leaves[k];
    entries.push_back(IndexEntry(0, {}, true));
    std::vector<uint8_t> block = IndexBlock(k, entries, false);
    Write(ClusterOffset(lcn + k), block.data(), block.size());
    item->m_blockLcns.push_back(lcn + k);
  }
  root.push_back(IndexEntry(0, {}, true, static_cast<int64_t>(leaves.size() - 1)));
  attrs->push_back(ResidentAttr(0x90, u"$I30", IndexRootValue(root, true)));
  const uint64_t bytes = leaves.size() * kBBlockBytes;
  attrs->push_back(NonResidentAttr(0xA0, u"$I30", 0, static_cast<int64_t>(leaves.size()) - 1,
                                   BuildRunList({{static_cast<int64_t>(lcn), leaves.size()}}),
                                   bytes, bytes, bytes));
  std::vector<uint8_t> bits(8, 0);
  for (size_t k = 0; k < leaves.size() && k < 64; ++k)
    bits[k / 8] |= static_cast<uint8_t>(1 << (k % 8));
  attrs->push_back(ResidentAttr(0xB0, u"$I30", bits));
}

void CNtfsImageBuilder::Finish() {
  const uint64_t mftClusters =
      static_cast<uint64_t>(m_nMftRecords) * kBRecordBytes / kBClusterBytes;
  MarkUsed(MftLcn(), mftClusters);
  MarkUsed(20, 1);  // the mirror
  MarkUsed(24, 1);  // $Bitmap's data
  if (m_bSplitMft) {
    MarkUsed(40, mftClusters / 2);
    m_items.erase(15);  // becomes the MFT's extension record
  }
  // Extension records are handed out first so that the MFT's bitmap
  // covers them.
  std::map<uint64_t, std::vector<uint64_t>> extRecords;
  for (auto& it : m_items) {
    for (size_t k = 0; k < it.second.m_splits.size(); ++k)
      extRecords[it.first].push_back(NewRecord());
  }
  if (m_bSplitMft) extRecords[0].push_back(15);
  std::vector<uint8_t> mftBits((m_nMftRecords + 63) / 64 * 8, 0);
  auto markRecord = [&](uint64_t r) { mftBits[r / 8] |= static_cast<uint8_t>(1 << (r % 8)); };
  for (const auto& it : m_items) markRecord(it.first);
  for (const auto& it : extRecords) {
    for (uint64_t r : it.second) markRecord(r);
  }

  for (auto& it : m_items) {
    const uint64_t n = it.first;
    Item& item = it.second;
    std::vector<std::vector<uint8_t>> attrs;
    attrs.push_back(ResidentAttr(0x10, u"", StandardInfoValue(item.m_nAttributes)));
    for (const Name& name : item.m_names) {
      attrs.push_back(
          ResidentAttr(0x30, u"",
                       FileNameValue(name.m_nParent | (1ull << 48), name.m_name, name.m_nSpace,
                                     item.m_bFolder, item.m_nSize, item.m_nAttributes)));
    }
    uint16_t flags = 1;
    std::vector<std::vector<uint8_t>> extensions;
    if (n == 0) {
      const uint64_t bytes = mftClusters * kBClusterBytes;
      if (!m_bSplitMft) {
        attrs.push_back(NonResidentAttr(
            0x80, u"", 0, static_cast<int64_t>(mftClusters) - 1,
            BuildRunList({{static_cast<int64_t>(MftLcn()), mftClusters}}), bytes, bytes, bytes));
      } else {
        // Record 0 maps the first half; record 15 the second, at LCN 40.
        const uint64_t half = mftClusters / 2;
        attrs.push_back(NonResidentAttr(0x80, u"", 0, static_cast<int64_t>(half) - 1,
                                        BuildRunList({{static_cast<int64_t>(MftLcn()), half}}),
                                        bytes, bytes, bytes, 0, 0, 3));
        extensions.push_back(NonResidentAttr(0x80, u"", half, static_cast<int64_t>(mftClusters) - 1,
                                             BuildRunList({{40, half}}), 0, 0, 0, 0, 0, 4));
      }
    } else if (n == 3) {
      std::vector<uint8_t> label(2 * m_label.size());
      for (size_t i = 0; i < m_label.size(); ++i) {
        label[2 * i] = static_cast<uint8_t>(m_label[i]);
        label[2 * i + 1] = static_cast<uint8_t>(m_label[i] >> 8);
      }
      attrs.push_back(ResidentAttr(0x60, u"", label));
      if (m_nCleanLogLcn) {
        std::vector<uint8_t> info(12, 0);
        info[8] = 3;  // version 3.1, no flag
        info[9] = 1;
        attrs.push_back(ResidentAttr(0x70, u"", info));
      }
    } else if (n == 2 && m_nCleanLogLcn) {
      attrs.push_back(NonResidentAttr(0x80, u"", 0, 0,
                                      BuildRunList({{static_cast<int64_t>(m_nCleanLogLcn), 1}}),
                                      kBClusterBytes, kBClusterBytes, kBClusterBytes));
      const std::vector<uint8_t> empty(kBClusterBytes, 0xFF);
      Write(ClusterOffset(m_nCleanLogLcn), empty.data(), empty.size());
    } else if (n == 6) {
      const uint64_t bytes = m_bitmap.size();
      attrs.push_back(
          NonResidentAttr(0x80, u"", 0, 0, BuildRunList({{24, 1}}), kBClusterBytes, bytes, bytes));
    } else if (item.m_bFolder) {
      flags |= 2;
      WriteFolderIndex(n, &item, &attrs);
    } else if (!item.m_bMeta) {
      std::vector<std::vector<uint8_t>> data = DataAttributes(item);
      attrs.push_back(data[0]);
      extensions.assign(data.begin() + 1, data.end());
    }
    if (!extensions.empty()) {
      // The attribute list: standard information, names, the first data
      // segment here, the rest in extension records.
      const std::vector<uint64_t>& ext = extRecords[n];
      std::vector<uint8_t> list;
      auto entry = [&](uint32_t type, uint64_t vcn, uint64_t record, uint16_t instance) {
        std::vector<uint8_t> e(0x20, 0);
        Put32(e, 0, type);
        Put16(e, 4, 0x20);
        e[7] = 0x1A;
        Put64(e, 8, vcn);
        Put64(e, 0x10, record | (1ull << 48));
        Put16(e, 0x18, instance);
        list.insert(list.end(), e.begin(), e.end());
      };
      entry(0x10, 0, n, 0);
      for (size_t k = 0; k < item.m_names.size(); ++k)
        entry(0x30, 0, n, static_cast<uint16_t>(1 + k));
      std::vector<std::vector<uint8_t>> segments = {attrs.back()};
      segments.insert(segments.end(), extensions.begin(), extensions.end());
      for (size_t k = 0; k < segments.size(); ++k) {
        uint64_t first = 0;
        for (int b = 0; b < 8; ++b)
          first |= static_cast<uint64_t>(segments[k][0x10 + b]) << (8 * b);
        entry(0x80, first, k == 0 ? n : ext[k - 1], static_cast<uint16_t>(3 + k));
      }
      attrs.insert(attrs.begin() + 1, ResidentAttr(0x20, u"", list));
      for (size_t k = 0; k < extensions.size(); ++k) {
        WriteRecord(ext[k], BuildRecord(ext[k], 1, n | (1ull << 48), {extensions[k]}));
      }
    }
    if (n == 0) attrs.push_back(ResidentAttr(0xB0, u"", mftBits));
    WriteRecord(n, BuildRecord(n, flags, 0, attrs));
  }
  std::vector<uint8_t> boot(512, 0);
  boot[0] = 0xEB;
  boot[1] = 0x52;
  boot[2] = 0x90;
  std::memcpy(boot.data() + 3, "NTFS    ", 8);
  Put16(boot, 0x0B, 512);
  boot[0x0D] = kBClusterBytes / 512;
  boot[0x15] = 0xF8;
  Put64(boot, 0x28, m_nTotalClusters * (kBClusterBytes / 512));
  Put64(boot, 0x30, MftLcn());
  Put64(boot, 0x38, 20);
  boot[0x40] = 0xF6;  // 2^10-byte records
  boot[0x44] = 1;     // one cluster per index block
  Put64(boot, 0x48, 0x1122334455667788ULL);
  boot[0x1FE] = 0x55;
  boot[0x1FF] = 0xAA;
  Write(0, boot.data(), boot.size());
  Write(ClusterOffset(24), m_bitmap.data(), m_bitmap.size());
}

std::unique_ptr<CBlockDevice> CNtfsImageBuilder::Device(bool readOnly) const {
  // Only the written head is copied; the empty tail reads as zeros.
  const size_t used = static_cast<size_t>(std::min<uint64_t>(m_nWritten, m_bytes.size()));
  return std::make_unique<CMemoryBlockDevice>(
      std::vector<uint8_t>(m_bytes.begin(), m_bytes.begin() + used), m_bytes.size(), readOnly);
}

CNtfsRecordBuilder::CNtfsRecordBuilder(uint32_t size) : m_size(size) {}

void CNtfsRecordBuilder::Add(const std::vector<uint8_t>& attribute) {
  m_attributes.insert(m_attributes.end(), attribute.begin(), attribute.end());
}

CNtfsRecordBuilder& CNtfsRecordBuilder::StandardInformation(uint32_t fileAttributes) {
  Add(ResidentAttr(0x10, u"", StandardInfoValue(fileAttributes)));
  return *this;
}

CNtfsRecordBuilder& CNtfsRecordBuilder::FileName(const std::u16string& name, uint32_t parent,
                                                 uint8_t nameSpace, bool directory,
                                                 uint64_t time) {
  std::vector<uint8_t> v = FileNameValue(parent | (1ull << 48), name, nameSpace, directory, 0);
  Put64(v, 0x18, time);
  Put32(v, 0x38, directory ? 0x10000000 : 0);
  Add(ResidentAttr(0x30, u"", v));
  return *this;
}

CNtfsRecordBuilder& CNtfsRecordBuilder::AttributeList() {
  Add(ResidentAttr(0x20, u"", std::vector<uint8_t>(0x20, 0)));
  return *this;
}

CNtfsRecordBuilder& CNtfsRecordBuilder::AttributeList(
    const std::vector<std::pair<uint32_t, uint64_t>>& entries) {
  std::vector<uint8_t> v;
  for (const auto& e : entries) {
    std::vector<uint8_t> entry(0x20, 0);
    Put32(entry, 0, e.first);
    Put16(entry, 4, 0x20);
    entry[7] = 0x1A;
    Put64(entry, 0x10, e.second | (1ull << 48));
    v.insert(v.end(), entry.begin(), entry.end());
  }
  Add(ResidentAttr(0x20, u"", v));
  return *this;
}

CNtfsRecordBuilder& CNtfsRecordBuilder::ResidentData(uint32_t length, uint32_t type) {
  Add(ResidentAttr(type, u"", std::vector<uint8_t>(length, 0x41)));
  return *this;
}

CNtfsRecordBuilder& CNtfsRecordBuilder::NonResident(uint32_t type,
                                                    const std::vector<NtfsRunSpec>& runs,
                                                    uint64_t realSize, bool compressed,
                                                    int64_t firstVcn, int64_t lastVcn,
                                                    const std::u16string& name) {
  std::vector<ntfs::CRun> placed;
  uint64_t clusters = 0;
  for (const NtfsRunSpec& r : runs) {
    ntfs::CRun run;
    run.m_nVcn = static_cast<uint64_t>(firstVcn) + clusters;
    run.m_nLcn = r.lcn == kBHole ? kFsSparseLcn : static_cast<uint64_t>(r.lcn);
    run.m_nCount = r.count;
    placed.push_back(run);
    clusters += r.count;
  }
  std::vector<uint8_t> mapping;
  if (ntfs::EncodeRunList(placed, &mapping) != ERROR_SUCCESS) Fail("runs do not encode");
  if (lastVcn < 0) lastVcn = firstVcn + static_cast<int64_t>(clusters) - 1;
  std::vector<uint8_t> a =
      NonResidentAttr(type, name, static_cast<uint64_t>(firstVcn), lastVcn, mapping, 0, 0, 0,
                      compressed ? 1 : 0);
  // Sizes in every segment, so that a test can give a later one its own.
  Put64(a, 0x28, clusters * 4096);
  Put64(a, 0x30, realSize);
  Put64(a, 0x38, realSize);
  Add(a);
  return *this;
}

CNtfsRecordBuilder& CNtfsRecordBuilder::BaseReference(uint64_t base) {
  m_base = base;
  return *this;
}

std::vector<uint8_t> CNtfsRecordBuilder::Build(bool protect) const {
  std::vector<uint8_t> r(m_size, 0);
  std::memcpy(r.data(), "FILE", 4);
  const uint16_t usaCount = static_cast<uint16_t>(m_size / 512 + 1);
  Put16(r, 4, 0x30);
  Put16(r, 6, usaCount);
  Put64(r, 0x20, m_base);
  const size_t first = Align8(0x30 + usaCount * 2);
  Put16(r, 0x14, static_cast<uint16_t>(first));
  Put16(r, 0x16, 1);
  std::memcpy(r.data() + first, m_attributes.data(), m_attributes.size());
  size_t end = first + m_attributes.size();
  Put32(r, end, 0xFFFFFFFF);
  Put32(r, 0x18, static_cast<uint32_t>(end + 8));
  Put32(r, 0x1C, m_size);
  // The sector ends carry the check value 7, as on disk.
  if (protect) ProtectStrides(&r, 0x30, 0x0007);
  return r;
}

}  // namespace test
}  // namespace vt
