// The allocation check of an NTFS volume before its first move. A move
// takes its target from $Bitmap, so every cluster a file's runs hold must be
// marked there, and no cluster may be held twice; otherwise a move would
// write one file's bytes over another's.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#include "ondisk/ntfs_layout.h"
#include "ondisk/ntfs_runlist.h"
#include "platform/image/ntfs_file.h"
#include "platform/image/ntfs_volume.h"

namespace vt {

using namespace ntfs;

namespace {

// Folders whose records the pass keeps for the index check (16 MB of
// 1 KB records); the records of any more are read again.
constexpr size_t kKeptFolders = 16384;
// Stretches the pass ahead may have read and checked before the analysis
// takes them.
constexpr size_t kStretchesAhead = 4;
// The pieces a stretch is read and checked in: a fraction of a processor's
// own cache, and a whole number of records of any size.
constexpr uint64_t kPieceBytes = 256 * 1024;

std::string Num(uint64_t n) { return std::to_string(n); }

bool TestBit(const std::vector<uint8_t>& bits, uint64_t i) {
  return (bits[static_cast<size_t>(i / 8)] >> (i % 8)) & 1;
}

}  // namespace

bool CNtfsVolume::NoneInUse(uint64_t from, uint64_t to) const {
  if (from >= to) return true;
  const uint64_t below = m_mft.InUseAtOrBelow(to - 1);  // 0 also when none is
  return below < from || !m_mft.IsInUse(below);
}

bool CNtfsVolume::PassRecord(uint64_t number, const uint8_t* bytes, DWORD readResult) {
  CRecordPass& pass = m_pass;
  pass.m_nNext = number + 1;
  const size_t size = m_geometry.m_nRecordSize;
  const uint64_t total = TotalClusters();
  CRecordHeader header;
  bool damaged =
      readResult != ERROR_SUCCESS || ParseRecordAt(number, bytes, size, &header) != ERROR_SUCCESS;
  // The attributes are judged whole before their runs count: a record
  // whose attributes do not parse is damaged, whatever its runs say.
  enum { kNoProblem, kRunList, kPastEnd } problem = kNoProblem;
  CRun pastEnd;
  if (!damaged) {
    // Extension records are checked as they stand: their clusters belong
    // to their base file, and a cluster held twice is damage either way.
    CCheckedAttributeWalk walk(bytes, size, header);
    CAttribute a;
    while (walk.Next(&a)) {
      if (!header.InUse() || !a.m_bNonResident || problem != kNoProblem) continue;
      pass.m_runs.clear();
      size_t pairs = 0;
      const uint8_t* runList = RunListBytes(bytes, a, &pairs);
      if (DecodeRunList(runList, pairs, a.m_nFirstVcn, &pass.m_runs) != ERROR_SUCCESS) {
        problem = kRunList;
        continue;
      }
      for (const CRun& run : pass.m_runs) {
        if (run.IsSparse() || run.m_nCount == 0) continue;
        if (run.m_nLcn >= total || run.m_nCount > total - run.m_nLcn) {
          problem = kPastEnd;
          pastEnd = run;
          break;
        }
        pass.m_owned.push_back({run.m_nLcn, run.m_nCount, number});
      }
    }
    damaged = walk.Result() != ERROR_SUCCESS;
  }
  if (damaged) {
    pass.m_strProblem = "MFT record " + Num(number) + " is damaged";
  } else if (problem == kRunList) {
    pass.m_strProblem = "MFT record " + Num(number) + ": a run list is damaged";
  } else if (problem == kPastEnd) {
    pass.m_strProblem = "MFT record " + Num(number) +
                        ": a run reaches past the volume's end (clusters " + Num(pastEnd.m_nLcn) +
                        " to " + Num(pastEnd.m_nLcn + pastEnd.m_nCount - 1) + " of " + Num(total) +
                        ")";
  } else if (header.InUse() && header.IsDirectory() && !header.IsExtension()) {
    pass.m_folders.push_back(number);
    uint8_t state = kFolderReread;
    if (pass.m_folders.size() <= kKeptFolders) {
      pass.m_folderRecords.insert(pass.m_folderRecords.end(), bytes, bytes + size);
      state = kFolderKept;
    }
    pass.m_folderStates.push_back(state);
  }
  return pass.m_strProblem.empty();
}

void CNtfsVolume::CheckAlongReads() {
  m_bCheckAlong = !m_bChecked;
  // A volume whose check ends at its unclean state needs no pass; nor is
  // one started twice.
  if (!m_bCheckAlong || m_pAhead || !IsWritable()) return;
  const uint64_t recordSize = m_geometry.m_nRecordSize;
  // Records never straddle a stretch or a piece of one (they are powers of
  // two of at most 64 KB); were one to, the records are checked as served.
  if (CMft::kStretchBytes % recordSize != 0 || kPieceBytes % recordSize != 0) return;
  const uint64_t first = m_pass.m_nNext * recordSize / CMft::kStretchBytes * CMft::kStretchBytes;
  m_pAhead = std::make_unique<CStretchQueue>(first, kStretchesAhead);
  m_nFolderClaim = 0;
  try {
    m_ahead = std::thread([this] { PassAhead(); });
  } catch (const std::system_error&) {
    // No thread to be had: the records are checked as they are served.
    m_pAhead.reset();
    return;
  }
  m_mft.SetStretchSource(m_pAhead.get());
}

void CNtfsVolume::PassAhead() {
  const uint64_t recordSize = m_geometry.m_nRecordSize;
  const uint64_t mftBytes = m_mft.RecordCount() * recordSize;
  std::vector<uint8_t> record(static_cast<size_t>(recordSize));
  // The last two bytes of each sector of a record: all that fix-ups change.
  std::vector<uint16_t> ends(static_cast<size_t>(recordSize / kFixupStride));
  bool going = true;
  for (uint64_t start = m_pass.m_nNext * recordSize / CMft::kStretchBytes * CMft::kStretchBytes;
       going && start < mftBytes && !m_bStopAhead; start += CMft::kStretchBytes) {
    const uint64_t end = std::min(start + CMft::kStretchBytes, mftBytes);
    CAlignedBytes stretch = m_pAhead->Buffer();
    stretch.resize(static_cast<size_t>(end - start));
    // Read a piece at a time and checked while the piece is still in the
    // processor's cache. Each record as the MFT's reader gives it: from the
    // stretch, or read alone where the stretch did not read whole. In the
    // stretch its fix-ups are applied where it lies and undone after, so
    // that the stretch is handed over as stored.
    bool whole = true;
    for (uint64_t piece = start; going && piece < end; piece += kPieceBytes) {
      const uint64_t stop = std::min(piece + kPieceBytes, end);
      const bool read =
          ReadStream(*m_pDevice, m_geometry, m_mft.Data(), piece, stretch.data() + (piece - start),
                     static_cast<size_t>(stop - piece)) == ERROR_SUCCESS;
      whole = whole && read;
      for (uint64_t number = std::max(piece / recordSize, m_pass.m_nNext);
           going && number < stop / recordSize; ++number) {
        if (!m_mft.IsInUse(number)) continue;
        if (read) {
          uint8_t* at = stretch.data() + (number * recordSize - start);
          for (size_t k = 0; k < ends.size(); ++k) ends[k] = Le16(at + (k + 1) * kFixupStride - 2);
          going = PassRecord(number, at, ApplyFixups(at, record.size()));
          for (size_t k = 0; k < ends.size(); ++k)
            PutLe16(at + (k + 1) * kFixupStride - 2, ends[k]);
          continue;
        }
        DWORD err = ReadStream(*m_pDevice, m_geometry, m_mft.Data(), number * recordSize,
                               record.data(), record.size());
        if (err == ERROR_SUCCESS) err = ApplyFixups(record.data(), record.size());
        going = PassRecord(number, record.data(), err);
      }
    }
    // A stretch cut short by a problem is not handed over either: the
    // analysis reads it itself.
    whole = whole && going;
    if (whole)
      m_pAhead->Put(start, std::move(stretch));
    else
      m_pAhead->Skip(start, std::move(stretch));
  }
  m_pAhead->Finish();
  WalkKeptFolders();
}

void CNtfsVolume::WalkKeptFolders() {
  // Once the records are through, the pass's lists change no more but for
  // the states of the folders, each written by the thread that took it.
  const CRecordPass& pass = m_pass;
  if (!pass.m_strProblem.empty()) return;
  const size_t recordSize = m_geometry.m_nRecordSize;
  const CIndexVisitor any = [](const CIndexEntry&) { return true; };
  CAlignedBytes index;
  for (size_t k = m_nFolderClaim++; k < pass.m_folders.size() && !m_bStopAhead;
       k = m_nFolderClaim++) {
    if (pass.m_folderStates[k] != kFolderKept) continue;
    const uint64_t number = pass.m_folders[k];
    const auto at = pass.m_folderRecords.begin() + static_cast<std::ptrdiff_t>(k * recordSize);
    std::vector<uint8_t> bytes(at, at + static_cast<std::ptrdiff_t>(recordSize));
    CLoadedRecord parsed;
    bool listed = false;
    if (ParseRecord(number, bytes, &parsed) == ERROR_SUCCESS) {
      for (const CAttribute& a : parsed.m_attributes)
        listed = listed || a.m_nType == kAttrAttributeList;
    }
    if (listed) continue;
    CFileRecords folder;
    DWORD err = folder.Load(m_mft, number, std::move(bytes));
    if (err == ERROR_SUCCESS) err = WalkFolder(folder, any, &index);
    m_pass.m_folderStates[k] = err == ERROR_SUCCESS ? kFolderWalked : kFolderDamaged;
  }
}

void CNtfsVolume::JoinPassAhead() {
  if (!m_pAhead) return;
  m_pAhead->Release();
  // The folders are walked by both threads once the records are through.
  if (!m_bStopAhead) {
    m_pAhead->WaitFinished();
    WalkKeptFolders();
  }
  if (m_ahead.joinable()) m_ahead.join();
  m_mft.SetStretchSource(nullptr);
  m_pAhead.reset();
}

void CNtfsVolume::StopPassAhead() {
  m_bStopAhead = true;
  JoinPassAhead();
}

DWORD CNtfsVolume::CheckAllocation(CAllocationCheck* result) {
  return WalkAllocation(result, nullptr);
}

DWORD CNtfsVolume::WalkAllocation(CAllocationCheck* result,
                                  std::vector<std::pair<uint64_t, uint64_t>>* ownedRuns) {
  *result = CAllocationCheck();
  // The pass ahead ends on its own, with the records it had to check.
  JoinPassAhead();
  CommitGroup();
  // Records served from now on are for whoever asks, not for this check.
  m_bChecked = true;
  m_bCheckAlong = false;
  CRecordPass pass = std::move(m_pass);
  m_pass = CRecordPass();
  // A volume marked dirty, or whose log holds changes not yet applied, is
  // not to be changed behind its checker's back.
  if (!IsWritable()) {
    result->m_strProblem = m_strUnclean;
    return ERROR_SUCCESS;
  }
  const uint64_t total = TotalClusters();
  const size_t bitmapBytes = static_cast<size_t>((total + 7) / 8);
  // Every run of every record in use, checked for overlaps once sorted:
  // no second bitmap of the whole volume is needed for ownership. The
  // records an analysis has not served are read here.
  if (pass.m_strProblem.empty() && !NoneInUse(pass.m_nNext, m_mft.RecordCount())) {
    m_pass = std::move(pass);
    std::vector<uint8_t> bytes(m_geometry.m_nRecordSize);
    for (uint64_t number = m_pass.m_nNext; number < m_mft.RecordCount(); ++number) {
      if (!m_mft.IsInUse(number)) continue;
      if (!PassRecord(number, bytes.data(), m_mft.ReadRecordInto(number, bytes.data()))) break;
    }
    pass = std::move(m_pass);
    m_pass = CRecordPass();
  }
  if (!pass.m_strProblem.empty()) {
    result->m_strProblem = pass.m_strProblem;
    return ERROR_SUCCESS;
  }
  std::vector<COwnedRun>& owned = pass.m_owned;
  // Records are mostly in the order of their clusters already.
  const auto byLcn = [](const COwnedRun& a, const COwnedRun& b) { return a.lcn < b.lcn; };
  if (!std::is_sorted(owned.begin(), owned.end(), byLcn))
    std::sort(owned.begin(), owned.end(), byLcn);
  uint64_t ownedClusters = 0;
  uint64_t end = 0;  // one past the highest cluster owned so far
  for (const COwnedRun& run : owned) {
    if (run.lcn < end) {
      result->m_strProblem = "MFT record " + Num(run.record) + ": cluster " + Num(run.lcn) +
                             " belongs to another file as well";
      return ERROR_SUCCESS;
    }
    end = run.lcn + run.count;
    ownedClusters += run.count;
  }
  // $Bitmap is read a megabyte at a time (eight million clusters): every
  // owned cluster must be marked, and the marked ones are counted 64 at a
  // time (a volume of terabytes has hundreds of millions of clusters).
  const size_t kChunk = size_t(1) << 20;
  std::vector<uint8_t> marked(std::min(kChunk, bitmapBytes));
  uint64_t markedClusters = 0;
  size_t next = 0;  // the next owned run to test
  uint64_t pos = owned.empty() ? total : owned[0].lcn;
  for (size_t offset = 0; offset < bitmapBytes; offset += kChunk) {
    const size_t n = std::min(kChunk, bitmapBytes - offset);
    DWORD err = ReadStream(*m_pDevice, m_geometry, m_bitmap, offset, marked.data(), n);
    if (err != ERROR_SUCCESS) {
      result->m_strProblem = "$Bitmap cannot be read";
      return ERROR_SUCCESS;
    }
    const uint64_t first = uint64_t(offset) * 8;
    const uint64_t last = std::min<uint64_t>(total, first + uint64_t(n) * 8);
    const uint64_t words = (last - first) / 64;
    for (uint64_t w = 0; w < words; ++w) {
      uint64_t m = 0;
      std::memcpy(&m, &marked[static_cast<size_t>(w * 8)], 8);
      markedClusters += static_cast<uint64_t>(__builtin_popcountll(m));
    }
    for (uint64_t lcn = first + words * 64; lcn < last; ++lcn)
      markedClusters += TestBit(marked, lcn - first);
    while (next < owned.size() && pos < last) {
      const COwnedRun& run = owned[next];
      const uint64_t stop = std::min(run.lcn + run.count, last);
      while (pos < stop) {
        const uint64_t at = pos - first;
        // Whole bytes of eight marked clusters at a time.
        if (at % 8 == 0 && stop - pos >= 8 && marked[static_cast<size_t>(at / 8)] == 0xFF) {
          pos += 8;
          continue;
        }
        if (!TestBit(marked, at)) {
          result->m_strProblem = "MFT record " + Num(run.record) + ": cluster " + Num(pos) +
                                 " is in use but free in $Bitmap";
          return ERROR_SUCCESS;
        }
        ++pos;
      }
      if (pos == run.lcn + run.count && ++next < owned.size()) pos = owned[next].lcn;
    }
  }
  // A folder whose index cannot be walked hides the files below it: they
  // can be neither opened nor moved.
  const CIndexVisitor any = [](const CIndexEntry&) { return true; };
  CAlignedBytes index;
  const size_t recordSize = m_geometry.m_nRecordSize;
  for (size_t k = 0; k < pass.m_folders.size(); ++k) {
    const uint64_t number = pass.m_folders[k];
    const uint8_t state = pass.m_folderStates[k];
    DWORD err = state == kFolderDamaged ? ERROR_FILE_CORRUPT : ERROR_SUCCESS;
    if (state == kFolderKept || state == kFolderReread) {
      CFileRecords folder;
      if (state == kFolderKept) {
        // The first folders' records are all kept, in order.
        const auto at = pass.m_folderRecords.begin() + static_cast<std::ptrdiff_t>(k * recordSize);
        err = folder.Load(m_mft, number, std::vector<uint8_t>(at, at + recordSize));
      } else {
        err = folder.Load(m_mft, number);
      }
      if (err == ERROR_SUCCESS) err = WalkFolder(folder, any, &index);
    }
    if (err != ERROR_SUCCESS) {
      result->m_strProblem =
          "a corrupt index block in " +
          (number == kRecordRoot ? std::string("the root folder") : "folder record " + Num(number));
      return ERROR_SUCCESS;
    }
  }
  // Every owned cluster is marked and owned once, so the lost ones are the
  // marked ones less the owned ones.
  result->m_nLostClusters = markedClusters - ownedClusters;
  if (ownedRuns) {
    for (const COwnedRun& run : owned) ownedRuns->emplace_back(run.lcn, run.count);
  }
  return ERROR_SUCCESS;
}

}  // namespace vt
