// Mounting, drive enumeration, volume information and the host's own files.
// Handles, folder enumeration and the controls are in volume_handles.cpp.
#include "platform/image/volume_set.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/hash.h"
#include "platform/image/block_device.h"
#include "platform/image/host_files.h"
#include "platform/image/volume_set_impl.h"

namespace vt {

namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;

// A volume name that stays the same for the same letter and image.
std::string MakeVolumeId(char letter, const std::string& identity) {
  std::string key = std::string(1, letter) + "|" + identity;
  uint64_t a = Fnv1a(key);
  uint64_t b = Fnv1a(key, 0x84222325CBF29CE4ULL);
  char text[64];
  std::snprintf(text, sizeof(text), "Volume{%08x-%04x-%04x-%04x-%012llx}",
                static_cast<unsigned>(a >> 32), static_cast<unsigned>((a >> 16) & 0xFFFF),
                static_cast<unsigned>(a & 0xFFFF), static_cast<unsigned>(b >> 48),
                static_cast<unsigned long long>(b & 0xFFFFFFFFFFFFULL));
  return text;
}

BOOL Fail(DWORD error) {
  StoreLastError(error);
  return FALSE;
}

BOOL Succeed() {
  StoreLastError(ERROR_SUCCESS);
  return TRUE;
}

}  // namespace

DWORD CImageVolumeSet::Impl::RootVolume(const char* root, bool bareLetter,
                                        std::shared_ptr<CMountedVolume>* volume) const {
  if (!root) return ERROR_PATH_NOT_FOUND;
  CImagePath parsed;
  DWORD err = ParseImagePath(root, &parsed);
  if (err != ERROR_SUCCESS) return err;
  if (parsed.m_eKind != CImagePath::kItem || !parsed.m_components.empty()) {
    return ERROR_INVALID_NAME;
  }
  if (!parsed.m_bTrailingSeparator && !(bareLetter && parsed.m_cLetter)) {
    return ERROR_INVALID_NAME;
  }
  *volume = VolumeOf(parsed);
  return *volume ? ERROR_SUCCESS : ERROR_PATH_NOT_FOUND;
}

namespace {

DWORD CopyText(const std::string& text, char* buffer, DWORD size) {
  if (!buffer) return ERROR_SUCCESS;
  if (text.size() + 1 > size) return ERROR_BAD_LENGTH;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return ERROR_SUCCESS;
}

}  // namespace

void StoreLastError(DWORD error) { t_lastError = error; }

bool IsPathTooLong(const char* path) {
  constexpr size_t kLongestPath = 32767;
  return std::strlen(path) > kLongestPath;
}

DWORD MapGenericAccess(DWORD access) {
  DWORD out = access & 0x0FFFFFFF;
  if (access & GENERIC_READ) {
    out |= FILE_READ_DATA | FILE_READ_ATTRIBUTES | kAccessReadEa | kAccessReadControl |
           kAccessSynchronize;
  }
  if (access & GENERIC_WRITE) {
    out |= FILE_WRITE_DATA | FILE_APPEND_DATA | kAccessWriteAttributes | kAccessWriteEa |
           kAccessReadControl | kAccessSynchronize;
  }
  if (access & kAccessGenericExecute) {
    out |= FILE_EXECUTE | FILE_READ_ATTRIBUTES | kAccessReadControl | kAccessSynchronize;
  }
  if (access & kAccessGenericAll) {
    out |= FILE_READ_DATA | FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_EXECUTE |
           FILE_READ_ATTRIBUTES | kAccessWriteAttributes | kAccessReadEa | kAccessWriteEa |
           kAccessDelete | kAccessReadControl | kAccessSynchronize;
  }
  return out;
}

std::shared_ptr<CMountedVolume> CImageVolumeSet::Impl::ByLetter(char letter) const {
  int c = std::toupper(static_cast<unsigned char>(letter));
  if (c < 'A' || c > 'Z') return nullptr;
  return m_letters[c - 'A'];
}

std::shared_ptr<CMountedVolume> CImageVolumeSet::Impl::VolumeOf(const CImagePath& path) const {
  if (path.m_cLetter) return ByLetter(path.m_cLetter);
  if (path.m_strVolumeId.empty()) return nullptr;
  for (const auto& volume : m_letters) {
    if (volume && volume->m_strVolumeId.size() == path.m_strVolumeId.size()) {
      bool same = true;
      for (size_t i = 0; i < path.m_strVolumeId.size() && same; ++i) {
        same = std::tolower(static_cast<unsigned char>(volume->m_strVolumeId[i])) ==
               std::tolower(static_cast<unsigned char>(path.m_strVolumeId[i]));
      }
      if (same) return volume;
    }
  }
  return nullptr;
}

CImageVolumeSet::CImageVolumeSet() : m_impl(new Impl()) {}
CImageVolumeSet::~CImageVolumeSet() = default;

DWORD CImageVolumeSet::Mount(char letter, const std::string& imagePath, bool readOnly,
                             std::string* message) {
  std::unique_ptr<CBlockDevice> device;
  std::string reason;
  DWORD err = CFileBlockDevice::Open(imagePath, readOnly, &device, &reason);
  if (err != ERROR_SUCCESS) {
    if (message) *message = reason;
    return err;
  }
  return MountDevice(letter, std::move(device), HostCanonicalPath(imagePath), readOnly, message,
                     imagePath);
}

DWORD CImageVolumeSet::MountDevice(char letter, std::unique_ptr<CBlockDevice> device,
                                   const std::string& identity, bool readOnly, std::string* message,
                                   const std::string& displayName) {
  return m_impl->AddVolume(letter, std::move(device), identity, readOnly, false, message,
                           displayName);
}

DWORD CImageVolumeSet::MountForReading(char letter, const std::string& imagePath,
                                       std::string* message) {
  std::unique_ptr<CBlockDevice> device;
  std::string reason;
  DWORD err = CFileBlockDevice::Open(imagePath, true, &device, &reason);
  if (err != ERROR_SUCCESS) {
    if (message) *message = reason;
    return err;
  }
  return m_impl->AddVolume(letter, std::move(device), HostCanonicalPath(imagePath), false, true,
                           message, imagePath);
}

DWORD CImageVolumeSet::CheckAllocation(char letter, CAllocationCheck* result) {
  std::lock_guard<std::mutex> lock(m_impl->m_mutex);
  auto volume = m_impl->ByLetter(letter);
  if (!volume) return ERROR_INVALID_DRIVE;
  DWORD err = m_impl->EnsureChecked(*volume);
  if (err == ERROR_SUCCESS) *result = volume->m_check;
  return err;
}

void CImageVolumeSet::CheckAlongReads(char letter) {
  std::lock_guard<std::mutex> lock(m_impl->m_mutex);
  auto volume = m_impl->ByLetter(letter);
  if (volume && !volume->m_bChecked) volume->m_pFs->CheckAlongReads();
}

DWORD CImageVolumeSet::Impl::AddVolume(char letter, std::unique_ptr<CBlockDevice> device,
                                       const std::string& identity, bool readOnly, bool readAccess,
                                       std::string* message, const std::string& displayName) {
  int c = std::toupper(static_cast<unsigned char>(letter));
  std::string name = displayName.empty() ? identity : displayName;
  if (c < 'A' || c > 'Z') {
    if (message) *message = "invalid drive letter '" + std::string(1, letter) + "'";
    return ERROR_INVALID_DRIVE;
  }
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_letters[c - 'A']) {
      if (message)
        *message = "drive " + std::string(1, static_cast<char>(c)) + ": is already mounted";
      return ERROR_ALREADY_EXISTS;
    }
  }
  if (!device) {
    if (message) *message = "no device to mount";
    return ERROR_INVALID_PARAMETER;
  }
  auto volume = std::make_shared<CMountedVolume>();
  volume->m_cLetter = static_cast<char>(c);
  volume->m_strImage = name;
  volume->m_bReadAccess = readAccess;
  volume->m_bReadOnly = readOnly || (device->IsReadOnly() && !readAccess);
  volume->m_strVolumeId = MakeVolumeId(static_cast<char>(c), identity);
  volume->m_pDevice = device.get();
  std::string reason;
  DWORD err = OpenFsVolume(std::move(device), &volume->m_pFs, &reason);
  if (err != ERROR_SUCCESS) {
    if (message) *message = name + ": " + reason;
    return err;
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_letters[c - 'A']) {
    if (message)
      *message = "drive " + std::string(1, static_cast<char>(c)) + ": is already mounted";
    return ERROR_ALREADY_EXISTS;
  }
  m_letters[c - 'A'] = volume;
  return ERROR_SUCCESS;
}

DWORD CImageVolumeSet::MountList(const std::string& list, bool readOnly, std::string* message) {
  std::vector<char> mounted;
  size_t pos = 0;
  while (pos <= list.size()) {
    size_t end = list.find(';', pos);
    if (end == std::string::npos) end = list.size();
    std::string item = list.substr(pos, end - pos);
    pos = end + 1;
    while (!item.empty() && std::isspace(static_cast<unsigned char>(item.back()))) item.pop_back();
    size_t lead = 0;
    while (lead < item.size() && std::isspace(static_cast<unsigned char>(item[lead]))) ++lead;
    item.erase(0, lead);
    if (item.empty()) continue;
    DWORD err = ERROR_SUCCESS;
    if (item.size() < 3 || item[1] != '=') {
      if (message) *message = "bad volume entry '" + item + "' (expected L=path)";
      err = ERROR_INVALID_PARAMETER;
    } else {
      err = Mount(item[0], item.substr(2), readOnly, message);
      // An image that cannot be written still analyses: read-only when the
      // host refuses writing, for reading only while it is in use.
      if (!readOnly && (err == ERROR_WRITE_PROTECT || err == ERROR_ACCESS_DENIED))
        err = Mount(item[0], item.substr(2), true, message);
      else if (!readOnly && (err == ERROR_BUSY || err == ERROR_SHARING_VIOLATION))
        err = MountForReading(item[0], item.substr(2), message);
    }
    if (err != ERROR_SUCCESS) {
      // All or nothing: a half-mounted list would hide the bad entry.
      for (char letter : mounted) Unmount(letter);
      return err;
    }
    mounted.push_back(item[0]);
  }
  return ERROR_SUCCESS;
}

bool CImageVolumeSet::IsMounted(char letter) const {
  std::lock_guard<std::mutex> lock(m_impl->m_mutex);
  return m_impl->ByLetter(letter) != nullptr;
}

void CImageVolumeSet::Unmount(char letter) {
  std::lock_guard<std::mutex> lock(m_impl->m_mutex);
  auto volume = m_impl->ByLetter(letter);
  if (!volume) return;
  // Handles still open on it answer ERROR_NOT_READY from now on, as for a
  // dismounted volume.
  volume->m_pFs->EndWrites();
  volume->m_bMounted = false;
  m_impl->m_letters[std::toupper(static_cast<unsigned char>(letter)) - 'A'].reset();
}

DWORD CImageVolumeSet::GetLogicalDrives() {
  std::lock_guard<std::mutex> lock(m_impl->m_mutex);
  DWORD bits = 0;
  for (int i = 0; i < 26; ++i) {
    if (m_impl->m_letters[i]) bits |= 1u << i;
  }
  StoreLastError(ERROR_SUCCESS);
  return bits;
}

UINT CImageVolumeSet::GetDriveTypeA(const char* root) {
  std::lock_guard<std::mutex> lock(m_impl->m_mutex);
  std::shared_ptr<CMountedVolume> volume;
  if (m_impl->RootVolume(root, true, &volume) != ERROR_SUCCESS) return DRIVE_NO_ROOT_DIR;
  // An image at A: or B: stands for a floppy disk.
  return volume->m_cLetter == 'A' || volume->m_cLetter == 'B' ? DRIVE_REMOVABLE : DRIVE_FIXED;
}

BOOL CImageVolumeSet::GetVolumeNameForVolumeMountPointA(const char* mountPoint, char* name,
                                                        DWORD nameSize) {
  std::lock_guard<std::mutex> lock(m_impl->m_mutex);
  if (!mountPoint || !name) return Fail(ERROR_INVALID_PARAMETER);
  CImagePath parsed;
  if (ParseImagePath(mountPoint, &parsed) != ERROR_SUCCESS || parsed.m_eKind != CImagePath::kItem ||
      !parsed.m_components.empty() || !parsed.m_bTrailingSeparator) {
    return Fail(ERROR_INVALID_PARAMETER);  // a mount point ends with a backslash
  }
  auto volume = m_impl->VolumeOf(parsed);
  if (!volume) return Fail(ERROR_FILE_NOT_FOUND);
  std::string text = "\\\\?\\" + volume->m_strVolumeId + "\\";
  if (text.size() + 1 > nameSize) return Fail(kErrorFilenameTooLong);
  std::memcpy(name, text.c_str(), text.size() + 1);
  return Succeed();
}

BOOL CImageVolumeSet::GetVolumeInformationA(const char* root, char* volumeName,
                                            DWORD volumeNameSize, DWORD* serial,
                                            DWORD* maxComponent, DWORD* fsFlags, char* fsName,
                                            DWORD fsNameSize) {
  std::lock_guard<std::mutex> lock(m_impl->m_mutex);
  std::shared_ptr<CMountedVolume> volume;
  DWORD err = m_impl->RootVolume(root, false, &volume);
  if (err != ERROR_SUCCESS) return Fail(err);
  CFsVolume& fs = *volume->m_pFs;
  if ((err = CopyText(fs.Label(), volumeName, volumeNameSize)) != ERROR_SUCCESS) return Fail(err);
  if ((err = CopyText(fs.FileSystemName(), fsName, fsNameSize)) != ERROR_SUCCESS) return Fail(err);
  if (serial) *serial = fs.Serial();
  if (maxComponent) *maxComponent = 255;
  if (fsFlags) {
    *fsFlags = fs.FileSystemFlags() | (volume->m_bReadOnly ? FILE_READ_ONLY_VOLUME : 0);
  }
  return Succeed();
}

BOOL CImageVolumeSet::GetDiskFreeSpaceA(const char* root, DWORD* sectorsPerCluster,
                                        DWORD* bytesPerSector, DWORD* freeClusters,
                                        DWORD* totalClusters) {
  std::lock_guard<std::mutex> lock(m_impl->m_mutex);
  std::shared_ptr<CMountedVolume> volume;
  DWORD err = m_impl->RootVolume(root, true, &volume);
  if (err != ERROR_SUCCESS) return Fail(err);
  CFsVolume& fs = *volume->m_pFs;
  if (sectorsPerCluster) *sectorsPerCluster = fs.SectorsPerCluster();
  if (bytesPerSector) *bytesPerSector = fs.BytesPerSector();
  if (freeClusters) *freeClusters = static_cast<DWORD>(fs.FreeClusters());
  if (totalClusters) *totalClusters = static_cast<DWORD>(fs.TotalClusters());
  return Succeed();
}

BOOL CImageVolumeSet::GetDiskFreeSpaceExA(const char* root, ULARGE_INTEGER* freeToCaller,
                                          ULARGE_INTEGER* total, ULARGE_INTEGER* totalFree) {
  std::lock_guard<std::mutex> lock(m_impl->m_mutex);
  if (!root) return Fail(ERROR_PATH_NOT_FOUND);
  // Any folder of the volume will do, as on Windows.
  CImagePath parsed;
  DWORD err = ParseImagePath(root, &parsed);
  if (err != ERROR_SUCCESS) return Fail(err);
  auto volume = parsed.m_eKind == CImagePath::kItem ? m_impl->VolumeOf(parsed) : nullptr;
  if (!volume) return Fail(ERROR_PATH_NOT_FOUND);
  CFsNode node;
  err = m_impl->Resolve(*volume, parsed.m_components, &node);
  if (err == ERROR_FILE_NOT_FOUND) err = ERROR_PATH_NOT_FOUND;
  if (err != ERROR_SUCCESS) return Fail(err);
  if (!node.m_bDirectory) return Fail(ERROR_DIRECTORY);
  CFsVolume& fs = *volume->m_pFs;
  uint64_t clusterBytes = fs.BytesPerCluster();
  uint64_t freeBytes = fs.FreeClusters() * clusterBytes;
  if (freeToCaller) freeToCaller->QuadPart = freeBytes;
  if (totalFree) totalFree->QuadPart = freeBytes;
  if (total) total->QuadPart = fs.TotalClusters() * clusterBytes;
  return Succeed();
}

DWORD CImageVolumeSet::GetTempPathA(DWORD size, char* buffer) {
  DWORD error = ERROR_SUCCESS;
  DWORD n = HostGetTempPath(size, buffer, &error);
  StoreLastError(error);
  return n;
}

DWORD CImageVolumeSet::GetFileAttributesA(const char* path) {
  {
    std::lock_guard<std::mutex> lock(m_impl->m_mutex);
    CImagePath parsed;
    DWORD err = path ? ParseImagePath(path, &parsed) : ERROR_INVALID_PARAMETER;
    auto volume = err == ERROR_SUCCESS ? m_impl->VolumeOf(parsed) : nullptr;
    if (err != ERROR_SUCCESS || volume) {
      if (err == ERROR_SUCCESS && parsed.m_eKind != CImagePath::kItem) err = ERROR_INVALID_FUNCTION;
      if (err == ERROR_SUCCESS && IsPathTooLong(path)) err = kErrorFilenameTooLong;
      CFsNode node;
      if (err == ERROR_SUCCESS) err = m_impl->Resolve(*volume, parsed.m_components, &node);
      if (err == ERROR_SUCCESS && parsed.m_bTrailingSeparator && !node.m_bDirectory) {
        err = ERROR_INVALID_NAME;
      }
      StoreLastError(err);
      return err == ERROR_SUCCESS ? node.m_dwAttributes : INVALID_FILE_ATTRIBUTES;
    }
  }
  DWORD error = ERROR_SUCCESS;
  DWORD attributes = HostGetFileAttributes(path, &error);
  StoreLastError(error);
  return attributes;
}

BOOL CImageVolumeSet::DeleteFileA(const char* path) {
  {
    std::lock_guard<std::mutex> lock(m_impl->m_mutex);
    CImagePath parsed;
    DWORD err = path ? ParseImagePath(path, &parsed) : ERROR_INVALID_PARAMETER;
    auto volume = err == ERROR_SUCCESS ? m_impl->VolumeOf(parsed) : nullptr;
    if (err != ERROR_SUCCESS) return Fail(err);
    if (volume) {
      if (parsed.m_eKind != CImagePath::kItem) return Fail(ERROR_ACCESS_DENIED);
      if (IsPathTooLong(path)) return Fail(kErrorFilenameTooLong);
      CFsNode node;
      err = m_impl->Resolve(*volume, parsed.m_components, &node);
      if (err != ERROR_SUCCESS) return Fail(err);
      if (volume->m_bReadOnly) return Fail(ERROR_WRITE_PROTECT);
      // Files inside images are changed only by moves; deleting is refused.
      return Fail(ERROR_ACCESS_DENIED);
    }
  }
  DWORD error = ERROR_SUCCESS;
  BOOL ok = HostDeleteFile(path, &error);
  StoreLastError(error);
  return ok;
}

DWORD CImageVolumeSet::GetLastError() { return t_lastError; }
void CImageVolumeSet::SetLastError(DWORD error) { t_lastError = error; }

}  // namespace vt
