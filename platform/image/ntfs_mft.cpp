#include "platform/image/ntfs_mft.h"

#include <algorithm>
#include <cstring>
#include <deque>

#include "ondisk/ntfs_layout.h"
#include "platform/image/ntfs_file.h"

namespace vt {
namespace ntfs {

namespace {

// From NTFS 3.1 on, records carry their own number behind the header.
constexpr size_t kRecordNumberField = record::kRecordNumber;
constexpr size_t kUsaOffsetWithNumber = record::kUsaOffset31;
constexpr uint64_t kReadAheadBytes = CMft::kStretchBytes;
constexpr uint64_t kPassStep = 16;  // records apart that still make a pass

DWORD Corrupt(std::string* message, const std::string& reason) {
  if (message) *message = "damaged NTFS volume: " + reason;
  return ERROR_DISK_CORRUPT;
}

// The unnamed $DATA segments of a record.
void AddDataSegments(const CLoadedRecord& record, std::vector<CSegment>* segments) {
  for (const CAttribute& a : record.m_attributes) {
    if (a.m_nType == kAttrData && a.m_name.empty()) {
      segments->push_back({record.m_bytes.data(), &a});
    }
  }
}

}  // namespace

DWORD ParseRecordAt(uint64_t number, const uint8_t* bytes, size_t size, CRecordHeader* header) {
  DWORD err = ParseRecordHeader(bytes, size, header);
  if (err != ERROR_SUCCESS) return err;
  if (Le16(bytes + multisector::kUsaOffset) >= kUsaOffsetWithNumber &&
      Le32(bytes + kRecordNumberField) != static_cast<uint32_t>(number)) {
    return ERROR_FILE_CORRUPT;  // a record found where another belongs
  }
  return ERROR_SUCCESS;
}

DWORD ParseRecord(uint64_t number, std::vector<uint8_t> bytes, CLoadedRecord* record) {
  CLoadedRecord r;
  r.m_nNumber = number;
  r.m_bytes = std::move(bytes);
  DWORD err = ParseRecordAt(number, r.m_bytes.data(), r.m_bytes.size(), &r.m_header);
  if (err != ERROR_SUCCESS) return err;
  err = ParseAttributes(r.m_bytes.data(), r.m_bytes.size(), r.m_header, &r.m_attributes);
  if (err != ERROR_SUCCESS) return err;
  *record = std::move(r);
  return ERROR_SUCCESS;
}

DWORD CMft::ReadRecordAt(uint64_t number, const CStream& data, std::vector<uint8_t>* bytes) const {
  const uint64_t size = m_geometry.m_nRecordSize;
  if (number > data.Size() / size || (number + 1) * size > data.Size()) {
    return ERROR_INVALID_PARAMETER;
  }
  bytes->resize(static_cast<size_t>(size));
  DWORD err = ReadStream(*m_pDevice, m_geometry, data, number * size, bytes->data(), bytes->size());
  if (err != ERROR_SUCCESS) return err;
  return ApplyFixups(bytes->data(), bytes->size());
}

DWORD CMft::ReadRecord(uint64_t number, std::vector<uint8_t>* bytes) const {
  if (number >= m_nRecordCount) return ERROR_INVALID_PARAMETER;
  bytes->resize(m_geometry.m_nRecordSize);
  return ReadRecordInto(number, bytes->data());
}

DWORD CMft::ReadRecordInto(uint64_t number, uint8_t* out) const {
  if (number >= m_nRecordCount) return ERROR_INVALID_PARAMETER;
  const uint64_t size = m_geometry.m_nRecordSize;
  const uint64_t offset = number * size;
  // A pass through the records asks for each in use in turn: a record a
  // few after the one before. Only such a record outside the stretch reads
  // the next one; any other (a folder looked up by path, an extension
  // record) is read alone, so that a walk from folder to folder does not
  // read a megabyte for each record, and the stretch stays for the pass.
  const bool next = number > m_nLastRecord && number - m_nLastRecord <= kPassStep;
  m_nLastRecord = number;
  if (offset < m_nReadAheadOffset || offset + size > m_nReadAheadOffset + m_readAhead.size()) {
    if (!m_readAhead.empty() && !next) {
      const DWORD err =
          ReadStream(*m_pDevice, m_geometry, m_data, offset, out, static_cast<size_t>(size));
      return err != ERROR_SUCCESS ? err : ApplyFixups(out, static_cast<size_t>(size));
    }
    const uint64_t start = offset / kReadAheadBytes * kReadAheadBytes;
    const uint64_t end = std::min(start + kReadAheadBytes, m_nRecordCount * size);
    m_nReadAheadOffset = start;
    // A stretch read ahead for the pass is taken over; any other is read.
    if (!m_pSource || !m_pSource->Take(start, end - start, &m_readAhead)) {
      m_readAhead.resize(static_cast<size_t>(end - start));
      if (ReadStream(*m_pDevice, m_geometry, m_data, start, m_readAhead.data(),
                     m_readAhead.size()) != ERROR_SUCCESS) {
        // A stretch that cannot be read whole may still hold this record.
        m_readAhead.clear();
        std::vector<uint8_t> bytes;
        const DWORD err = ReadRecordAt(number, m_data, &bytes);
        if (err == ERROR_SUCCESS) std::memcpy(out, bytes.data(), bytes.size());
        return err;
      }
    }
  }
  std::memcpy(out, m_readAhead.data() + (offset - m_nReadAheadOffset), static_cast<size_t>(size));
  return ApplyFixups(out, static_cast<size_t>(size));
}

void CMft::Rewrote(uint64_t number, const std::vector<uint8_t>& bytes) const {
  const uint64_t offset = number * m_geometry.m_nRecordSize;
  if (m_readAhead.empty() || offset + bytes.size() <= m_nReadAheadOffset ||
      offset >= m_nReadAheadOffset + m_readAhead.size()) {
    return;
  }
  if (bytes.size() != m_geometry.m_nRecordSize || offset < m_nReadAheadOffset ||
      offset + bytes.size() > m_nReadAheadOffset + m_readAhead.size()) {
    m_readAhead.clear();
    return;
  }
  std::memcpy(m_readAhead.data() + (offset - m_nReadAheadOffset), bytes.data(), bytes.size());
}

DWORD CMft::LoadRecord(uint64_t number, CLoadedRecord* record) const {
  std::vector<uint8_t> bytes;
  DWORD err = ReadRecord(number, &bytes);
  if (err != ERROR_SUCCESS) return err;
  return ParseRecord(number, std::move(bytes), record);
}

bool CMft::IsInUse(uint64_t number) const {
  return number < m_nRecordCount && number / 8 < m_bitmap.size() &&
         (m_bitmap[static_cast<size_t>(number / 8)] >> (number % 8)) & 1;
}

void CMft::SetInUse(uint64_t number, bool inUse) {
  if (number / 8 >= m_bitmap.size()) return;
  uint8_t& b = m_bitmap[static_cast<size_t>(number / 8)];
  const auto bit = static_cast<uint8_t>(1u << (number % 8));
  b = static_cast<uint8_t>(inUse ? (b | bit) : (b & ~bit));
}

uint64_t CMft::InUseAtOrBelow(uint64_t number) const {
  if (number >= m_nRecordCount) return 0;
  uint64_t byte = number / 8;
  if (byte >= m_bitmap.size()) {
    if (m_bitmap.empty()) return 0;
    byte = m_bitmap.size() - 1;
    number = byte * 8 + 7;
  }
  // Whole free bytes are skipped at once, so a long free stretch costs
  // little.
  unsigned mask = (2u << (number % 8)) - 1;
  while (true) {
    const unsigned bits = m_bitmap[static_cast<size_t>(byte)] & mask;
    if (bits) {
      unsigned top = 7;
      while (!((bits >> top) & 1)) --top;
      return byte * 8 + top;
    }
    if (byte == 0) return 0;
    --byte;
    mask = 0xFF;
  }
}

DWORD CMft::Open(CBlockDevice* device, const CNtfsGeometry& geometry, std::string* message) {
  m_pDevice = device;
  m_geometry = geometry;
  const CNtfsGeometry& g = m_geometry;
  std::vector<uint8_t> bytes(g.m_nRecordSize);
  DWORD err = device->Read(g.LcnOffset(g.m_nMftLcn), bytes.data(), bytes.size());
  if (err != ERROR_SUCCESS) return Corrupt(message, "cannot read the MFT's first record");
  if (ApplyFixups(bytes.data(), bytes.size()) != ERROR_SUCCESS) {
    return Corrupt(message, "the MFT's first record fails its update sequence");
  }
  // Records that extension records of $MFT come from; kept alive for the
  // segments that point into them.
  std::deque<CLoadedRecord> records(1);
  if (ParseRecord(kRecordMft, std::move(bytes), &records[0]) != ERROR_SUCCESS) {
    return Corrupt(message, "the MFT's first record is damaged");
  }
  std::vector<CSegment> segments;
  AddDataSegments(records[0], &segments);
  const CAttribute* list = nullptr;
  for (const CAttribute& a : records[0].m_attributes) {
    if (a.m_nType == kAttrAttributeList) list = &a;
  }
  if (list) {
    // The MFT's extension records are reached through the part of its run
    // list already known, in VCN order.
    CStream listStream;
    std::vector<uint8_t> value;
    std::vector<CListEntry> entries;
    err = AssembleStream({{records[0].m_bytes.data(), list}}, g, &listStream);
    if (err == ERROR_SUCCESS && listStream.Size() > kMaxAttributeListBytes)
      err = ERROR_FILE_CORRUPT;
    if (err == ERROR_SUCCESS) {
      value.resize(static_cast<size_t>(listStream.Size()));
      err = ReadStream(*device, g, listStream, 0, value.data(), value.size());
    }
    if (err == ERROR_SUCCESS) err = ParseAttributeList(value.data(), value.size(), &entries);
    if (err != ERROR_SUCCESS) return Corrupt(message, "the MFT's attribute list is damaged");
    std::stable_sort(entries.begin(), entries.end(), [](const CListEntry& a, const CListEntry& b) {
      return a.m_nFirstVcn < b.m_nFirstVcn;
    });
    std::vector<uint64_t> loaded = {kRecordMft};
    for (const CListEntry& e : entries) {
      const uint64_t number = RecordNumberOf(e.m_nReference);
      if (e.m_nType != kAttrData || !e.m_name.empty() ||
          std::find(loaded.begin(), loaded.end(), number) != loaded.end()) {
        continue;
      }
      CStream known;
      known.m_bResident = false;
      err = ERROR_FILE_CORRUPT;
      if (!segments.empty()) {
        std::vector<CRun> runs;
        for (const CSegment& s : segments) {
          size_t size = 0;
          const uint8_t* pairs = RunListBytes(s.m_pRecord, *s.m_pAttribute, &size);
          err = DecodeRunList(pairs, size, s.m_pAttribute->m_nFirstVcn, &runs);
          if (err != ERROR_SUCCESS) break;
        }
        std::sort(runs.begin(), runs.end(),
                  [](const CRun& a, const CRun& b) { return a.m_nVcn < b.m_nVcn; });
        for (size_t i = 0; err == ERROR_SUCCESS && i < runs.size(); ++i) {
          if (runs[i].m_nVcn != (i ? runs[i - 1].EndVcn() : 0)) err = ERROR_FILE_CORRUPT;
        }
        if (err == ERROR_SUCCESS && !runs.empty()) {
          known.m_runs = std::move(runs);
          known.m_nAllocatedSize = known.m_runs.back().EndVcn() * g.ClusterBytes();
          known.m_nDataSize = known.m_nInitializedSize = known.m_nAllocatedSize;
        }
      }
      std::vector<uint8_t> extension;
      if (err == ERROR_SUCCESS) err = ReadRecordAt(number, known, &extension);
      records.emplace_back();
      if (err == ERROR_SUCCESS) err = ParseRecord(number, std::move(extension), &records.back());
      if (err != ERROR_SUCCESS || RecordNumberOf(records.back().m_header.m_nBaseReference) != 0) {
        return Corrupt(message, "an extension record of the MFT is damaged or out of reach");
      }
      loaded.push_back(number);
      AddDataSegments(records.back(), &segments);
    }
  }
  if (segments.empty() || AssembleStream(segments, g, &m_data) != ERROR_SUCCESS ||
      m_data.m_bResident) {
    return Corrupt(message, "the MFT's data attribute is damaged");
  }
  m_nRecordCount = std::min(m_data.m_nInitializedSize, m_data.m_nDataSize) / g.m_nRecordSize;
  if (m_nRecordCount < kFirstUserRecord) return Corrupt(message, "the MFT is too short");

  CFileRecords mft;
  CStream bitmap;
  bool found = false;
  err = mft.Load(*this, kRecordMft);
  if (err == ERROR_SUCCESS) err = mft.FindStream(kAttrBitmap, u"", &bitmap, &found);
  if (err != ERROR_SUCCESS || !found) return Corrupt(message, "the MFT has no readable bitmap");
  m_bitmap.resize(static_cast<size_t>(std::min<uint64_t>(bitmap.Size(), (m_nRecordCount + 7) / 8)));
  err = ReadStream(*device, g, bitmap, 0, m_bitmap.data(), m_bitmap.size());
  if (err != ERROR_SUCCESS) return Corrupt(message, "cannot read the MFT's bitmap");
  m_bitmapStream = std::move(bitmap);
  return ERROR_SUCCESS;
}

}  // namespace ntfs
}  // namespace vt
