// The analysis of a volume: the folder walk, the extents of each item and
// the free-run list built from the volume bitmap.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/le.h"
#include "base/text.h"
#include "engine/defrag.h"
#include "engine/globals.h"
#include "engine/ntfs_reader.h"
#include "engine/retrieval_reply.h"

namespace vt {

namespace {
constexpr uint64_t kNoLcn = ~0ull;

CDriveData* CountingDrive(CDriveData* fallback) {
  CDriveData* drive = CurrentDrive();
  return drive ? drive : fallback;
}

// `width` (1..64) bits of a bitmap from bit `bit` on, bit 0 first; the
// bitmap holds `bytes` bytes and nothing past it is read.
uint64_t LoadBits(const uint8_t* bitmap, uint64_t bytes, uint64_t bit, unsigned width) {
  const uint64_t at = bit >> 3;
  const unsigned shift = static_cast<unsigned>(bit & 7);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  if (shift == 0 && width == 64 && bytes - at >= 8) {
    uint64_t v;
    std::memcpy(&v, bitmap + at, 8);  // the usual case: whole aligned bytes
    return v;
  }
#endif
  uint8_t window[9] = {};
  std::memcpy(window, bitmap + at, static_cast<size_t>(std::min<uint64_t>(9, bytes - at)));
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | window[i];
  v >>= shift;
  if (shift != 0) v |= static_cast<uint64_t>(window[8]) << (64 - shift);
  return width == 64 ? v : v & ((1ull << width) - 1);
}

// The bits of clusters first .. first + width - 1 that lie in `range`.
uint64_t RangeBits(const CLcnRange& range, uint64_t first, unsigned width) {
  if (!range.IsPresent() || range.m_nFirst > range.m_nLast || range.m_nLast < first ||
      range.m_nFirst >= first + width)
    return 0;
  const unsigned from = range.m_nFirst > first ? static_cast<unsigned>(range.m_nFirst - first) : 0;
  const unsigned to = static_cast<unsigned>(std::min<uint64_t>(range.m_nLast - first, width - 1));
  const unsigned len = to - from + 1;
  return (len == 64 ? ~0ull : ((1ull << len) - 1)) << from;
}
}  // namespace

LRESULT CDefrag::SendProgress(unsigned code, LPARAM arg) {
  return Messages().Send(m_hProgressWnd, UM_PROGRESS, code, arg);
}

bool CDefrag::AnalyzeVolume(HWND notifyWnd) {
  m_hNotifyWnd = notifyWnd;
  CDriveData* drive = CountingDrive(m_pDrive);
  if (drive) {
    drive->m_nFolders = 0;
    drive->m_nFiles = 0;
  }
  m_errors.RemoveAll();
  m_folders.clear();
  m_nBytesAnalyzed = 0;

  uint64_t used = 0;
  if (drive && drive->m_nDiskSize > drive->m_nFreeBytes)
    used = drive->m_nDiskSize - drive->m_nFreeBytes;
  SendProgress(PROGRESS_RANGE, reinterpret_cast<LPARAM>(&used));

  m_nRefreshInterval = 100;

  if (!m_bNtfs) {
    ScanFolder(m_strRoot, std::string());
  } else {
    m_dirMap.clear();
    m_dirMap.rehash(7919);
    CNtfsReader reader(*this, m_files, m_dirMap);
    if (!reader.ScanVolume(m_hVolume.Get())) return false;

    // Records whose extents the reader could not see (spread over extension
    // records) are read through the platform. The first 23 items are taken
    // to be the volume's own metadata files and are left as they are; on a
    // volume that stores fewer of those, a user's file (record 24 or above)
    // can sit among the first 23 and is read all the same.
    for (size_t i = 0; i < m_files.GetSize(); ++i) {
      if (IsCancelled()) break;
      if (i < 23 && m_files[i].m_nRecord < 24) continue;
      if (!(m_files[i].m_wFlags & FI_NEEDS_EXTENTS)) continue;
      if (GetItemPath(m_files[i]).empty()) {
        RecordUnresolved(m_files[i]);
        continue;
      }
      GetFileClusters(m_files[i]);
    }

    m_folders.push_back(m_strRoot + "\\");
    const int32_t rootIndex = static_cast<int32_t>(m_folders.size() - 1);
    const struct {
      const char* name;
      const CLcnRange* range;
    } reserved[] = {
        {"$MFT", &m_mftRange}, {"$MFT2", &m_mftZoneRange}, {"$MFT:MIRROR", &m_mftMirrorRange}};
    for (const auto& r : reserved) {
      if (r.range->m_nLast == 0) continue;
      CFileItem item;
      item.m_strName = r.name;
      item.m_wFlags = FI_UNMOVABLE | FI_FOLDER_LIST;
      item.m_nSize = 0;
      item.m_nFolder = rootIndex;
      item.m_nFirstLcn = r.range->m_nFirst;
      item.m_fragments.Add(CFileClusterItem(
          r.range->m_nFirst, static_cast<uint32_t>(r.range->m_nLast - r.range->m_nFirst)));
      m_files.Add(std::move(item));
    }
  }

  if (m_hNotifyWnd) Messages().Send(m_hNotifyWnd, UM_DRIVE_UPDATE, 0, 0);
  return true;
}

void CDefrag::Checkpoint() {
  CDriveData* drive = CountingDrive(m_pDrive);
  uint64_t n = drive ? drive->m_nFiles : 0;
  if (n % 5000 == 0)
    Messages().Post(m_hProgressWnd, UM_PROGRESS, PROGRESS_PERCENT,
                    reinterpret_cast<LPARAM>(&m_nBytesAnalyzed));
  if (n % 2000 == 0) Messages().Send(m_hNotifyWnd, UM_DRIVE_UPDATE, 0, 0);
  if (m_nRefreshInterval != 0 && n % m_nRefreshInterval == 0) {
    if (!IsUnattended() && MapHost()) MapHost()->RebuildMap(*this);
    if (m_nRefreshInterval < 20000) m_nRefreshInterval += 500;
  }
}

void CDefrag::ScanFolder(const std::string& folder, const std::string& nameFilter) {
  CDriveData* drive = CountingDrive(m_pDrive);
  const int32_t f = static_cast<int32_t>(m_folders.size());
  m_folders.push_back(folder);

  // A folder that cannot be listed is reported, not passed over: its files
  // would otherwise be missing from every count without a word.
  auto reportFolder = [&](DWORD error) {
    CFileErrors entry;
    entry.m_strPath = folder;
    entry.m_nSize = 0;
    entry.m_dwError = error;
    m_errors.Add(std::move(entry));
  };
  // Each level of the walk takes stack; a chain of folders deeper than any
  // real volume holds (or a damaged one that loops) ends here.
  constexpr size_t kMaxFolderDepth = 256;
  if (static_cast<size_t>(std::count(folder.begin(), folder.end(), '\\')) > kMaxFolderDepth) {
    reportFolder(ERROR_FILENAME_EXCED_RANGE);
    return;
  }

  WIN32_FIND_DATAA data;
  std::memset(&data, 0, sizeof(data));
  std::string pattern = LongPathForm(folder + "\\*");
  CFindHandle find(&Ops(), Ops().FindFirstFileA(pattern.c_str(), &data));
  if (!find.IsValid()) {
    const DWORD error = Ops().GetLastError();
    // An empty root has no entries at all, not even "." and "..".
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_NO_MORE_FILES) reportFolder(error);
    return;
  }

  if (drive) {
    if (drive->m_nFolders % 200 == 0) {
      std::string text = "Analyzing: " + folder;
      SendProgress(PROGRESS_TEXT, reinterpret_cast<LPARAM>(text.c_str()));
    }
    drive->m_nFolders += 1;
  }

  do {
    if (IsCancelled()) return;
    data.cFileName[MAX_PATH - 1] = '\0';
    data.cAlternateFileName[13] = '\0';
    const std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
    if (!nameFilter.empty() && !EqualsNoCase(nameFilter, name)) continue;

    const bool isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    CFileItem item;
    item.m_strName = name;
    item.m_nFolder = f;
    if (m_bNtfs) item.m_wFlags |= FI_FOLDER_LIST;
    if (isFolder) item.m_wFlags |= FI_DIRECTORY;
    item.m_nSize = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    item.m_ftLastWrite = data.ftLastWriteTime;
    if (isFolder) {
      if (!m_bNtfs) item.m_wFlags |= FI_UNMOVABLE | FI_TAIL_MOVABLE;
    } else if (drive) {
      drive->m_nFiles += 1;
    }

    int rc = GetFileClusters(item);
    if (rc != 0 && data.cAlternateFileName[0] != '\0') {
      item.m_strName = data.cAlternateFileName;
      rc = GetFileClusters(item);
    }
    // The name the item opened by (its short name when the long one failed)
    // is also the one its folder is walked by.
    const std::string opened = folder + "\\" + item.m_strName;
    if (rc != 0) {
      CFileErrors error;
      error.m_strPath = folder + "\\" + name;
      error.m_nSize = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
      error.m_dwError = Ops().GetLastError();
      m_errors.Add(std::move(error));
    } else {
      m_nBytesAnalyzed += item.m_nSize;
      if (item.m_fragments.GetSize() > 0) m_files.Add(std::move(item));
      Checkpoint();
    }

    if (isFolder) ScanFolder(opened, std::string());
    // With a name filter the walk of this folder ends after the named entry.
    if (!nameFilter.empty()) return;
    if (IsCancelled()) return;
  } while (Ops().FindNextFileA(find.Get(), &data));
  const DWORD error = Ops().GetLastError();
  if (error != ERROR_NO_MORE_FILES && error != ERROR_SUCCESS) reportFolder(error);
}

int CDefrag::GetFileClusters(CFileItem& item, HANDLE handle, const std::vector<uint64_t>* probe,
                             DWORD* queryError) {
  item.m_nFirstLcn = 0;
  item.m_fragments.RemoveAll();

  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) {
    handle = OpenFileForMove(GetItemPath(item));
    if (handle == INVALID_HANDLE_VALUE) return 1;
  }
  CHandle file(&Ops(), handle);
  const DWORD error = ReadExtents(item, file.Get());
  if (queryError) *queryError = error;

  if (item.m_nSize == 0) {
    LARGE_INTEGER size;
    size.QuadPart = 0;
    if (Ops().GetFileSizeEx(file.Get(), &size)) item.m_nSize = static_cast<uint64_t>(size.QuadPart);
  }
  item.m_fragments.FreeExtra();
  file.Close();

  if (probe && !m_bXPOrLater) {
    size_t checked = 0;
    for (uint64_t position : *probe) {
      if (++checked > 100) break;
      bool inside = false;
      for (const auto& fragment : item.m_fragments) {
        if (position >= fragment.m_nLcn && position < fragment.m_nLcn + fragment.m_nClusters) {
          inside = true;
          break;
        }
      }
      if (!inside) {
        item.m_nMoveFailures += 1;
        if (item.m_nMoveFailures > 4) item.SetUnmovable();
        BuildFreeRunList();
        return ERROR_ACCESS_DENIED;
      }
    }
  }
  return 0;
}

DWORD CDefrag::ReadExtents(CFileItem& item, HANDLE handle) {
  item.m_nFirstLcn = 0;
  item.m_fragments.RemoveAll();
  if (m_retrievalReply.size() != kRetrievalReplySize) m_retrievalReply.resize(kRetrievalReplySize);
  std::vector<uint8_t>& reply = m_retrievalReply;
  const CRetrievalReply extents(reply);
  STARTING_VCN_INPUT_BUFFER request = {};
  request.StartingVcn.QuadPart = 0;
  bool first = true;
  bool seenClusters = false;
  uint64_t previousNext = 0;
  uint64_t end = kNoLcn;  // end of the last extent that had clusters
  for (;;) {
    DWORD returned = 0;
    BOOL ok = Ops().DeviceIoControl(handle, FSCTL_GET_RETRIEVAL_POINTERS, &request, sizeof(request),
                                    reply.data(), static_cast<DWORD>(reply.size()), &returned);
    DWORD error = ok ? ERROR_SUCCESS : Ops().GetLastError();
    if (!ok && error != ERROR_MORE_DATA) return error;

    const uint32_t count = extents.Count();
    if (first) {
      previousNext = extents.StartingVcn();
      first = false;
    }
    const uint64_t askedFrom = static_cast<uint64_t>(request.StartingVcn.QuadPart);
    for (uint32_t i = 0; i < count; ++i) {
      const uint64_t next = extents.NextVcn(i);
      const uint64_t lcn = extents.Lcn(i);
      const uint64_t length = next - previousNext;
      if (!seenClusters) item.m_nFirstLcn = lcn;
      if (lcn == kNoLcn) {
        item.m_wFlags |= FI_VIRTUAL;
      } else {
        if (seenClusters && lcn == end && item.m_fragments.GetSize() > 0) {
          item.m_fragments.back().m_nClusters += static_cast<uint32_t>(length);
        } else {
          item.m_fragments.Add(CFileClusterItem(lcn, static_cast<uint32_t>(length)));
        }
        end = lcn + length;
        seenClusters = true;
      }
      previousNext = next;
    }
    if (error != ERROR_MORE_DATA) return ERROR_SUCCESS;
    // A reply that does not move on would be asked for again for ever.
    if (count == 0 || previousNext <= askedFrom) return ERROR_INVALID_DATA;
    request.StartingVcn.QuadPart = static_cast<LONGLONG>(previousNext);
  }
}

bool CDefrag::BuildFreeRunList() {
  m_freeRuns.RemoveAll();
  m_freeRuns.SetGrowBy(12288);
  if (!m_hVolume.IsValid()) return false;

  std::vector<uint8_t> reply(kBitmapReplySize);
  uint64_t c = 0;
  uint64_t start = 0;
  bool previousUsed = false;
  bool haveState = false;
  bool lastFree = false;
  // The reply in hand: the volume is walked 655360 clusters at a time, and
  // the system is asked again only when the walk leaves what the last reply
  // holds (a full reply holds eight such steps).
  uint64_t startingLcn = 0;
  uint64_t available = 0;
  bool haveReply = false;
  for (;;) {
    if (!haveReply || c - startingLcn >= available) {
      STARTING_LCN_INPUT_BUFFER request = {};
      request.StartingLcn.QuadPart = static_cast<LONGLONG>(c);
      DWORD returned = 0;
      BOOL ok =
          Ops().DeviceIoControl(m_hVolume.Get(), FSCTL_GET_VOLUME_BITMAP, &request, sizeof(request),
                                reply.data(), static_cast<DWORD>(reply.size()), &returned);
      if (!ok) {
        DWORD error = Ops().GetLastError();
        if (error == ERROR_INVALID_PARAMETER) break;
        if (error != ERROR_MORE_DATA) {
          ShowSystemError(error);
          return false;
        }
      }
      // The reply's StartingLcn and BitmapSize (VOLUME_BITMAP_BUFFER).
      startingLcn = CByteView(reply.data(), reply.size()).U64(0);
      const auto bitmapSize = static_cast<int64_t>(CByteView(reply.data(), reply.size()).U64(8));
      if (c != 0 && startingLcn == 0) return true;
      if (startingLcn > c || bitmapSize <= 0) break;
      // Only bits the reply holds are read.
      available = returned > 16 ? (static_cast<uint64_t>(returned) - 16) * 8 : 0;
      if (available > static_cast<uint64_t>(bitmapSize))
        available = static_cast<uint64_t>(bitmapSize);
      if (c - startingLcn >= available) break;
      haveReply = true;
    }
    const uint64_t skip = c - startingLcn;
    uint64_t n = kBitmapReplySize;
    if (n > available - skip) n = available - skip;

    // 64 clusters a step: the bits that differ from their predecessor mark
    // where a free run starts or ends, and whole words of one state pass
    // without a look at single bits.
    const uint8_t* bits = reply.data() + 16;
    const uint64_t replyBytes = reply.size() - 16;
    for (uint64_t k = 0; k < n;) {
      const unsigned width = static_cast<unsigned>(std::min<uint64_t>(64, n - k));
      const uint64_t raw = LoadBits(bits, replyBytes, skip + k, width);
      uint64_t used = raw;
      if (!m_bXPOrLater) {
        used |= RangeBits(m_mftRange, c, width) | RangeBits(m_mftZoneRange, c, width) |
                RangeBits(m_mftMirrorRange, c, width);
      }
      if (!haveState) {
        previousUsed = raw & 1;
        haveState = true;
      }
      const uint64_t mask = width == 64 ? ~0ull : (1ull << width) - 1;
      uint64_t changes = (used ^ ((used << 1) | (previousUsed ? 1u : 0u))) & mask;
      while (changes) {
        const unsigned i = static_cast<unsigned>(__builtin_ctzll(changes));
        changes &= changes - 1;
        const uint64_t at = c + i;
        if ((used >> i) & 1) {
          if (at > start) AddFreeRunEntry(start, at);
        } else {
          start = at;
        }
      }
      previousUsed = (used >> (width - 1)) & 1;
      lastFree = !previousUsed;
      c += width;
      k += width;
    }
  }
  if (c != 0 && lastFree) AddFreeRunEntry(start, c);
  return true;
}

void CDefrag::AddFreeRunEntry(uint64_t first, uint64_t end) {
  CClusterItem run;
  run.m_nLcn = first;
  run.m_nClusters = static_cast<uint32_t>(end - first);
  run.m_nState = RUN_FREE;
  m_freeRuns.Add(run);
}

}  // namespace vt
