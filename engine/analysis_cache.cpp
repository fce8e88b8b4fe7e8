// The analysis cache: the engine's lists of one drive in a file, so that a
// drive selected again is restored instead of analysed again.
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/defrag.h"
#include "engine/globals.h"
#include "platform/plain_files.h"

namespace vt {

namespace {

// The file starts with "VTC8": names are stored in UTF-8. A cache of an
// earlier build, whose names were Windows-1252, has no such start and is
// ignored instead of misread.
constexpr uint32_t kCacheSignature = 0x38435456;  // "VTC8" little-endian
// After the drive's counters: "CRC " and the CRC-32 of every byte before
// the CRC itself. A file that does not end so is no cache: one flipped bit
// would otherwise be read as other figures or other names.
constexpr uint32_t kChecksumTag = 0x20435243;  // "CRC " little-endian

// Smallest stored sizes, to check counts against the bytes that remain.
constexpr uint64_t kMinItemBytes = 2 + 4 + 4 + 8 + 8 + 4 + 4 + 1 + 4;
constexpr uint64_t kRunBytes = 8 + 4 + 4;
constexpr uint64_t kFragmentBytes = 8 + 4;

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using CFile = std::unique_ptr<std::FILE, FileCloser>;

// The whole file's length; 64-bit, as a cache can pass 2 GiB.
bool FileLength(std::FILE* f, uint64_t* length) {
  if (!SeekPlainFile(f, 0, SEEK_END)) return false;
  const int64_t end = TellPlainFile(f);
  if (end < 0 || !SeekPlainFile(f, 0, SEEK_SET)) return false;
  *length = static_cast<uint64_t>(end);
  return true;
}

uint32_t Crc32(uint32_t crc, const void* p, size_t n) {
  const auto* bytes = static_cast<const Bytef*>(p);
  while (n > 0) {
    const uInt chunk = static_cast<uInt>(n < (1u << 30) ? n : (1u << 30));
    crc = static_cast<uint32_t>(::crc32(crc, bytes, chunk));
    bytes += chunk;
    n -= chunk;
  }
  return crc;
}

class CCacheWriter {
 public:
  explicit CCacheWriter(std::FILE* f) : m_file(f) {}
  void Bytes(const void* p, size_t n) {
    if (m_ok && std::fwrite(p, 1, n, m_file) != n) m_ok = false;
    m_crc = Crc32(m_crc, p, n);
  }
  uint32_t Crc() const { return m_crc; }
  void U8(uint8_t v) { Bytes(&v, 1); }
  void U16(uint16_t v) {
    uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
    Bytes(b, 2);
  }
  void U32(uint32_t v) {
    uint8_t b[4];
    for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
    Bytes(b, 4);
  }
  void U64(uint64_t v) {
    uint8_t b[8];
    for (int i = 0; i < 8; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
    Bytes(b, 8);
  }
  void String(const std::string& s) {
    const size_t n = s.size();
    if (n < 0xFF) {
      U8(static_cast<uint8_t>(n));
    } else if (n < 0xFFFE) {
      U8(0xFF);
      U16(static_cast<uint16_t>(n));
    } else {
      U8(0xFF);
      U16(0xFFFF);
      U32(static_cast<uint32_t>(n));
    }
    Bytes(s.data(), n);
  }
  bool Ok() const { return m_ok; }

 private:
  std::FILE* m_file;
  bool m_ok = true;
  uint32_t m_crc = 0;
};

class CCacheReader {
 public:
  CCacheReader(std::FILE* f, uint64_t size) : m_file(f), m_left(size) {}
  bool Bytes(void* p, size_t n) {
    if (!m_ok || n > m_left || std::fread(p, 1, n, m_file) != n) return m_ok = false;
    m_left -= n;
    m_crc = Crc32(m_crc, p, n);
    return true;
  }
  uint32_t Crc() const { return m_crc; }
  uint64_t Left() const { return m_left; }
  uint8_t U8() {
    uint8_t v = 0;
    Bytes(&v, 1);
    return v;
  }
  uint16_t U16() {
    uint8_t b[2] = {};
    Bytes(b, 2);
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
  }
  uint32_t U32() {
    uint8_t b[4] = {};
    Bytes(b, 4);
    return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
           (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
  }
  uint64_t U64() {
    const uint64_t lo = U32();
    return lo | (static_cast<uint64_t>(U32()) << 32);
  }
  bool String(std::string* s) {
    uint64_t n = U8();
    if (n == 0xFF) {
      n = U16();
      if (n == 0xFFFF) n = U32();
    }
    if (!m_ok || n > m_left) return m_ok = false;
    s->resize(static_cast<size_t>(n));
    return n == 0 || Bytes(&(*s)[0], static_cast<size_t>(n));
  }
  // Whether `count` records of at least `each` bytes can still follow.
  bool Fits(uint64_t count, uint64_t each) {
    if (m_ok && each != 0 && count > m_left / each) m_ok = false;
    return m_ok;
  }
  bool Ok() const { return m_ok; }

 private:
  std::FILE* m_file;
  uint64_t m_left;
  bool m_ok = true;
  uint32_t m_crc = 0;
};

}  // namespace

std::string CDefrag::GetCachePath(const CDriveData& drive) {
  std::string folder = m_strCacheFolder;
  if (folder.empty()) {
    char temp[MAX_PATH] = {};
    DWORD n = Ops().GetTempPathA(MAX_PATH, temp);
    if (n > 0 && n < MAX_PATH) folder.assign(temp, n);
  }
  const char letter = drive.m_strDrive.empty() ? '?' : drive.m_strDrive[0];
  std::string name = std::string("Vantrel.") + letter + ".dat";
  if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += '\\';
  return NativePath(folder) + name;
}

bool CDefrag::CacheExists(const CDriveData& drive) {
  return Ops().GetFileAttributesA(GetCachePath(drive).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void CDefrag::DeleteCache(const CDriveData& drive) {
  Ops().DeleteFileA(GetCachePath(drive).c_str());
}

void CDefrag::DeleteAllCaches() {
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    CDriveData drive;
    drive.m_strDrive = std::string(1, letter) + ":\\";
    DeleteCache(drive);
  }
}

bool CDefrag::SaveDriveData(CDriveData& drive) {
  CTimeIt timer("SaveDriveData");
  drive.m_bDirty = false;
  std::string status = "Saving analysis cache...";
  SendProgress(PROGRESS_TEXT, reinterpret_cast<LPARAM>(status.c_str()));

  // Written beside the old file and moved over it, so that a reader never
  // meets half a cache and a FIFO or link in its place is replaced, not
  // written through.
  const std::string path = GetCachePath(drive);
  const std::string part = path + ".new";
  CFile file(CreatePlainFileForWriting(part));
  bool ok = file != nullptr;
  if (ok) {
    std::setvbuf(file.get(), nullptr, _IOFBF, 4096);
    CCacheWriter out(file.get());
    uint64_t range = m_files.GetSize();
    SendProgress(PROGRESS_RANGE, reinterpret_cast<LPARAM>(&range));
    out.U32(kCacheSignature);
    out.U32(static_cast<uint32_t>(m_files.GetSize()));
    for (size_t i = 0; i < m_files.GetSize() && out.Ok(); ++i) {
      if (i % 4096 == 0) {
        uint64_t position = i;
        SendProgress(PROGRESS_POSITION, reinterpret_cast<LPARAM>(&position));
      }
      const CFileItem& item = m_files[i];
      out.U16(item.m_wFlags);
      out.U32(item.m_ftLastWrite.dwHighDateTime);
      out.U32(item.m_ftLastWrite.dwLowDateTime);
      out.U64(item.m_nSize);
      out.U64(item.m_nFirstLcn);
      out.U32(item.m_nRecord);
      out.U32(static_cast<uint32_t>(item.m_nFolder));
      out.String(item.m_strName);
      out.U32(static_cast<uint32_t>(item.m_fragments.GetSize()));
      for (const auto& f : item.m_fragments) {
        out.U64(f.m_nLcn);
        out.U32(f.m_nClusters);
      }
    }
    out.U32(static_cast<uint32_t>(m_freeRuns.GetSize()));
    for (const auto& run : m_freeRuns) {
      out.U64(run.m_nLcn);
      out.U32(run.m_nClusters);
      out.U32(run.m_nState);
    }
    out.U32(static_cast<uint32_t>(m_folders.size()));
    for (const auto& folder : m_folders) out.String(folder);
    out.U64(drive.m_nFiles);
    out.U64(drive.m_nFolders);
    out.U32(kChecksumTag);
    out.U32(out.Crc());
    ok = out.Ok() && std::fflush(file.get()) == 0;
    ok = std::fclose(file.release()) == 0 && ok;
    if (ok) ok = MovePlainFileOver(part, path);
    // A cache that could not be written whole is no cache.
    if (!ok) {
      std::remove(part.c_str());
      std::remove(path.c_str());
    }
  }
  SendProgress(PROGRESS_RESET, 0);
  return ok;
}

bool CDefrag::LoadDriveData(CDriveData& drive) {
  const std::string path = GetCachePath(drive);
  CFile file(OpenPlainFileForReading(path));
  if (!file) return false;
  std::setvbuf(file.get(), nullptr, _IOFBF, 4096);
  uint64_t length = 0;
  if (!FileLength(file.get(), &length)) return false;
  CCacheReader in(file.get(), length);

  // Everything is read into new lists first, so that a damaged file leaves
  // the engine's lists as they were.
  CGrowableArray<CFileItem> files;
  files.SetGrowBy(32768);
  if (in.U32() != kCacheSignature || !in.Ok()) return false;
  const uint32_t n = in.U32();
  if (!in.Fits(n, kMinItemBytes)) return false;
  std::string status = "Loading analysis cache...";
  SendProgress(PROGRESS_TEXT, reinterpret_cast<LPARAM>(status.c_str()));
  uint64_t range = static_cast<uint64_t>(n) + 15;
  SendProgress(PROGRESS_RANGE, reinterpret_cast<LPARAM>(&range));
  uint64_t position = 0;
  for (uint32_t i = 0; i < n; ++i) {
    if (i % 4096 == 0) {
      position = i;
      SendProgress(PROGRESS_POSITION, reinterpret_cast<LPARAM>(&position));
    }
    CFileItem item;
    item.m_wFlags = in.U16();
    item.m_ftLastWrite.dwHighDateTime = in.U32();
    item.m_ftLastWrite.dwLowDateTime = in.U32();
    item.m_nSize = in.U64();
    item.m_nFirstLcn = in.U64();
    item.m_nRecord = in.U32();
    item.m_nFolder = static_cast<int32_t>(in.U32());
    if (!in.String(&item.m_strName)) return false;
    const uint32_t m = in.U32();
    if (!in.Fits(m, kFragmentBytes)) return false;
    item.m_fragments.Vector().reserve(m);
    for (uint32_t k = 0; k < m; ++k) {
      const uint64_t lcn = in.U64();
      const uint32_t clusters = in.U32();
      item.m_fragments.Add(CFileClusterItem(lcn, clusters));
    }
    if (!in.Ok()) return false;
    files.Add(std::move(item));
  }
  position += 5;
  SendProgress(PROGRESS_POSITION, reinterpret_cast<LPARAM>(&position));

  CGrowableArray<CClusterItem> runs;
  runs.SetGrowBy(12288);
  const uint32_t r = in.U32();
  if (!in.Fits(r, kRunBytes)) return false;
  for (uint32_t i = 0; i < r; ++i) {
    CClusterItem run;
    run.m_nLcn = in.U64();
    run.m_nClusters = in.U32();
    run.m_nState = in.U32();
    runs.Add(run);
  }
  position += 5;
  SendProgress(PROGRESS_POSITION, reinterpret_cast<LPARAM>(&position));

  std::vector<std::string> folders;
  const uint32_t f = in.U32();
  if (!in.Fits(f, 1)) return false;
  folders.reserve(f);
  for (uint32_t i = 0; i < f; ++i) {
    std::string folder;
    if (!in.String(&folder)) return false;
    folders.push_back(std::move(folder));
  }
  const uint64_t fileCount = in.U64();
  const uint64_t folderCount = in.U64();
  const bool tagged = in.U32() == kChecksumTag;
  const uint32_t computed = in.Crc();
  if (!tagged || in.U32() != computed || !in.Ok() || in.Left() != 0) return false;

  m_files = std::move(files);
  m_files.SetGrowBy(32768);
  m_freeRuns = std::move(runs);
  m_freeRuns.SetGrowBy(12288);
  m_folders = std::move(folders);
  m_dirMap.clear();
  for (const auto& item : m_files)
    if (item.m_wFlags & FI_DIRECTORY) m_dirMap[item.m_nRecord] = item;
  drive.m_nFiles = fileCount;
  drive.m_nFolders = folderCount;
  position += 5;
  SendProgress(PROGRESS_POSITION, reinterpret_cast<LPARAM>(&position));
  return true;
}

}  // namespace vt
