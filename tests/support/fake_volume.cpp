#include "tests/support/fake_volume.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <filesystem>

#include "base/text.h"
#include "engine/globals.h"

namespace vt {
namespace test {

FakeNode* FakeNode::AddFile(const std::string& n, uint64_t sz, std::vector<FakeExtent> ext) {
  auto node = std::make_unique<FakeNode>();
  node->name = n;
  node->size = sz;
  node->handleSize = sz;
  node->extents = std::move(ext);
  children.push_back(std::move(node));
  return children.back().get();
}

FakeNode* FakeNode::AddFolder(const std::string& n) {
  auto node = std::make_unique<FakeNode>();
  node->name = n;
  node->attributes = FILE_ATTRIBUTE_DIRECTORY;
  children.push_back(std::move(node));
  return children.back().get();
}

CFakeVolume::CFakeVolume(char letter) : m_letter(letter) {
  root.attributes = FILE_ATTRIBUTE_DIRECTORY;
  used.assign(totalClusters, 0);
}

void CFakeVolume::SetUsed(uint64_t first, uint64_t count, bool on) {
  if (used.size() < totalClusters) used.resize(totalClusters, 0);
  for (uint64_t c = first; c < first + count && c < used.size(); ++c) used[c] = on ? 1 : 0;
}

HANDLE CFakeVolume::NewHandle(Handle h) {
  uintptr_t id = m_nextHandle++;
  m_handles[id] = std::move(h);
  return reinterpret_cast<HANDLE>(id);
}

CFakeVolume::Handle* CFakeVolume::Get(HANDLE h) {
  auto it = m_handles.find(reinterpret_cast<uintptr_t>(h));
  return it == m_handles.end() ? nullptr : &it->second;
}

FakeNode* CFakeVolume::Lookup(const std::string& fullPath, bool* byShortName) {
  *byShortName = false;
  // As a system without long-path support: past MAX_PATH only the \\?\ form.
  const bool verbatim = fullPath.compare(0, 4, "\\\\?\\") == 0;
  if (!verbatim && fullPath.size() >= MAX_PATH) return nullptr;
  const std::string path = verbatim ? fullPath.substr(4) : fullPath;
  std::string prefix = std::string(1, m_letter) + ":";
  FakeNode* node = &root;
  size_t pos = 2;
  if (path.size() < 2 || !EqualsNoCase(path.substr(0, 2), prefix)) {
    // As the system does: a bare name is taken in the process's current folder.
    const bool relative = !path.empty() && path[0] != '\\' && path.find(':') == std::string::npos;
    if (!relative || !currentFolder) return nullptr;
    node = currentFolder;
    pos = 0;
  }
  while (pos < path.size()) {
    if (path[pos] == '\\') {
      ++pos;
      continue;
    }
    size_t end = path.find('\\', pos);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(pos, end - pos);
    FakeNode* found = nullptr;
    for (auto& child : node->children) {
      if (EqualsNoCase(child->name, part)) {
        found = child.get();
        *byShortName = false;
        break;
      }
      if (!child->shortName.empty() && EqualsNoCase(child->shortName, part)) {
        found = child.get();
        *byShortName = true;
        break;
      }
    }
    if (!found) return nullptr;
    node = found;
    pos = end;
  }
  return node;
}

HANDLE CFakeVolume::CreateFileA(const char* path, DWORD access, DWORD share, DWORD, DWORD flags) {
  std::string p = path;
  std::string volumeName = std::string("\\\\?\\Volume{fake-") + m_letter + "}";
  if (p == volumeName) {
    if (volumeOpenError) {
      m_lastError = volumeOpenError;
      return INVALID_HANDLE_VALUE;
    }
    Handle h;
    h.volume = true;
    opens.push_back({p, access, share, flags, true});
    return NewHandle(h);
  }
  bool byShort = false;
  FakeNode* node = Lookup(p, &byShort);
  DWORD error = 0;
  if (!node)
    error = ERROR_FILE_NOT_FOUND;
  else if (node->openError)
    error = node->openError;
  else if (!byShort && node->longNameOpenError)
    error = node->longNameOpenError;
  else if (node->IsFolder() && !(flags & FILE_FLAG_BACKUP_SEMANTICS))
    error = ERROR_ACCESS_DENIED;
  opens.push_back({p, access, share, flags, error == 0});
  if (error) {
    m_lastError = error;
    return INVALID_HANDLE_VALUE;
  }
  Handle h;
  h.node = node;
  return NewHandle(h);
}

BOOL CFakeVolume::CloseHandle(HANDLE h) {
  if (!m_handles.erase(reinterpret_cast<uintptr_t>(h))) return Fail(ERROR_INVALID_HANDLE);
  return TRUE;
}

BOOL CFakeVolume::DeviceIoControl(HANDLE h, DWORD code, const void* in, DWORD inSize, void* out,
                                  DWORD outSize, DWORD* returned) {
  Handle* handle = Get(h);
  if (!handle) return Fail(ERROR_INVALID_HANDLE);
  if (returned) *returned = 0;
  auto* o = static_cast<uint8_t*>(out);
  switch (code) {
    case FSCTL_IS_VOLUME_MOUNTED:
      return notMounted ? Fail(ERROR_NOT_READY) : TRUE;
    case FSCTL_GET_VOLUME_BITMAP: {
      if (!handle->volume) return Fail(ERROR_INVALID_PARAMETER);
      ++bitmapCalls;
      if (bitmapError) return Fail(bitmapError);
      if (bitmapErrorAfterFirst && bitmapCalls > 1) return Fail(bitmapErrorAfterFirst);
      if (inSize < 8 || outSize < 16) return Fail(ERROR_INSUFFICIENT_BUFFER);
      int64_t start;
      std::memcpy(&start, in, 8);
      if (start < 0 || static_cast<uint64_t>(start) >= totalClusters)
        return Fail(ERROR_INVALID_PARAMETER);
      uint64_t s = static_cast<uint64_t>(start) & ~7ull;
      int64_t bitmapSize = static_cast<int64_t>(totalClusters - s);
      std::memcpy(o, &s, 8);
      std::memcpy(o + 8, &bitmapSize, 8);
      size_t needBytes = static_cast<size_t>((totalClusters - s + 7) / 8);
      size_t room = outSize - 16;
      if (maxBitmapBytesPerReply && room > maxBitmapBytesPerReply) room = maxBitmapBytesPerReply;
      size_t n = std::min(needBytes, room);
      std::memset(o + 16, 0, n);
      for (size_t i = 0; i < n * 8 && s + i < totalClusters; ++i)
        if (s + i < used.size() && used[s + i])
          o[16 + i / 8] |= static_cast<uint8_t>(1u << (i % 8));
      if (returned) *returned = static_cast<DWORD>(16 + n);
      return n < needBytes ? Fail(ERROR_MORE_DATA) : TRUE;
    }
    case FSCTL_GET_NTFS_VOLUME_DATA:
      if (!hasNtfsData) return Fail(ERROR_INVALID_PARAMETER);
      if (outSize < sizeof(ntfsData)) return Fail(ERROR_INSUFFICIENT_BUFFER);
      std::memcpy(out, &ntfsData, sizeof(ntfsData));
      if (returned) *returned = sizeof(ntfsData);
      return TRUE;
    case FSCTL_GET_RETRIEVAL_POINTERS: {
      FakeNode* node = handle->node;
      if (!node) return Fail(ERROR_INVALID_PARAMETER);
      if (node->extentsError) return Fail(node->extentsError);
      if (inSize < 8 || outSize < 32) return Fail(ERROR_INSUFFICIENT_BUFFER);
      int64_t vcn;
      std::memcpy(&vcn, in, 8);
      // First extent that ends after the asked VCN.
      size_t i = 0;
      while (i < node->extents.size() && node->extents[i].nextVcn <= static_cast<uint64_t>(vcn))
        ++i;
      if (i == node->extents.size()) return Fail(ERROR_HANDLE_EOF);
      uint64_t startVcn = i == 0 ? node->startingVcn : node->extents[i - 1].nextVcn;
      uint64_t skip =
          static_cast<uint64_t>(vcn) > startVcn ? static_cast<uint64_t>(vcn) - startVcn : 0;
      size_t room = std::min<size_t>((outSize - 16) / 16, maxExtentsPerReply);
      size_t count = std::min(room, node->extents.size() - i);
      uint32_t count32 = static_cast<uint32_t>(count);
      std::memcpy(o, &count32, 4);
      std::memset(o + 4, 0, 4);
      uint64_t first = startVcn + skip;
      std::memcpy(o + 8, &first, 8);
      for (size_t k = 0; k < count; ++k) {
        FakeExtent e = node->extents[i + k];
        if (k == 0 && skip && e.lcn != ~0ull) e.lcn += skip;
        std::memcpy(o + 16 + k * 16, &e.nextVcn, 8);
        std::memcpy(o + 24 + k * 16, &e.lcn, 8);
      }
      if (returned) *returned = static_cast<DWORD>(16 + count * 16);
      return i + count < node->extents.size() ? Fail(ERROR_MORE_DATA) : TRUE;
    }
    case FSCTL_GET_NTFS_FILE_RECORD: {
      if (!handle->volume || inSize < 8) return Fail(ERROR_INVALID_PARAMETER);
      uint64_t number;
      std::memcpy(&number, in, 8);
      recordRequests.push_back(number);
      // Windows answers with the nearest record in use at or below the number.
      auto it = records.upper_bound(number);
      if (it == records.begin()) return Fail(ERROR_INVALID_PARAMETER);
      --it;
      if (outSize < 12 + it->second.size()) return Fail(ERROR_INSUFFICIENT_BUFFER);
      std::memcpy(o, &it->first, 8);
      const uint32_t length = static_cast<uint32_t>(it->second.size());
      auto claim = claimedRecordLength.find(it->first);
      const uint32_t claimed = claim == claimedRecordLength.end() ? length : claim->second;
      std::memcpy(o + 8, &claimed, 4);
      std::memcpy(o + 12, it->second.data(), it->second.size());
      if (returned) *returned = 12 + length;
      return TRUE;
    }
    case FSCTL_MOVE_FILE: {
      if (!handle->volume) return Fail(ERROR_INVALID_PARAMETER);
      if (inSize < sizeof(MOVE_FILE_DATA)) return Fail(ERROR_INVALID_PARAMETER);
      MOVE_FILE_DATA move;
      std::memcpy(&move, in, sizeof(move));
      return MoveClusters(move);
    }
    default:
      return Fail(ERROR_INVALID_FUNCTION);
  }
}

std::string CFakeVolume::PathOf(const FakeNode* node) const { return node ? node->name : ""; }

BOOL CFakeVolume::MoveClusters(const MOVE_FILE_DATA& move) {
  Handle* fh = Get(move.FileHandle);
  FakeNode* node = fh ? fh->node : nullptr;
  MoveCall call{PathOf(node), static_cast<uint64_t>(move.StartingVcn.QuadPart),
                static_cast<uint64_t>(move.StartingLcn.QuadPart), move.ClusterCount, false};
  auto fail = [&](DWORD error) {
    moves.push_back(call);
    return Fail(error);
  };
  if (!node) return fail(ERROR_INVALID_HANDLE);
  if (moveError &&
      (movesBeforeFailure < 0 ||
       static_cast<int>(std::count_if(moves.begin(), moves.end(), [](const MoveCall& m) {
         return m.ok;
       })) >= movesBeforeFailure))
    return fail(moveError);
  const uint64_t vcn = call.vcn;
  const uint64_t count = call.count;
  uint64_t lcn = call.lcn;
  if (count == 0) return fail(ERROR_INVALID_PARAMETER);
  // As FAT's own driver: a folder's first cluster stays (NTFS moves it).
  if (node->IsFolder() && fsName != "NTFS" && vcn == 0) return fail(ERROR_INVALID_PARAMETER);
  if (misplaceMoves) lcn += 1 + 2 * moves.size();  // each one further off
  for (uint64_t c = lcn; c < lcn + count; ++c)
    if (c >= totalClusters || (c < used.size() && used[c])) return fail(ERROR_ACCESS_DENIED);
  // Expand to one LCN per VCN, move, and merge back into extents.
  std::vector<uint64_t> map;
  uint64_t v = node->startingVcn;
  for (const auto& e : node->extents) {
    uint64_t first = v;
    for (; v < e.nextVcn; ++v) map.push_back(e.lcn == ~0ull ? ~0ull : e.lcn + (v - first));
  }
  if (vcn < node->startingVcn || vcn + count > node->startingVcn + map.size())
    return fail(ERROR_INVALID_PARAMETER);
  for (uint64_t k = 0; k < count; ++k) {
    uint64_t& slot = map[vcn - node->startingVcn + k];
    if (slot == ~0ull) return fail(ERROR_INVALID_PARAMETER);
  }
  for (uint64_t k = 0; k < count; ++k) {
    uint64_t& slot = map[vcn - node->startingVcn + k];
    if (slot < used.size()) used[slot] = 0;
    slot = lcn + k;
    if (slot < used.size()) used[slot] = 1;
  }
  node->extents.clear();
  for (size_t k = 0; k < map.size(); ++k) {
    const uint64_t nextVcn = node->startingVcn + k + 1;
    if (!node->extents.empty()) {
      FakeExtent& last = node->extents.back();
      const uint64_t lastLen =
          last.nextVcn - (node->extents.size() > 1 ? node->extents[node->extents.size() - 2].nextVcn
                                                   : node->startingVcn);
      const bool bothSparse = last.lcn == ~0ull && map[k] == ~0ull;
      const bool adjacent = last.lcn != ~0ull && map[k] != ~0ull && last.lcn + lastLen == map[k];
      if (bothSparse || adjacent) {
        last.nextVcn = nextVcn;
        continue;
      }
    }
    node->extents.push_back({nextVcn, map[k]});
  }
  call.ok = true;
  moves.push_back(call);
  if (extentsErrorAfterMove) node->extentsError = extentsErrorAfterMove;
  if (cancelAfterMoves >= 0 && std::count_if(moves.begin(), moves.end(), [](const MoveCall& m) {
                                 return m.ok;
                               }) == cancelAfterMoves)
    SetCancel(true);
  return TRUE;
}

BOOL CFakeVolume::ReadFile(HANDLE h, void* buffer, DWORD toRead, DWORD* read) {
  Handle* handle = Get(h);
  if (!handle || !handle->volume) return Fail(ERROR_INVALID_HANDLE);
  if (read) *read = 0;
  if (handle->position >= raw.size()) return TRUE;
  size_t n = std::min<size_t>(toRead, raw.size() - static_cast<size_t>(handle->position));
  std::memcpy(buffer, raw.data() + handle->position, n);
  handle->position += n;
  if (read) *read = static_cast<DWORD>(n);
  return TRUE;
}

BOOL CFakeVolume::SetFilePointerEx(HANDLE h, LARGE_INTEGER distance, LARGE_INTEGER* newPosition,
                                   DWORD method) {
  Handle* handle = Get(h);
  if (!handle) return Fail(ERROR_INVALID_HANDLE);
  if (method != FILE_BEGIN || distance.QuadPart < 0) return Fail(ERROR_INVALID_PARAMETER);
  handle->position = static_cast<uint64_t>(distance.QuadPart);
  if (newPosition) newPosition->QuadPart = distance.QuadPart;
  return TRUE;
}

BOOL CFakeVolume::GetFileSizeEx(HANDLE h, LARGE_INTEGER* size) {
  Handle* handle = Get(h);
  if (!handle || !handle->node) return Fail(ERROR_INVALID_HANDLE);
  size->QuadPart = static_cast<LONGLONG>(handle->node->handleSize);
  return TRUE;
}

void CFakeVolume::Fill(const FakeNode& node, WIN32_FIND_DATAA* data) const {
  std::memset(data, 0, sizeof(*data));
  data->dwFileAttributes = node.attributes;
  data->ftLastWriteTime = node.lastWrite;
  data->nFileSizeHigh = static_cast<DWORD>(node.size >> 32);
  data->nFileSizeLow = static_cast<DWORD>(node.size);
  std::strncpy(data->cFileName, node.name.c_str(), MAX_PATH - 1);
  std::strncpy(data->cAlternateFileName, node.shortName.c_str(), 13);
}

HANDLE CFakeVolume::FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* data) {
  std::string p = pattern;
  if (p.size() < 2 || p.substr(p.size() - 2) != "\\*") {
    m_lastError = ERROR_INVALID_PARAMETER;
    return INVALID_HANDLE_VALUE;
  }
  bool byShort = false;
  FakeNode* folder = Lookup(p.substr(0, p.size() - 2), &byShort);
  if (!folder || !folder->IsFolder() || folder->openError) {
    m_lastError = ERROR_PATH_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
  }
  static FakeNode dot;
  static FakeNode dotdot;
  dot.name = ".";
  dot.attributes = FILE_ATTRIBUTE_DIRECTORY;
  dotdot.name = "..";
  dotdot.attributes = FILE_ATTRIBUTE_DIRECTORY;
  Handle h;
  if (folder != &root) {
    h.entries.push_back(&dot);
    h.entries.push_back(&dotdot);
  }
  for (auto& child : folder->children) h.entries.push_back(child.get());
  if (h.entries.empty()) {
    m_lastError = ERROR_FILE_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
  }
  Fill(*h.entries[0], data);
  h.next = 1;
  return NewHandle(std::move(h));
}

BOOL CFakeVolume::FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data) {
  Handle* h = Get(find);
  if (!h) return Fail(ERROR_INVALID_HANDLE);
  if (h->next >= h->entries.size()) return Fail(ERROR_NO_MORE_FILES);
  Fill(*h->entries[h->next++], data);
  return TRUE;
}

BOOL CFakeVolume::FindClose(HANDLE find) { return CloseHandle(find); }

BOOL CFakeVolume::GetVolumeNameForVolumeMountPointA(const char* mountPoint, char* name,
                                                    DWORD nameSize) {
  if (volumeNameError) return Fail(volumeNameError);
  if (!mountPoint || std::toupper(static_cast<unsigned char>(mountPoint[0])) != m_letter)
    return Fail(ERROR_FILE_NOT_FOUND);
  std::string v = std::string("\\\\?\\Volume{fake-") + m_letter + "}\\";
  if (nameSize <= v.size()) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::strcpy(name, v.c_str());
  return TRUE;
}

BOOL CFakeVolume::GetVolumeInformationA(const char*, char* volumeName, DWORD volumeNameSize,
                                        DWORD* serial, DWORD* maxComponent, DWORD* flags,
                                        char* name, DWORD nameSize) {
  if (volumeName && volumeNameSize) volumeName[0] = '\0';
  if (serial) *serial = 0x1234ABCD;
  if (maxComponent) *maxComponent = 255;
  if (flags) *flags = fsFlags;
  if (name && nameSize) {
    std::strncpy(name, fsName.c_str(), nameSize - 1);
    name[nameSize - 1] = '\0';
  }
  return TRUE;
}

BOOL CFakeVolume::GetDiskFreeSpaceA(const char*, DWORD* spc, DWORD* bps, DWORD* freeClusters,
                                    DWORD* total) {
  if (diskFreeSpaceError) return Fail(diskFreeSpaceError);
  uint64_t free = 0;
  for (uint64_t c = 0; c < totalClusters && c < used.size(); ++c) free += used[c] ? 0 : 1;
  *spc = sectorsPerCluster;
  *bps = bytesPerSector;
  *freeClusters = static_cast<DWORD>(free);
  *total = static_cast<DWORD>(totalClusters);
  return TRUE;
}

BOOL CFakeVolume::GetDiskFreeSpaceExA(const char* root, ULARGE_INTEGER* freeToCaller,
                                      ULARGE_INTEGER* total, ULARGE_INTEGER* totalFree) {
  DWORD spc, bps, freeClusters, totalC;
  if (!GetDiskFreeSpaceA(root, &spc, &bps, &freeClusters, &totalC)) return FALSE;
  uint64_t bpc = static_cast<uint64_t>(spc) * bps;
  if (freeToCaller) freeToCaller->QuadPart = freeClusters * bpc;
  if (totalFree) totalFree->QuadPart = freeClusters * bpc;
  if (total) total->QuadPart = totalClusters * bpc;
  return TRUE;
}

DWORD CFakeVolume::GetLogicalDrives() { return 1u << (m_letter - 'A'); }

UINT CFakeVolume::GetDriveTypeA(const char* root) {
  return root && std::toupper(static_cast<unsigned char>(root[0])) == m_letter ? DRIVE_FIXED
                                                                               : DRIVE_NO_ROOT_DIR;
}

DWORD CFakeVolume::GetTempPathA(DWORD size, char* buffer) {
  const char* t = "/tmp/";
  if (size > 5) std::strcpy(buffer, t);
  return 5;
}

// Host files (the analysis cache) are real files.
DWORD CFakeVolume::GetFileAttributesA(const char* path) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    m_lastError = ERROR_FILE_NOT_FOUND;
    return INVALID_FILE_ATTRIBUTES;
  }
  return std::filesystem::is_directory(path, ec) ? FILE_ATTRIBUTE_DIRECTORY
                                                 : FILE_ATTRIBUTE_ARCHIVE;
}

BOOL CFakeVolume::DeleteFileA(const char* path) {
  std::error_code ec;
  return std::filesystem::remove(path, ec) ? TRUE : Fail(ERROR_FILE_NOT_FOUND);
}

}  // namespace test
}  // namespace vt
