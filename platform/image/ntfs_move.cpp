// FSCTL_MOVE_FILE on NTFS images, and whether the volume may be written.
//
// Moves are gathered in groups, and each group is ordered so that a crash
// at any write leaves every file's data intact, at worst with clusters
// marked in use that no file owns, which the group's intent record lets the
// next open free (RecoverInterrupted below):
//   a move copies its clusters to the free target at once; the target's
//   marks in $Bitmap and the new run lists of the file records holding the
//   segments the move touches (the base record, or extension records found
//   through the attribute list, each covering its own VCN range, each with
//   a fresh update sequence) are held back by the device (held_writes.h),
//   and reads see them as made. Its old clusters wait. The commit (the group
//   full, the volume bitmap read, a target among the clusters the group
//   lets go of, a record to split, the last volume handle closed):
//   1. flush, and at the same time the intent record beside the volume:
//      every cluster moved from or to, and those the group before freed;
//   2. every target read back past the cache and compared with its source;
//      a difference abandons the group (only free clusters were written)
//      and fails with ERROR_CRC;
//   3. the targets marked in $Bitmap, flushed (nothing names them yet);
//   4. the records, flushed;
//   5. the old clusters freed in $Bitmap, stored by the next group's first
//      flush (whose record names them too) or the last one, after
//      which the record goes.
// So a group costs three flushes, whatever its size.
//
// A folder's clusters are the index blocks of its $I30 index allocation
// (blocks hold their own VCN, not their place, so they move as they are);
// a file's are those of its unnamed $DATA.
//
// What is refused, with the code Windows gives where it gives one:
// * records below 24 (the metafiles and their reserve): ERROR_ACCESS_DENIED;
// * a file without non-resident unnamed data (a folder without an index
//   allocation), or a range past its allocation or touching a sparse run,
//   or a target past the volume's end: ERROR_INVALID_PARAMETER;
// * a target that is not wholly free: ERROR_ACCESS_DENIED;
// * a new run list that does not fit in its record, when no free record or
//   room is left to split the segment into (ntfs_grow.cpp): ERROR_DISK_FULL,
//   and nothing is changed;
// * a file whose record to rewrite is split over two pieces of the MFT (a
//   crash between their writes would tear it): ERROR_NOT_SUPPORTED;
// * data that reads back different from what was written: ERROR_CRC, with
//   only free clusters written.
#include <algorithm>
#include <cstring>

#include "base/aligned.h"
#include "ondisk/ntfs_layout.h"
#include "platform/image/copy_check.h"
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
using ntfs::InOnePlace;
using ntfs::RewriteRunList;
using ntfs::WriteStream;

namespace {

constexpr size_t kCopyChunk = 1 << 20;
// A group is committed once its moves reach either bound.
constexpr uint64_t kGroupBytes = 64u << 20;
constexpr size_t kGroupMoves = 512;
constexpr uint64_t kFreeGroupBytes = 64 * 1024;
// Splits of full records one move may make before it gives up.
constexpr int kMaxSplits = 8;

using ntfs::kRecordLogFile;
using ntfs::volinfo::kVolumeDirty;
constexpr size_t kVolumeFlags = ntfs::volinfo::kFlags;
using namespace ntfs::logfile;
constexpr size_t kRestartPageSize = kSystemPageSize;
constexpr size_t kRestartAreaOffset = kRestartArea;
// The restart page is read first as this much, then as the size it states.
constexpr size_t kFirstLogBytes = 4096;

// The runs of `runs` inside [vcn, vcn + count), cut to it.
std::vector<CRun> Slice(const std::vector<CRun>& runs, uint64_t vcn, uint64_t count) {
  std::vector<CRun> out;
  for (const CRun& run : runs) {
    const uint64_t begin = std::max(vcn, run.m_nVcn);
    const uint64_t end = std::min(vcn + count, run.EndVcn());
    if (begin >= end) continue;
    CRun piece = run;
    piece.m_nVcn = begin;
    piece.m_nCount = end - begin;
    if (!run.IsSparse()) piece.m_nLcn = run.m_nLcn + (begin - run.m_nVcn);
    out.push_back(piece);
  }
  return out;
}

// `runs` with [vcn, vcn + count) stored from `lcn`.
std::vector<CRun> Remapped(const std::vector<CRun>& runs, uint64_t vcn, uint64_t lcn,
                           uint64_t count) {
  const uint64_t end = runs.empty() ? 0 : runs.back().EndVcn();
  std::vector<CRun> out = Slice(runs, 0, vcn);
  CRun moved;
  moved.m_nVcn = vcn;
  moved.m_nLcn = lcn;
  moved.m_nCount = count;
  out.push_back(moved);
  for (const CRun& run : Slice(runs, vcn + count, end - (vcn + count))) out.push_back(run);
  ntfs::MergeRuns(&out);
  return out;
}

}  // namespace

void CNtfsVolume::JudgeClean() {
  m_strUnclean.clear();
  CFileRecords volumeFile;
  CStream info;
  bool found = false;
  if (volumeFile.Load(m_mft, ntfs::kRecordVolume) != ERROR_SUCCESS ||
      volumeFile.FindStream(ntfs::kAttrVolumeInformation, u"", &info, &found) != ERROR_SUCCESS ||
      !found || !info.m_bResident || info.m_value.size() < kVolumeFlags + 2) {
    m_strUnclean = "the volume information in $Volume cannot be read";
    return;
  }
  if (Le16(info.m_value.data() + kVolumeFlags) & kVolumeDirty) {
    m_strUnclean = "the volume is marked dirty";
    return;
  }

  CFileRecords logFile;
  CStream log;
  if (logFile.Load(m_mft, kRecordLogFile) != ERROR_SUCCESS ||
      logFile.FindStream(ntfs::kAttrData, u"", &log, &found) != ERROR_SUCCESS || !found ||
      log.Size() < kFirstLogBytes) {
    m_strUnclean = "$LogFile cannot be read";
    return;
  }
  std::vector<uint8_t> page(kFirstLogBytes);
  if (ntfs::ReadStream(*m_pDevice, m_geometry, log, 0, page.data(), page.size()) != ERROR_SUCCESS) {
    m_strUnclean = "$LogFile cannot be read";
    return;
  }
  // A log emptied at a clean unmount is all 0xFF.
  if (std::all_of(page.begin(), page.end(), [](uint8_t b) { return b == 0xFF; })) return;
  const uint32_t magic = Le32(page.data());
  const uint32_t pageSize = Le32(page.data() + kRestartPageSize);
  if ((magic != kRestartMagic && magic != kChkdskMagic) || pageSize < ntfs::kFixupStride ||
      pageSize > 65536 || (pageSize & (pageSize - 1)) != 0 || pageSize > log.Size()) {
    m_strUnclean = "the $LogFile restart page is damaged";
    return;
  }
  page.resize(pageSize);
  if (ntfs::ReadStream(*m_pDevice, m_geometry, log, 0, page.data(), page.size()) != ERROR_SUCCESS ||
      ntfs::ApplyFixups(page.data(), page.size()) != ERROR_SUCCESS) {
    m_strUnclean = "the $LogFile restart page is damaged";
    return;
  }
  const size_t area = Le16(page.data() + kRestartAreaOffset);
  if (area < kRestartAreaOffset + 2 || area + kAreaFlags + 2 > page.size()) {
    m_strUnclean = "the $LogFile restart area is damaged";
    return;
  }
  const uint16_t inUse = Le16(page.data() + area + kAreaInUseList);
  const uint16_t flags = Le16(page.data() + area + kAreaFlags);
  if (inUse != kNoClient && !(flags & kAreaVolumeClean)) {
    m_strUnclean = "$LogFile holds changes not yet applied (unclean shutdown or hibernation)";
  }
}

DWORD CNtfsVolume::AllFree(uint64_t lcn, uint64_t count, bool* free) {
  *free = false;
  std::vector<uint8_t> bits(static_cast<size_t>(std::min<uint64_t>(count, kCopyChunk * 8) + 7) / 8);
  for (uint64_t done = 0; done < count;) {
    const uint64_t n = std::min<uint64_t>(count - done, kCopyChunk * 8);
    std::fill(bits.begin(), bits.end(), 0);
    DWORD err = GetBitmap(lcn + done, n, bits.data());
    if (err != ERROR_SUCCESS) return err;
    // Bits past n stay zero, so any set byte is a used cluster.
    const size_t used = static_cast<size_t>((n + 7) / 8);
    for (size_t i = 0; i < used; ++i)
      if (bits[i] != 0) return ERROR_SUCCESS;
    done += n;
  }
  *free = true;
  return ERROR_SUCCESS;
}

DWORD CNtfsVolume::MarkUsed(uint64_t lcn, uint64_t count) {
  if (count == 0) return ERROR_SUCCESS;
  const uint64_t firstByte = lcn / 8;
  const uint64_t endByte = (lcn + count + 7) / 8;
  std::vector<uint8_t> bytes(static_cast<size_t>(endByte - firstByte));
  DWORD err =
      ntfs::ReadStream(*m_pDevice, m_geometry, m_bitmap, firstByte, bytes.data(), bytes.size());
  if (err != ERROR_SUCCESS) return ERROR_DISK_CORRUPT;
  for (uint64_t c = lcn; c < lcn + count; ++c) {
    uint8_t& b = bytes[static_cast<size_t>(c / 8 - firstByte)];
    const auto bit = static_cast<uint8_t>(1u << (c % 8));
    b = static_cast<uint8_t>(b | bit);
  }
  err = WriteStream(*m_pDevice, m_geometry, m_bitmap, firstByte, bytes.data(), bytes.size());
  if (err != ERROR_SUCCESS) return err;
  m_nFreeClusters -= std::min(m_nFreeClusters, count);
  return ERROR_SUCCESS;
}

DWORD CNtfsVolume::CopyClusters(const std::vector<CRun>& from, uint64_t lcn) {
  // The pieces in file order land one after another from `lcn`, gathered
  // into large writes; the target's marks wait for the commit.
  const uint64_t cb = BytesPerCluster();
  CAlignedBytes& buffer = m_buffers.m_copy;  // page-aligned, grown without zeroing
  uint64_t target = lcn;
  for (const CRun& run : from) {
    for (uint64_t done = 0; done < run.m_nCount;) {
      const uint64_t n =
          std::min<uint64_t>(run.m_nCount - done, std::max<uint64_t>(1, kCopyChunk / cb));
      buffer.resize(static_cast<size_t>(n * cb));
      DWORD err = m_pDevice->Read(LcnOffset(run.m_nLcn + done), buffer.data(), buffer.size());
      if (err == ERROR_SUCCESS)
        err = m_pDevice->Write(LcnOffset(target), buffer.data(), buffer.size());
      if (err != ERROR_SUCCESS) return err;
      m_group.push_back(CGroupCopy{run.m_nLcn + done, target, n});
      m_bUnflushed = true;
      done += n;
      target += n;
    }
  }
  uint64_t total = target - lcn;
  m_pHeld->HoldFor(CHeldWriteDevice::kChains);
  DWORD err = MarkUsed(lcn, total);
  m_pHeld->HoldFor(CHeldWriteDevice::kDirect);
  return err;
}

DWORD CNtfsVolume::VerifyGroup() {
  const uint64_t cb = BytesPerCluster();
  std::vector<CCopiedRange> copies;
  copies.reserve(m_group.size());
  for (const CGroupCopy& copy : m_group) {
    copies.push_back(
        CCopiedRange{LcnOffset(copy.m_nFrom), LcnOffset(copy.m_nTo), copy.m_nCount * cb});
  }
  return CheckCopies(*m_pDevice, std::move(copies), m_buffers);
}

void CNtfsVolume::AbandonGroup() {
  m_pHeld->DropHeld();
  m_pHeld->HoldFor(CHeldWriteDevice::kDirect);
  m_group.clear();
  m_groupFrees.clear();
  m_nGroupBytes = 0;
  m_mft.DropReadAhead();
  m_folderCache.clear();
  FoldersChanged();
  CountFree(nullptr);
}

DWORD CNtfsVolume::CommitGroup() {
  if (m_group.empty()) return ERROR_SUCCESS;
  CIntentRecord record;
  record.m_dwSerial = Serial();
  for (const CGroupCopy& copy : m_group) {
    record.m_clusters.emplace_back(copy.m_nFrom, copy.m_nCount);
    record.m_clusters.emplace_back(copy.m_nTo, copy.m_nCount);
  }
  DWORD err = m_records.StoreWithFlush(std::move(record), [this] { return m_pDevice->Flush(); });
  if (err == ERROR_SUCCESS) err = VerifyGroup();
  if (err != ERROR_SUCCESS) {
    AbandonGroup();
    return err;
  }
  err = m_pHeld->Release(CHeldWriteDevice::kChains);
  if (err == ERROR_SUCCESS) err = m_pDevice->Flush();
  if (err == ERROR_SUCCESS) err = m_pHeld->Release(CHeldWriteDevice::kSwitch);
  if (err == ERROR_SUCCESS) err = m_pDevice->Flush();
  if (err != ERROR_SUCCESS) {
    // Part of the group may be stored: the record stays for the next open.
    m_records.Keep();
    AbandonGroup();
    return err;
  }
  std::vector<CRun> frees = std::move(m_groupFrees);
  m_groupFrees.clear();
  m_group.clear();
  m_nGroupBytes = 0;
  // The frees are stored by the next flush: the next group's first (whose
  // record names them too) or the last.
  m_bUnflushed = true;
  for (const CRun& run : frees) m_records.Freed(run.m_nLcn, run.m_nCount);
  err = FreeRuns(std::move(frees));
  if (err != ERROR_SUCCESS) m_records.Keep();
  return err;
}

DWORD CNtfsVolume::RecoverInterrupted(const CIntentRecord& record) {
  // Every record a group writes is whole on its own, so each file names
  // either its old clusters or its new ones: what the group names that no
  // file owns and $Bitmap marks is what it left behind.
  CAllocationCheck check;
  std::vector<std::pair<uint64_t, uint64_t>> owned;
  DWORD err = WalkAllocation(&check, &owned);
  if (err != ERROR_SUCCESS) return err;
  if (!check.IsConsistent()) return ERROR_DISK_CORRUPT;  // for the checker to judge
  // The record names runs in the order the group moved them, often a
  // cluster twice (a target moved on again): the unowned, marked ones are
  // gathered, sorted and freed once each.
  std::vector<uint64_t> lost;
  const uint64_t total = TotalClusters();
  std::vector<uint8_t> bits;
  for (const auto& run : record.m_clusters) {
    if (run.first >= total) continue;
    const uint64_t count = std::min(run.second, total - run.first);
    bits.assign(static_cast<size_t>((count + 7) / 8), 0);
    err = GetBitmap(run.first, count, bits.data());
    if (err != ERROR_SUCCESS) return err;
    for (uint64_t i = 0; i < count; ++i) {
      if (!(bits[static_cast<size_t>(i / 8)] & (1u << (i % 8)))) continue;
      const uint64_t lcn = run.first + i;
      auto it = std::upper_bound(owned.begin(), owned.end(), std::make_pair(lcn, UINT64_MAX));
      if (it != owned.begin() && lcn - std::prev(it)->first < std::prev(it)->second) continue;
      lost.push_back(lcn);
    }
  }
  std::sort(lost.begin(), lost.end());
  lost.erase(std::unique(lost.begin(), lost.end()), lost.end());
  std::vector<CRun> frees;
  for (uint64_t lcn : lost) {
    if (!frees.empty() && frees.back().m_nLcn + frees.back().m_nCount == lcn) {
      ++frees.back().m_nCount;
      continue;
    }
    CRun piece;
    piece.m_nLcn = lcn;
    piece.m_nCount = 1;
    frees.push_back(piece);
  }
  if (!frees.empty()) {
    err = FreeRuns(frees);
    if (err == ERROR_SUCCESS) err = m_pDevice->Flush();
    if (err != ERROR_SUCCESS) return err;
  }
  RemoveIntentRecord(m_records.m_strPath);
  return ERROR_SUCCESS;
}

DWORD CNtfsVolume::FreeRuns(std::vector<CRun> runs) {
  // Runs whose bitmap bytes lie close together are freed by one write.
  std::sort(runs.begin(), runs.end(),
            [](const CRun& a, const CRun& b) { return a.m_nLcn < b.m_nLcn; });
  for (size_t i = 0; i < runs.size();) {
    size_t j = i + 1;
    while (j < runs.size() &&
           (runs[j].m_nLcn + runs[j].m_nCount) / 8 - runs[i].m_nLcn / 8 < kFreeGroupBytes) {
      ++j;
    }
    const uint64_t first = runs[i].m_nLcn;
    const uint64_t end = runs[j - 1].m_nLcn + runs[j - 1].m_nCount;
    const uint64_t firstByte = first / 8;
    std::vector<uint8_t> bytes(static_cast<size_t>((end + 7) / 8 - firstByte));
    DWORD err =
        ntfs::ReadStream(*m_pDevice, m_geometry, m_bitmap, firstByte, bytes.data(), bytes.size());
    if (err != ERROR_SUCCESS) return ERROR_DISK_CORRUPT;
    for (size_t k = i; k < j; ++k) {
      for (uint64_t c = runs[k].m_nLcn; c < runs[k].m_nLcn + runs[k].m_nCount; ++c) {
        uint8_t& b = bytes[static_cast<size_t>(c / 8 - firstByte)];
        b = static_cast<uint8_t>(b & ~(1u << (c % 8)));
      }
      m_nFreeClusters += runs[k].m_nCount;
    }
    err = WriteStream(*m_pDevice, m_geometry, m_bitmap, firstByte, bytes.data(), bytes.size());
    if (err != ERROR_SUCCESS) return err;
    i = j;
  }
  return ERROR_SUCCESS;
}

DWORD CNtfsVolume::MoveClusters(CFsNode* node, uint64_t vcn, uint64_t lcn, uint64_t count) {
  if (count == 0) return ERROR_INVALID_PARAMETER;
  if (!IsWritable()) return ERROR_WRITE_PROTECT;
  const uint64_t number = ntfs::RecordNumberOf(node->m_nRef);
  if (number < ntfs::kFirstMovableRecord) return ERROR_ACCESS_DENIED;
  // Every record holding a segment the move touches, with the segment's new
  // run list, made and checked before any write. A segment that no longer
  // fits its record is split first (ntfs_grow.cpp) and the plan made again.
  CFileRecords file;
  std::vector<CRun> source;
  std::vector<std::pair<uint64_t, std::vector<uint8_t>>> records;
  DWORD err = ERROR_SUCCESS;
  for (int splits = 0;; ++splits) {
    err = file.Load(m_mft, node->m_nRef);
    if (err != ERROR_SUCCESS) return err;
    const bool folder = file.Header().IsDirectory();
    const uint32_t type = folder ? ntfs::kAttrIndexAllocation : ntfs::kAttrData;
    const std::u16string name = folder ? ntfs::kIndexI30 : u"";
    CStream stream;
    bool found = false;
    err = file.FindStream(type, name, &stream, &found);
    if (err != ERROR_SUCCESS) return err;
    if (!found || stream.m_bResident) return ERROR_INVALID_PARAMETER;
    const uint64_t clusters = stream.m_runs.empty() ? 0 : stream.m_runs.back().EndVcn();
    if (vcn >= clusters || count > clusters - vcn) return ERROR_INVALID_PARAMETER;
    const uint64_t total = TotalClusters();
    if (lcn >= total || count > total - lcn) return ERROR_INVALID_PARAMETER;

    source = Slice(stream.m_runs, vcn, count);
    bool already = true;
    for (const CRun& run : source) {
      if (run.IsSparse()) return ERROR_INVALID_PARAMETER;
      if (run.m_nLcn != lcn + (run.m_nVcn - vcn)) already = false;
    }
    if (already) return ERROR_SUCCESS;
    for (const CRun& held : m_groupFrees) {
      if (held.m_nLcn < lcn + count && lcn < held.m_nLcn + held.m_nCount) {
        // The target is what the group lets go of: free once it is committed.
        err = CommitGroup();
        if (err != ERROR_SUCCESS) return err;
        break;
      }
    }
    bool free = false;
    err = AllFree(lcn, count, &free);
    if (err != ERROR_SUCCESS) return err;
    if (!free) return ERROR_ACCESS_DENIED;

    const std::vector<CRun> remapped = Remapped(stream.m_runs, vcn, lcn, count);
    records.clear();
    bool split = false;
    for (size_t index = 0; index < file.Records().size() && !split; ++index) {
      const CLoadedRecord& record = file.Records()[index];
      std::vector<uint8_t> bytes = record.m_bytes;
      CRecordHeader header = record.m_header;
      bool changed = false;
      // Offsets shift as segments change length: walk from the last one back.
      for (auto a = record.m_attributes.rbegin(); a != record.m_attributes.rend(); ++a) {
        if (a->m_nType != type || a->m_name != name || !a->m_bNonResident) continue;
        const uint64_t first = a->m_nFirstVcn;
        const uint64_t end = first + a->VcnCount();
        if (end <= vcn || first >= vcn + count) continue;
        std::vector<CRun> runs = Slice(remapped, first, end - first);
        ntfs::MergeRuns(&runs);
        err = RewriteRunList(*a, runs, &bytes, &header);
        if (err == ERROR_DISK_FULL && splits < kMaxSplits) {
          // A split writes records of its own, in an order of its own.
          err = CommitGroup();
          if (err != ERROR_SUCCESS) return err;
          err = SplitSegment(file, index, *a, lcn, count);
          if (err != ERROR_SUCCESS) return err;
          split = true;
          break;
        }
        if (err != ERROR_SUCCESS) return err;
        changed = true;
      }
      if (split || !changed) continue;
      // A record split over two places in the MFT would be written in two
      // pieces, and a crash between them would leave it torn.
      const uint64_t recordBytes = m_geometry.m_nRecordSize;
      if (!InOnePlace(m_geometry, m_mft.Data(), record.m_nNumber * recordBytes, recordBytes)) {
        return ERROR_NOT_SUPPORTED;
      }
      CLoadedRecord check;
      if (ntfs::ParseRecord(record.m_nNumber, bytes, &check) != ERROR_SUCCESS) {
        return ERROR_FILE_CORRUPT;
      }
      err = ntfs::PrepareFixups(bytes.data(), bytes.size());
      if (err != ERROR_SUCCESS) return err;
      records.emplace_back(record.m_nNumber, std::move(bytes));
    }
    if (!split) break;
  }
  if (records.empty()) return ERROR_FILE_CORRUPT;

  const size_t copiesBefore = m_group.size();
  err = CopyClusters(source, lcn);
  if (err != ERROR_SUCCESS) {
    // Only free clusters were written.
    m_group.resize(copiesBefore);
    return err;
  }
  // Until the old clusters are freed both places hold the data, so records
  // written before a crash and those not yet written both read correctly.
  m_pHeld->HoldFor(CHeldWriteDevice::kSwitch);
  for (const auto& record : records) {
    err = WriteStream(*m_pDevice, m_geometry, m_mft.Data(), record.first * m_geometry.m_nRecordSize,
                      record.second.data(), record.second.size());
    if (err != ERROR_SUCCESS) break;
    m_mft.Rewrote(record.first, record.second);
  }
  m_pHeld->HoldFor(CHeldWriteDevice::kDirect);
  if (err != ERROR_SUCCESS) {
    AbandonGroup();
    return err;
  }
  for (const CRun& run : source) m_groupFrees.push_back(run);
  m_nGroupBytes += count * BytesPerCluster();
  if (m_group.size() >= kGroupMoves || m_nGroupBytes >= kGroupBytes) return CommitGroup();
  return ERROR_SUCCESS;
}

DWORD CNtfsVolume::CommitMoves() {
  const DWORD committed = CommitGroup();
  if (m_bUnflushed) {
    const DWORD err = m_pDevice->Flush();
    if (err != ERROR_SUCCESS) return committed != ERROR_SUCCESS ? committed : err;
    m_bUnflushed = false;
  }
  // Everything the record names is stored.
  m_records.Finish();
  return committed;
}

void CNtfsVolume::EndWrites() { CommitMoves(); }

}  // namespace vt
