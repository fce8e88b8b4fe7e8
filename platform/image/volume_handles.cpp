// Handles of the image volume set: opening volumes, files and folders,
// folder enumeration, reads and the file-system controls.
#include <algorithm>
#include <cstring>

#include "base/codepage.h"
#include "platform/image/fs_controls.h"
#include "platform/image/volume_set.h"
#include "platform/image/volume_set_impl.h"

namespace vt {

namespace {

constexpr DWORD kReadRights = FILE_READ_DATA | FILE_EXECUTE;
constexpr DWORD kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA;
constexpr DWORD kChangeRights =
    FILE_WRITE_DATA | FILE_APPEND_DATA | kAccessWriteAttributes | kAccessWriteEa | kAccessDelete;
// The id that stands for the volume itself in sharing checks.
constexpr uint64_t kVolumeObjectId = ~static_cast<uint64_t>(0);

BOOL Fail(DWORD error) {
  StoreLastError(error);
  return FALSE;
}

HANDLE FailHandle(DWORD error) {
  StoreLastError(error);
  return INVALID_HANDLE_VALUE;
}

BOOL Succeed() {
  StoreLastError(ERROR_SUCCESS);
  return TRUE;
}

void FillFindData(const CFsNode& node, WIN32_FIND_DATAA* data) {
  std::memset(data, 0, sizeof(*data));
  data->dwFileAttributes = node.m_dwAttributes;
  data->ftCreationTime = node.m_ftCreation;
  data->ftLastAccessTime = node.m_ftAccess;
  data->ftLastWriteTime = node.m_ftWrite;
  data->nFileSizeHigh = static_cast<DWORD>(node.m_nSize >> 32);
  data->nFileSizeLow = static_cast<DWORD>(node.m_nSize);
  // A name whose UTF-8 form is longer than the field (a 255-character name
  // can take 765 bytes) is cut before a whole character; it then fails to
  // open under that name and is found by its short name or reported.
  size_t n = std::min<size_t>(node.m_strName.size(), sizeof(data->cFileName) - 1);
  while (n < node.m_strName.size() && n > 0 &&
         (static_cast<uint8_t>(node.m_strName[n]) & 0xC0) == 0x80)
    --n;
  std::memcpy(data->cFileName, node.m_strName.data(), n);
  n = std::min<size_t>(node.m_strAltName.size(), sizeof(data->cAlternateFileName) - 1);
  std::memcpy(data->cAlternateFileName, node.m_strAltName.data(), n);
}

}  // namespace

DWORD CImageVolumeSet::Impl::Resolve(CMountedVolume& volume,
                                     const std::vector<std::string>& components,
                                     CFsNode* node) const {
  CFsVolume& fs = *volume.m_pFs;
  std::vector<std::pair<std::string, CFsNode>>& known = volume.m_lastFolders;
  if (volume.m_nPathGeneration != fs.FolderGeneration()) {
    known.clear();
    volume.m_nPathGeneration = fs.FolderGeneration();
  }
  // Names compare as the file systems compare them: by character, without
  // regard to case.
  auto fold = [](const std::string& name) { return FoldUtf8(name); };
  auto same = [](const std::string& folded, const std::string& name) {
    return folded == FoldUtf8(name);
  };
  // Start below the folders this path shares with the last one.
  CFsNode current = fs.Root();
  size_t i = 0;
  const size_t folders = components.empty() ? 0 : components.size() - 1;
  while (i < folders && i < known.size() && same(known[i].first, components[i])) {
    current = known[i].second;
    ++i;
  }
  known.resize(i);
  for (; i < components.size(); ++i) {
    bool last = i + 1 == components.size();
    if (!current.m_bDirectory) return ERROR_PATH_NOT_FOUND;
    CFsNode child;
    DWORD err = fs.FindChild(current, components[i], &child);
    if (err == ERROR_FILE_NOT_FOUND) return last ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    if (err != ERROR_SUCCESS) return err;
    current = child;
    if (!last && child.m_bDirectory) known.emplace_back(fold(components[i]), child);
  }
  *node = current;
  return ERROR_SUCCESS;
}

HANDLE CImageVolumeSet::Impl::Add(std::unique_ptr<CHandleObject> object) {
  uintptr_t value = m_nNextHandle;
  m_nNextHandle += 4;  // never reused, so a closed handle stays invalid
  m_handles[value] = std::move(object);
  return reinterpret_cast<HANDLE>(value);
}

CHandleObject* CImageVolumeSet::Impl::Find(HANDLE h) const {
  auto it = m_handles.find(reinterpret_cast<uintptr_t>(h));
  return it == m_handles.end() ? nullptr : it->second.get();
}

DWORD CImageVolumeSet::Impl::CheckSharing(const CMountedVolume* volume, bool isVolume, uint64_t id,
                                          DWORD access, DWORD share) const {
  // Only data and delete access take part in sharing, as on Windows: a
  // handle that reads attributes alone conflicts with nobody.
  if (!(access & (kReadRights | kWriteRights | kAccessDelete))) return ERROR_SUCCESS;
  for (const auto& entry : m_handles) {
    const CHandleObject& other = *entry.second;
    if (other.m_eKind == CHandleObject::kFind || other.m_pVolume.get() != volume) continue;
    bool otherIsVolume = other.m_eKind == CHandleObject::kVolume;
    if (otherIsVolume != isVolume || (!isVolume && other.m_node.m_nId != id)) continue;
    if (!(other.m_dwAccess & (kReadRights | kWriteRights | kAccessDelete))) continue;
    if ((access & kReadRights) && !(other.m_dwShare & FILE_SHARE_READ)) {
      return ERROR_SHARING_VIOLATION;
    }
    if ((access & kWriteRights) && !(other.m_dwShare & FILE_SHARE_WRITE)) {
      return ERROR_SHARING_VIOLATION;
    }
    if ((access & kAccessDelete) && !(other.m_dwShare & FILE_SHARE_DELETE)) {
      return ERROR_SHARING_VIOLATION;
    }
    if ((other.m_dwAccess & kReadRights) && !(share & FILE_SHARE_READ)) {
      return ERROR_SHARING_VIOLATION;
    }
    if ((other.m_dwAccess & kWriteRights) && !(share & FILE_SHARE_WRITE)) {
      return ERROR_SHARING_VIOLATION;
    }
    if ((other.m_dwAccess & kAccessDelete) && !(share & FILE_SHARE_DELETE)) {
      return ERROR_SHARING_VIOLATION;
    }
  }
  return ERROR_SUCCESS;
}

HANDLE CImageVolumeSet::CreateFileA(const char* path, DWORD access, DWORD share, DWORD creation,
                                    DWORD flags) {
  std::lock_guard<std::mutex> lock(m_impl->m_mutex);
  if (!path) return FailHandle(ERROR_INVALID_PARAMETER);
  if (IsPathTooLong(path)) return FailHandle(kErrorFilenameTooLong);
  CImagePath parsed;
  DWORD err = ParseImagePath(path, &parsed);
  if (err != ERROR_SUCCESS) return FailHandle(err);
  auto volume = m_impl->VolumeOf(parsed);
  if (!volume) {
    return FailHandle(parsed.m_eKind == CImagePath::kItem ? ERROR_PATH_NOT_FOUND
                                                          : ERROR_FILE_NOT_FOUND);
  }
  if (creation != OPEN_EXISTING) {
    // Nothing is created inside an image.
    return FailHandle(volume->m_bReadOnly ? ERROR_ACCESS_DENIED : ERROR_NOT_SUPPORTED);
  }
  DWORD rights = MapGenericAccess(access);
  auto object = std::make_unique<CHandleObject>();
  object->m_pVolume = volume;
  object->m_dwAccess = rights;
  object->m_dwShare = share & (FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);

  if (parsed.m_eKind == CImagePath::kVolume) {
    if (volume->m_bReadOnly && (rights & kChangeRights)) return FailHandle(ERROR_WRITE_PROTECT);
    err = m_impl->CheckSharing(volume.get(), true, kVolumeObjectId, rights, object->m_dwShare);
    if (err != ERROR_SUCCESS) return FailHandle(err);
    object->m_eKind = CHandleObject::kVolume;
    HANDLE h = m_impl->Add(std::move(object));
    StoreLastError(ERROR_SUCCESS);
    return h;
  }

  CFsNode node;
  err = m_impl->Resolve(*volume, parsed.m_components, &node);
  if (err != ERROR_SUCCESS) return FailHandle(err);
  if (!node.m_bDirectory && parsed.m_bTrailingSeparator) return FailHandle(ERROR_INVALID_NAME);
  if (node.m_bDirectory && !(flags & FILE_FLAG_BACKUP_SEMANTICS)) {
    return FailHandle(ERROR_ACCESS_DENIED);  // folders open only with backup semantics
  }
  if (volume->m_bReadOnly && (rights & kChangeRights)) return FailHandle(ERROR_WRITE_PROTECT);
  if (!node.m_bDirectory && (node.m_dwAttributes & FILE_ATTRIBUTE_READONLY) &&
      (rights & kChangeRights)) {
    return FailHandle(ERROR_ACCESS_DENIED);
  }
  err = m_impl->CheckSharing(volume.get(), false, node.m_nId, rights, object->m_dwShare);
  if (err != ERROR_SUCCESS) return FailHandle(err);
  object->m_eKind = CHandleObject::kItem;
  object->m_node = node;
  HANDLE h = m_impl->Add(std::move(object));
  StoreLastError(ERROR_SUCCESS);
  return h;
}

BOOL CImageVolumeSet::CloseHandle(HANDLE h) {
  std::lock_guard<std::mutex> lock(m_impl->m_mutex);
  CHandleObject* object = m_impl->Find(h);
  if (!object || object->m_eKind == CHandleObject::kFind) return Fail(ERROR_INVALID_HANDLE);
  std::shared_ptr<CMountedVolume> volume = object->m_pVolume;
  bool wasVolume = object->m_eKind == CHandleObject::kVolume;
  m_impl->m_handles.erase(reinterpret_cast<uintptr_t>(h));
  if (wasVolume && volume->m_bMounted && !m_impl->HasVolumeHandle(volume.get())) {
    volume->m_pFs->EndWrites();
  }
  return Succeed();
}

// The disk geometry of an image: the classic floppy formats by their size,
// anything else as a fixed disk of 255 heads and 63 sectors a track.
// Media types are MEDIA_TYPE's values.
static DWORD AnswerDriveGeometry(CFsVolume& fs, void* out, DWORD outSize, DWORD* returned) {
  if (!out || outSize < sizeof(DISK_GEOMETRY)) return ERROR_INSUFFICIENT_BUFFER;
  enum { F5_1Pt2_512 = 1, F3_1Pt44_512 = 2, F3_2Pt88_512 = 3, F3_720_512 = 5, F5_360_512 = 6 };
  const int FixedMedia = 12;
  struct Floppy {
    uint64_t bytes;
    DWORD heads, sectors;
    int type;
  };
  static const Floppy kFloppies[] = {{368640, 2, 9, F5_360_512},
                                     {737280, 2, 9, F3_720_512},
                                     {1228800, 2, 15, F5_1Pt2_512},
                                     {1474560, 2, 18, F3_1Pt44_512},
                                     {2949120, 2, 36, F3_2Pt88_512}};
  DISK_GEOMETRY g;
  std::memset(&g, 0, sizeof(g));
  g.BytesPerSector = fs.BytesPerSector();
  const uint64_t bytes = fs.VolumeBytes();
  g.MediaType = static_cast<decltype(g.MediaType)>(FixedMedia);
  g.TracksPerCylinder = 255;
  g.SectorsPerTrack = 63;
  for (const Floppy& f : kFloppies) {
    if (f.bytes == bytes && g.BytesPerSector == 512) {
      g.MediaType = static_cast<decltype(g.MediaType)>(f.type);
      g.TracksPerCylinder = f.heads;
      g.SectorsPerTrack = f.sectors;
    }
  }
  const uint64_t perCylinder =
      static_cast<uint64_t>(g.TracksPerCylinder) * g.SectorsPerTrack * g.BytesPerSector;
  g.Cylinders.QuadPart = perCylinder ? static_cast<LONGLONG>(bytes / perCylinder) : 0;
  std::memcpy(out, &g, sizeof(g));
  *returned = sizeof(g);
  return ERROR_SUCCESS;
}

BOOL CImageVolumeSet::DeviceIoControl(HANDLE h, DWORD code, const void* in, DWORD inSize, void* out,
                                      DWORD outSize, DWORD* returned) {
  std::lock_guard<std::mutex> lock(m_impl->m_mutex);
  DWORD ignored = 0;
  if (!returned) returned = &ignored;
  *returned = 0;
  CHandleObject* object = m_impl->Find(h);
  if (!object || object->m_eKind == CHandleObject::kFind) return Fail(ERROR_INVALID_HANDLE);
  if (!object->m_pVolume->m_bMounted) return Fail(ERROR_NOT_READY);
  CFsVolume& fs = *object->m_pVolume->m_pFs;
  bool isVolume = object->m_eKind == CHandleObject::kVolume;
  DWORD err = ERROR_INVALID_FUNCTION;
  switch (code) {
    case FSCTL_IS_VOLUME_MOUNTED:
      err = ERROR_SUCCESS;
      break;
    case FSCTL_GET_VOLUME_BITMAP:
      // The end of a pass, or a fresh look at what is free: a natural
      // place to store the moves gathered so far.
      err = isVolume ? fs.CommitMoves() : ERROR_INVALID_PARAMETER;
      if (err == ERROR_SUCCESS) err = AnswerVolumeBitmap(fs, in, inSize, out, outSize, returned);
      break;
    case FSCTL_GET_RETRIEVAL_POINTERS:
      // On a volume handle Windows lists bad clusters; that list is not
      // kept here.
      err = isVolume
                ? ERROR_INVALID_PARAMETER
                : AnswerRetrievalPointers(fs, object->m_node, in, inSize, out, outSize, returned);
      break;
    case FSCTL_GET_NTFS_VOLUME_DATA:
      if (!isVolume) {
        err = ERROR_INVALID_PARAMETER;
      } else {
        NTFS_VOLUME_DATA_BUFFER data;
        std::memset(&data, 0, sizeof(data));
        err = fs.GetNtfsVolumeData(&data);
        if (err == ERROR_SUCCESS && (!out || outSize < sizeof(data))) {
          err = ERROR_INSUFFICIENT_BUFFER;
        } else if (err == ERROR_SUCCESS) {
          std::memcpy(out, &data, sizeof(data));
          *returned = sizeof(data);
        }
      }
      break;
    case FSCTL_GET_NTFS_FILE_RECORD:
      err = isVolume ? fs.GetNtfsFileRecord(in, inSize, out, outSize, returned)
                     : ERROR_INVALID_PARAMETER;
      break;
    case IOCTL_DISK_GET_DRIVE_GEOMETRY:
      err = isVolume ? AnswerDriveGeometry(fs, out, outSize, returned) : ERROR_INVALID_PARAMETER;
      break;
    case FSCTL_MOVE_FILE:
      // Moves are asked of the volume, naming the file in the input.
      err = isVolume ? m_impl->MoveFile(*object->m_pVolume, in, inSize) : ERROR_INVALID_PARAMETER;
      break;
    default:
      err = ERROR_INVALID_FUNCTION;
      break;
  }
  StoreLastError(err);
  return err == ERROR_SUCCESS ? TRUE : FALSE;
}

BOOL CImageVolumeSet::ReadFile(HANDLE h, void* buffer, DWORD toRead, DWORD* read) {
  std::lock_guard<std::mutex> lock(m_impl->m_mutex);
  DWORD ignored = 0;
  if (!read) read = &ignored;
  *read = 0;
  CHandleObject* object = m_impl->Find(h);
  if (!object || object->m_eKind == CHandleObject::kFind) return Fail(ERROR_INVALID_HANDLE);
  if (!object->m_pVolume->m_bMounted) return Fail(ERROR_NOT_READY);
  if (!(object->m_dwAccess & FILE_READ_DATA)) return Fail(ERROR_ACCESS_DENIED);
  if (toRead > 0 && !buffer) return Fail(ERROR_INVALID_PARAMETER);
  CFsVolume& fs = *object->m_pVolume->m_pFs;
  auto* out = static_cast<uint8_t*>(buffer);

  if (object->m_eKind == CHandleObject::kVolume) {
    uint64_t end = fs.VolumeBytes();
    uint64_t pos = object->m_nPosition;
    // A volume handle reads whole sectors only, as on a 4K-native disk
    // Windows refuses a 512-byte read.
    const uint64_t sector = fs.BytesPerSector();
    if (sector != 0 && (pos % sector != 0 || toRead % sector != 0))
      return Fail(ERROR_INVALID_PARAMETER);
    uint64_t n = pos >= end ? 0 : std::min<uint64_t>(toRead, end - pos);
    if (n > 0) {
      DWORD err = fs.ReadRaw(pos, out, static_cast<size_t>(n));
      if (err != ERROR_SUCCESS) return Fail(err);
    }
    object->m_nPosition += n;
    *read = static_cast<DWORD>(n);
    return Succeed();
  }

  const CFsNode& node = object->m_node;
  if (node.m_bDirectory) return Fail(ERROR_INVALID_FUNCTION);
  uint64_t pos = object->m_nPosition;
  uint64_t n = pos >= node.m_nSize ? 0 : std::min<uint64_t>(toRead, node.m_nSize - pos);
  if (n == 0) return Succeed();
  DWORD err = fs.ReadFileData(node, pos, out, static_cast<size_t>(n));
  if (err != ERROR_CALL_NOT_IMPLEMENTED) {
    if (err != ERROR_SUCCESS) return Fail(err);
    object->m_nPosition += n;
    *read = static_cast<DWORD>(n);
    return Succeed();
  }
  std::vector<CFsRun> runs;
  err = fs.GetRuns(node, &runs);
  if (err != ERROR_SUCCESS) return Fail(err);
  const uint64_t clusterBytes = fs.BytesPerCluster();
  uint64_t allocated = runs.empty() ? 0 : (runs.back().m_nVcn + runs.back().m_nCount);
  if (allocated * clusterBytes < node.m_nSize) return Fail(ERROR_FILE_CORRUPT);
  uint64_t done = 0;
  for (const CFsRun& run : runs) {
    uint64_t runStart = run.m_nVcn * clusterBytes;
    uint64_t runEnd = runStart + run.m_nCount * clusterBytes;
    uint64_t at = pos + done;
    if (done == n) break;
    if (at >= runEnd) continue;
    uint64_t take = std::min(n - done, runEnd - at);
    err = fs.ReadRaw(fs.LcnOffset(run.m_nLcn) + (at - runStart), out + done,
                     static_cast<size_t>(take));
    if (err != ERROR_SUCCESS) return Fail(err);
    done += take;
  }
  object->m_nPosition += done;
  *read = static_cast<DWORD>(done);
  return Succeed();
}

BOOL CImageVolumeSet::SetFilePointerEx(HANDLE h, LARGE_INTEGER distance, LARGE_INTEGER* newPosition,
                                       DWORD method) {
  std::lock_guard<std::mutex> lock(m_impl->m_mutex);
  CHandleObject* object = m_impl->Find(h);
  if (!object || object->m_eKind == CHandleObject::kFind) return Fail(ERROR_INVALID_HANDLE);
  int64_t base = 0;
  switch (method) {
    case FILE_BEGIN:
      base = 0;
      break;
    case FILE_CURRENT:
      base = static_cast<int64_t>(object->m_nPosition);
      break;
    case FILE_END:
      base = object->m_eKind == CHandleObject::kVolume
                 ? static_cast<int64_t>(object->m_pVolume->m_pFs->VolumeBytes())
                 : static_cast<int64_t>(object->m_node.m_nSize);
      break;
    default:
      return Fail(ERROR_INVALID_PARAMETER);
  }
  int64_t target = 0;
  if (__builtin_add_overflow(base, distance.QuadPart, &target)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (target < 0) return Fail(ERROR_NEGATIVE_SEEK);
  object->m_nPosition = static_cast<uint64_t>(target);
  if (newPosition) newPosition->QuadPart = target;
  return Succeed();
}

BOOL CImageVolumeSet::GetFileSizeEx(HANDLE h, LARGE_INTEGER* size) {
  std::lock_guard<std::mutex> lock(m_impl->m_mutex);
  CHandleObject* object = m_impl->Find(h);
  if (!object || object->m_eKind == CHandleObject::kFind) return Fail(ERROR_INVALID_HANDLE);
  if (!size) return Fail(ERROR_INVALID_PARAMETER);
  if (object->m_eKind == CHandleObject::kVolume) {
    size->QuadPart = static_cast<LONGLONG>(object->m_pVolume->m_pFs->VolumeBytes());
  } else {
    size->QuadPart = static_cast<LONGLONG>(object->m_node.m_nSize);  // folders: 0
  }
  return Succeed();
}

HANDLE CImageVolumeSet::FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* data) {
  std::lock_guard<std::mutex> lock(m_impl->m_mutex);
  if (!pattern || !data) return FailHandle(ERROR_INVALID_PARAMETER);
  if (IsPathTooLong(pattern)) return FailHandle(kErrorFilenameTooLong);
  std::string text(pattern);
  size_t cut = text.find_last_of("\\/");
  // The last component is the name pattern; what precedes it is the folder.
  std::string folderPath = cut == std::string::npos ? text : text.substr(0, cut + 1);
  std::string namePattern = cut == std::string::npos ? std::string() : text.substr(cut + 1);
  if (cut == std::string::npos && text.size() > 2 && text[1] == ':') {
    folderPath = text.substr(0, 2);
    namePattern = text.substr(2);
  }
  CImagePath parsed;
  DWORD err = ParseImagePath(folderPath, &parsed);
  if (err != ERROR_SUCCESS) return FailHandle(err);
  auto volume = parsed.m_eKind == CImagePath::kItem ? m_impl->VolumeOf(parsed) : nullptr;
  if (!volume) return FailHandle(ERROR_PATH_NOT_FOUND);
  while (!namePattern.empty() && namePattern.back() == ' ') namePattern.pop_back();
  if (namePattern.empty() || namePattern == "." || namePattern == "..") {
    return FailHandle(ERROR_FILE_NOT_FOUND);
  }
  CFsNode folder;
  err = m_impl->Resolve(*volume, parsed.m_components, &folder);
  if (err == ERROR_FILE_NOT_FOUND) err = ERROR_PATH_NOT_FOUND;
  if (err != ERROR_SUCCESS) return FailHandle(err);
  if (!folder.m_bDirectory) return FailHandle(ERROR_DIRECTORY);
  CFsListing listing;
  err = volume->m_pFs->ListFolder(folder, &listing);
  if (err != ERROR_SUCCESS) return FailHandle(err);

  auto object = std::make_unique<CHandleObject>();
  object->m_eKind = CHandleObject::kFind;
  object->m_pVolume = volume;
  bool wild = HasWildcard(namePattern);
  for (const CFsNode& node : *listing) {
    bool dots = node.m_strName == "." || node.m_strName == "..";
    bool match = wild ? (MatchWildcard(namePattern, node.m_strName) ||
                         (!dots && MatchWildcard(namePattern, node.m_strShortName)))
                      : (!dots && (Utf8EqualNoCase(namePattern, node.m_strName) ||
                                   Utf8EqualNoCase(namePattern, node.m_strShortName)));
    if (!match) continue;
    object->m_found.push_back(node);
    if (!wild) break;
  }
  if (object->m_found.empty()) return FailHandle(ERROR_FILE_NOT_FOUND);
  FillFindData(object->m_found[0], data);
  object->m_nNext = 1;
  HANDLE h = m_impl->Add(std::move(object));
  StoreLastError(ERROR_SUCCESS);
  return h;
}

BOOL CImageVolumeSet::FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data) {
  std::lock_guard<std::mutex> lock(m_impl->m_mutex);
  CHandleObject* object = m_impl->Find(find);
  if (!object || object->m_eKind != CHandleObject::kFind) return Fail(ERROR_INVALID_HANDLE);
  if (!data) return Fail(ERROR_INVALID_PARAMETER);
  if (object->m_nNext >= object->m_found.size()) return Fail(ERROR_NO_MORE_FILES);
  FillFindData(object->m_found[object->m_nNext++], data);
  return Succeed();
}

BOOL CImageVolumeSet::FindClose(HANDLE find) {
  std::lock_guard<std::mutex> lock(m_impl->m_mutex);
  CHandleObject* object = m_impl->Find(find);
  if (!object || object->m_eKind != CHandleObject::kFind) return Fail(ERROR_INVALID_HANDLE);
  m_impl->m_handles.erase(reinterpret_cast<uintptr_t>(find));
  return Succeed();
}

}  // namespace vt
