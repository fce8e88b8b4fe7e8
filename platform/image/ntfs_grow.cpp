// Room for a run list that a move makes longer than its record can hold.
//
// Moving one piece of a badly fragmented file can lengthen its mapping
// pairs by a byte or two (a far target needs a longer offset), and the
// records that hold them are often filled to the last byte. Half of the
// segment then goes to a new extension record, without moving any data (the
// same for a folder's index allocation). A file that has no attribute list
// yet gets one, resident in its base record, naming what that record holds.
// There is no log here to make several record writes one, so every step
// leaves a volume that reads the same; a crash leaves at worst clusters or
// records marked in use that nothing refers to:
//   1. the new extension records are written and marked in the MFT's
//      bitmap;
//   2. the attribute list with the new entries is written to new clusters,
//      read back and compared, and they are marked in use (a list kept in
//      the base record, or a new one, comes with step 3 instead);
//   3. the base record is written once: the attribute list at its new place
//      and, when the segment split was the base record's own, that segment
//      cut to its first half. Before this write nothing refers to the new
//      records; after it the old ones are no longer named;
//   4. the list's old clusters are freed;
//   5. an extension record that was split is never rewritten in place (the
//      list names it with its whole range until step 3): both halves went to
//      new records, and the old one is now marked free.
#include <algorithm>
#include <cstring>

#include "ondisk/ntfs_layout.h"
#include "platform/image/ntfs_edit.h"
#include "platform/image/ntfs_file.h"
#include "platform/image/ntfs_volume.h"

namespace vt {

using ntfs::CAttribute;
using ntfs::CFileRecords;
using ntfs::CLoadedRecord;
using ntfs::CRecordHeader;
using ntfs::CRun;
using ntfs::CStream;
namespace attr = ntfs::attr;

namespace {

// File record header (NTFS 3.1, which keeps the record's own number).
using ntfs::record::kBaseReference;
using ntfs::record::kBytesAllocated;
using ntfs::record::kFirstAttribute;
using ntfs::record::kLinkCount;
using ntfs::record::kNextInstance;
using ntfs::record::kRecordNumber;
using ntfs::record::kUsaOffset31;

// The compressed size, in the non-resident header of a compressed or
// sparse attribute, ends here.
constexpr size_t kCompressedSizeEnd = attr::kCompressedHeader;

size_t Align8(size_t n) { return (n + 7) / 8 * 8; }

uint64_t Reference(uint64_t number, uint16_t sequence) {
  return number | (static_cast<uint64_t>(sequence) << 48);
}

// An extension record of the file `baseReference` holding one segment of
// attribute `a` of `source` (fix-ups undone) with `runs`; its update
// sequence is prepared for writing.
DWORD MakeExtensionRecord(const ntfs::CNtfsGeometry& g, uint64_t number, uint16_t sequence,
                          uint64_t baseReference, const uint8_t* source, const CAttribute& a,
                          const std::vector<CRun>& runs, std::vector<uint8_t>* out) {
  std::vector<uint8_t> pairs;
  DWORD err = ntfs::EncodeRunList(runs, &pairs);
  if (err != ERROR_SUCCESS) return err;
  const size_t size = g.m_nRecordSize;
  const size_t usaCount = size / ntfs::kFixupStride + 1;
  const size_t first = Align8(kUsaOffset31 + 2 * usaCount);
  const size_t length = Align8(a.m_nRunsOffset + pairs.size());
  if (runs.empty() || first + length + 8 > size) return ERROR_DISK_FULL;

  std::vector<uint8_t> r(size, 0);
  uint8_t* p = r.data();
  PutLe32(p, ntfs::kRecordSignature);
  PutLe16(p + ntfs::multisector::kUsaOffset, kUsaOffset31);
  PutLe16(p + ntfs::multisector::kUsaCount, static_cast<uint16_t>(usaCount));
  PutLe16(p + kUsaOffset31, 1);
  PutLe16(p + ntfs::kRecordSequenceField, sequence);
  PutLe16(p + kLinkCount, 0);
  PutLe16(p + kFirstAttribute, static_cast<uint16_t>(first));
  PutLe16(p + ntfs::kRecordFlagsField, CRecordHeader::kFlagInUse);
  PutLe32(p + ntfs::kRecordBytesInUseField, static_cast<uint32_t>(first + length + 8));
  PutLe32(p + kBytesAllocated, static_cast<uint32_t>(size));
  ntfs::PutLe64(p + kBaseReference, baseReference);
  PutLe16(p + kNextInstance, 1);
  PutLe32(p + kRecordNumber, static_cast<uint32_t>(number));

  // The attribute's header as the segment being split has it (type, flags,
  // name, compression unit); sizes are kept only in the first segment.
  uint8_t* at = p + first;
  std::memcpy(at, source + a.m_nOffset, a.m_nRunsOffset);
  PutLe32(at + attr::kLength, static_cast<uint32_t>(length));
  PutLe16(at + attr::kInstance, 0);
  ntfs::PutLe64(at + attr::kFirstVcn, runs.front().m_nVcn);
  ntfs::PutLe64(at + attr::kLastVcn, runs.back().EndVcn() - 1);
  const size_t nameStart =
      a.m_name.empty() ? a.m_nRunsOffset : Le16(source + a.m_nOffset + attr::kNameOffset);
  const size_t sizesEnd =
      std::min<size_t>(std::min<size_t>(nameStart, a.m_nRunsOffset), kCompressedSizeEnd);
  if (sizesEnd > attr::kAllocatedSize) std::fill(at + attr::kAllocatedSize, at + sizesEnd, 0);
  std::copy(pairs.begin(), pairs.end(), at + a.m_nRunsOffset);
  PutLe32(at + length, ntfs::kAttrEnd);

  ntfs::CLoadedRecord check;
  err = ntfs::ParseRecord(number, r, &check);
  if (err != ERROR_SUCCESS) return err;
  err = ntfs::PrepareFixups(r.data(), r.size());
  if (err != ERROR_SUCCESS) return err;
  *out = std::move(r);
  return ERROR_SUCCESS;
}

// The byte offset of the list entry naming the segment of attribute `a`
// that starts at `firstVcn` in record `number`; false when there is none.
bool FindListEntry(const std::vector<uint8_t>& list, const CAttribute& a, uint64_t number,
                   size_t* offset, size_t* length) {
  for (size_t pos = 0; list.size() - pos >= ntfs::alist::kHeader;) {
    const uint8_t* e = list.data() + pos;
    const size_t n = Le16(e + ntfs::alist::kLength);
    if (n < ntfs::alist::kHeader || n > list.size() - pos) return false;
    const size_t nameLength = e[ntfs::alist::kNameLength];
    const size_t nameOffset = e[ntfs::alist::kNameOffset];
    bool sameName = nameLength == a.m_name.size() && nameOffset + 2 * nameLength <= n;
    for (size_t i = 0; sameName && i < nameLength; ++i) {
      sameName = Le16(e + nameOffset + 2 * i) == a.m_name[i];
    }
    if (Le32(e + ntfs::alist::kType) == a.m_nType && sameName &&
        ntfs::Le64(e + ntfs::alist::kFirstVcn) == a.m_nFirstVcn &&
        ntfs::RecordNumberOf(ntfs::Le64(e + ntfs::alist::kReference)) == number) {
      *offset = pos;
      *length = n;
      return true;
    }
    pos += n;
  }
  return false;
}

std::vector<uint8_t> ListEntry(const CAttribute& a, uint64_t firstVcn, uint64_t reference,
                               uint16_t instance) {
  const size_t length = Align8(ntfs::alist::kHeader + 2 * a.m_name.size());
  std::vector<uint8_t> e(length, 0);
  PutLe32(e.data() + ntfs::alist::kType, a.m_nType);
  PutLe16(e.data() + ntfs::alist::kLength, static_cast<uint16_t>(length));
  e[ntfs::alist::kNameLength] = static_cast<uint8_t>(a.m_name.size());
  e[ntfs::alist::kNameOffset] = static_cast<uint8_t>(ntfs::alist::kHeader);
  for (size_t i = 0; i < a.m_name.size(); ++i) {
    PutLe16(e.data() + ntfs::alist::kHeader + 2 * i, static_cast<uint16_t>(a.m_name[i]));
  }
  ntfs::PutLe64(e.data() + ntfs::alist::kFirstVcn, firstVcn);
  ntfs::PutLe64(e.data() + ntfs::alist::kReference, reference);
  PutLe16(e.data() + ntfs::alist::kInstance, instance);
  return e;
}

}  // namespace

// A segment split as SplitSegment plans it: everything read and decided
// before a byte is written.
struct CNtfsVolume::CSplitPlan {
  const CLoadedRecord* base = nullptr;
  const CLoadedRecord* holder = nullptr;
  bool inBase = false;
  std::vector<CRun> low, high;  // the segment's runs in two halves
  uint64_t splitVcn = 0;
  const CAttribute* listAttr = nullptr;  // the base record's attribute list, if any
  CStream listStream;                    // resident unless read otherwise
  std::vector<uint8_t> newList;
  // The new extension records: the second half, and for a split extension
  // record its first half too.
  struct CNewRecord {
    uint64_t number;
    uint16_t sequence;
    std::vector<uint8_t> bytes;
  };
  std::vector<CNewRecord> made;
  uint64_t listLcn = 0;
  uint64_t listClusters = 0;
  std::vector<uint8_t> baseBytes;  // the base record as it is to be written
};

DWORD CNtfsVolume::SplitSegment(const CFileRecords& file, size_t index, const CAttribute& a,
                                uint64_t avoidLcn, uint64_t avoidCount) {
  CSplitPlan plan;
  DWORD err = PlanSplit(file, index, a, avoidLcn, avoidCount, &plan);
  if (err == ERROR_SUCCESS) err = EditSplitBase(a, &plan);
  if (err == ERROR_SUCCESS) err = CommitSplit(plan);
  return err;
}

DWORD CNtfsVolume::PlanSplit(const CFileRecords& file, size_t index, const CAttribute& a,
                             uint64_t avoidLcn, uint64_t avoidCount, CSplitPlan* plan) {
  if (index >= file.Records().size()) return ERROR_DISK_FULL;
  if (!a.m_bNonResident || a.m_name.size() > 255) return ERROR_DISK_FULL;
  const CLoadedRecord& base = file.Records()[0];
  const CLoadedRecord& holder = file.Records()[index];
  const bool inBase = index == 0;
  plan->base = &base;
  plan->holder = &holder;
  plan->inBase = inBase;
  const uint64_t recordBytes = m_geometry.m_nRecordSize;
  if (Le16(base.m_bytes.data() + ntfs::multisector::kUsaOffset) != kUsaOffset31 ||
      m_mft.BitmapStream().m_bResident) {
    return ERROR_NOT_SUPPORTED;
  }
  if (!ntfs::InOnePlace(m_geometry, m_mft.Data(), base.m_nNumber * recordBytes, recordBytes) ||
      !ntfs::InOnePlace(m_geometry, m_mft.Data(), holder.m_nNumber * recordBytes, recordBytes)) {
    return ERROR_NOT_SUPPORTED;
  }

  // The segment's runs in two halves.
  std::vector<CRun> runs;
  size_t pairsSize = 0;
  const uint8_t* pairs = ntfs::RunListBytes(holder.m_bytes.data(), a, &pairsSize);
  if (ntfs::DecodeRunList(pairs, pairsSize, a.m_nFirstVcn, &runs) != ERROR_SUCCESS) {
    return ERROR_FILE_CORRUPT;
  }
  if (runs.size() < 2) return ERROR_DISK_FULL;
  std::vector<CRun>& low = plan->low;
  std::vector<CRun>& high = plan->high;
  low.assign(runs.begin(), runs.begin() + static_cast<long>(runs.size() / 2));
  high.assign(runs.begin() + static_cast<long>(runs.size() / 2), runs.end());
  plan->splitVcn = high.front().m_nVcn;

  // The attribute list as it is, or, for a file that has none yet, the one
  // that names what its base record holds (and a resident list to hold it).
  const uint64_t baseReference = Reference(base.m_nNumber, base.m_header.m_nSequence);
  const CAttribute*& listAttr = plan->listAttr;
  for (const CAttribute& b : base.m_attributes) {
    if (b.m_nType == ntfs::kAttrAttributeList) listAttr = &b;
  }
  if (file.HasAttributeList() != (listAttr != nullptr)) return ERROR_FILE_CORRUPT;
  CStream& listStream = plan->listStream;
  std::vector<uint8_t> list;
  DWORD err = ERROR_SUCCESS;
  if (listAttr) {
    err = ntfs::AssembleStream({{base.m_bytes.data(), listAttr}}, m_geometry, &listStream);
    if (err != ERROR_SUCCESS) return err;
    if (listStream.Size() > ntfs::kMaxAttributeListBytes) return ERROR_FILE_CORRUPT;
    list.resize(static_cast<size_t>(listStream.Size()));
    err = ntfs::ReadStream(*m_pDevice, m_geometry, listStream, 0, list.data(), list.size());
    if (err != ERROR_SUCCESS) return err;
  } else {
    if (!inBase) return ERROR_FILE_CORRUPT;
    for (const CAttribute& b : base.m_attributes) {
      if (b.m_name.size() > 255) return ERROR_DISK_FULL;
      const std::vector<uint8_t> e =
          ListEntry(b, b.m_bNonResident ? b.m_nFirstVcn : 0, baseReference, b.m_nInstance);
      list.insert(list.end(), e.begin(), e.end());
    }
  }
  size_t entryAt = 0, entryLength = 0;
  if (!FindListEntry(list, a, holder.m_nNumber, &entryAt, &entryLength)) {
    return ERROR_FILE_CORRUPT;
  }

  std::vector<CSplitPlan::CNewRecord>& made = plan->made;
  std::vector<uint64_t> taken;
  for (const std::vector<CRun>* half : {&high, &low}) {
    if (inBase && half == &low) break;
    CSplitPlan::CNewRecord r;
    err = FindFreeRecord(taken, &r.number, &r.sequence);
    if (err != ERROR_SUCCESS) return err;
    taken.push_back(r.number);
    err = MakeExtensionRecord(m_geometry, r.number, r.sequence, baseReference,
                              holder.m_bytes.data(), a, *half, &r.bytes);
    if (err != ERROR_SUCCESS) return err;
    made.push_back(std::move(r));
  }

  // The new list: the entry of the split segment now names its first half
  // (in place, or a new record), followed by an entry for the second half.
  std::vector<uint8_t>& newList = plan->newList;
  newList = list;
  if (!inBase) {
    ntfs::PutLe64(newList.data() + entryAt + ntfs::alist::kReference,
                  Reference(made[1].number, made[1].sequence));
    PutLe16(newList.data() + entryAt + ntfs::alist::kInstance, 0);
  }
  const std::vector<uint8_t> added =
      ListEntry(a, plan->splitVcn, Reference(made[0].number, made[0].sequence), 0);
  newList.insert(newList.begin() + static_cast<long>(entryAt + entryLength), added.begin(),
                 added.end());

  // Room for a list kept in clusters.
  const uint64_t cb = m_geometry.ClusterBytes();
  plan->listClusters = (newList.size() + cb - 1) / cb;
  if (!listStream.m_bResident) {
    err = FindRoom(plan->listClusters, avoidLcn, avoidCount, &plan->listLcn);
    if (err != ERROR_SUCCESS) return err;
  }
  return ERROR_SUCCESS;
}

// The base record edited for the split: the list (new, moved or grown) and,
// for a segment the base record holds, its first half.
DWORD CNtfsVolume::EditSplitBase(const CAttribute& a, CSplitPlan* plan) {
  const CLoadedRecord& base = *plan->base;
  const CAttribute* listAttr = plan->listAttr;
  const CStream& listStream = plan->listStream;
  const std::vector<uint8_t>& newList = plan->newList;
  const uint64_t cb = m_geometry.ClusterBytes();
  const uint64_t listClusters = plan->listClusters;
  const uint64_t listLcn = plan->listLcn;
  const uint64_t splitVcn = plan->splitVcn;
  const bool inBase = plan->inBase;
  DWORD err = ERROR_SUCCESS;
  std::vector<uint8_t>& baseBytes = plan->baseBytes;
  baseBytes = base.m_bytes;
  CRecordHeader header = base.m_header;
  auto editList = [&]() -> DWORD {
    if (!listAttr) {
      // A resident list after the attributes of lower types.
      size_t at = header.m_nBytesInUse - 8;
      for (const CAttribute& b : base.m_attributes) {
        if (b.m_nType > ntfs::kAttrAttributeList) {
          at = b.m_nOffset;
          break;
        }
      }
      std::vector<uint8_t> added(Align8(attr::kResidentHeader + newList.size()), 0);
      PutLe32(added.data(), ntfs::kAttrAttributeList);
      PutLe32(added.data() + attr::kLength, static_cast<uint32_t>(added.size()));
      PutLe16(added.data() + attr::kNameOffset, static_cast<uint16_t>(attr::kResidentHeader));
      PutLe16(added.data() + attr::kInstance, header.m_nNextInstance);
      PutLe32(added.data() + attr::kValueLength, static_cast<uint32_t>(newList.size()));
      PutLe16(added.data() + attr::kValueOffset, static_cast<uint16_t>(attr::kResidentHeader));
      std::copy(newList.begin(), newList.end(), added.begin() + attr::kResidentHeader);
      DWORD e = ntfs::InsertAttribute(at, added, &baseBytes, &header);
      if (e != ERROR_SUCCESS) return e;
      header.m_nNextInstance = static_cast<uint16_t>(header.m_nNextInstance + 1);
      PutLe16(baseBytes.data() + kNextInstance, header.m_nNextInstance);
      return ERROR_SUCCESS;
    }
    if (!listStream.m_bResident) {
      DWORD e =
          ntfs::RewriteRunList(*listAttr, {CRun{0, listLcn, listClusters}}, &baseBytes, &header);
      if (e != ERROR_SUCCESS) return e;
      uint8_t* at = baseBytes.data() + listAttr->m_nOffset;
      ntfs::PutLe64(at + attr::kLastVcn, listClusters - 1);
      ntfs::PutLe64(at + attr::kAllocatedSize, listClusters * cb);
      ntfs::PutLe64(at + attr::kDataSize, newList.size());
      ntfs::PutLe64(at + attr::kInitializedSize, newList.size());
      return ERROR_SUCCESS;
    }
    DWORD e = ntfs::ResizeAttribute(*listAttr, Align8(listAttr->m_nValueOffset + newList.size()),
                                    &baseBytes, &header);
    if (e != ERROR_SUCCESS) return e;
    uint8_t* at = baseBytes.data() + listAttr->m_nOffset;
    std::copy(newList.begin(), newList.end(), at + listAttr->m_nValueOffset);
    PutLe32(at + attr::kValueLength, static_cast<uint32_t>(newList.size()));
    return ERROR_SUCCESS;
  };
  auto editData = [&]() -> DWORD {
    DWORD e = ntfs::RewriteRunList(a, plan->low, &baseBytes, &header);
    if (e == ERROR_SUCCESS)
      ntfs::PutLe64(baseBytes.data() + a.m_nOffset + attr::kLastVcn, splitVcn - 1);
    return e;
  };
  // Attributes move as earlier ones change length: the later one first (a
  // new list goes before the data, whose type is higher).
  if (inBase && (!listAttr || a.m_nOffset > listAttr->m_nOffset)) {
    err = editData();
    if (err == ERROR_SUCCESS) err = editList();
  } else {
    err = editList();
    if (err == ERROR_SUCCESS && inBase) err = editData();
  }
  if (err != ERROR_SUCCESS) return err;
  CLoadedRecord check;
  if (ntfs::ParseRecord(base.m_nNumber, baseBytes, &check) != ERROR_SUCCESS) {
    return ERROR_FILE_CORRUPT;
  }
  return ntfs::PrepareFixups(baseBytes.data(), baseBytes.size());
}

// Writes the split in the order that keeps the volume whole at every step.
DWORD CNtfsVolume::CommitSplit(const CSplitPlan& plan) {
  const CLoadedRecord& base = *plan.base;
  const CLoadedRecord& holder = *plan.holder;
  const CStream& listStream = plan.listStream;
  const std::vector<uint8_t>& newList = plan.newList;
  const uint64_t cb = m_geometry.ClusterBytes();
  const uint64_t listClusters = plan.listClusters;
  const uint64_t listLcn = plan.listLcn;
  const std::vector<uint8_t>& baseBytes = plan.baseBytes;
  DWORD err = ERROR_SUCCESS;
  // 1. The new records, unreferenced until the base record names them.
  for (const CSplitPlan::CNewRecord& r : plan.made) {
    err = WriteRecord(r.number, r.bytes);
    if (err == ERROR_SUCCESS) err = SetRecordInUse(r.number, true);
    if (err != ERROR_SUCCESS) return err;
  }
  err = m_pDevice->Flush();
  if (err != ERROR_SUCCESS) return err;
  // 2. The list at its new place, checked before anything points there;
  // its clusters and the old ones are named by an intent record first, so
  // that the next open frees whichever of them a cut-off split leaves set.
  if (!listStream.m_bResident) {
    CIntentRecord record;
    record.m_dwSerial = Serial();
    record.m_clusters.emplace_back(listLcn, listClusters);
    for (const CRun& run : listStream.m_runs) {
      if (!run.IsSparse()) record.m_clusters.emplace_back(run.m_nLcn, run.m_nCount);
    }
    err = WriteIntentRecord(m_records.m_strPath, record);
    if (err != ERROR_SUCCESS) return err;
    m_records.Wrote();
    std::vector<uint8_t> padded(static_cast<size_t>(listClusters * cb), 0);
    std::copy(newList.begin(), newList.end(), padded.begin());
    err = m_pDevice->Write(LcnOffset(listLcn), padded.data(), padded.size());
    if (err == ERROR_SUCCESS) err = m_pDevice->Flush();
    if (err != ERROR_SUCCESS) return err;
    m_pDevice->DropCached(LcnOffset(listLcn), padded.size());
    std::vector<uint8_t> back(padded.size());
    err = m_pDevice->Read(LcnOffset(listLcn), back.data(), back.size());
    if (err == ERROR_SUCCESS && back != padded) err = ERROR_CRC;
    if (err == ERROR_SUCCESS) err = MarkUsed(listLcn, listClusters);
    if (err == ERROR_SUCCESS) err = m_pDevice->Flush();
    if (err != ERROR_SUCCESS) return err;
  }
  // 3. The switch.
  err = WriteRecord(base.m_nNumber, baseBytes);
  if (err == ERROR_SUCCESS) err = m_pDevice->Flush();
  if (err != ERROR_SUCCESS) return err;
  // 4. The list's old clusters.
  if (!listStream.m_bResident) {
    std::vector<CRun> old;
    for (const CRun& run : listStream.m_runs) {
      if (!run.IsSparse()) old.push_back(run);
    }
    err = FreeRuns(old);
    if (err == ERROR_SUCCESS) err = m_pDevice->Flush();
    if (err != ERROR_SUCCESS) return err;
  }
  // 5. The split extension record, no longer named, freed as NTFS frees one.
  if (!plan.inBase) {
    std::vector<uint8_t> freed = holder.m_bytes;
    PutLe16(freed.data() + ntfs::kRecordFlagsField,
            static_cast<uint16_t>(holder.m_header.m_nFlags & ~CRecordHeader::kFlagInUse));
    PutLe16(freed.data() + ntfs::kRecordSequenceField,
            ntfs::NextSequence(holder.m_header.m_nSequence));
    err = ntfs::PrepareFixups(freed.data(), freed.size());
    if (err == ERROR_SUCCESS) err = WriteRecord(holder.m_nNumber, freed);
    if (err == ERROR_SUCCESS) err = SetRecordInUse(holder.m_nNumber, false);
    if (err == ERROR_SUCCESS) err = m_pDevice->Flush();
  }
  return err;
}

}  // namespace vt
