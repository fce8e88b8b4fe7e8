// Opening and checking a volume, its geometry and reserved areas, and
// opening files for reading their extents or moving them.
#include <cstdio>
#include <cstring>

#include "base/text.h"
#include "engine/defrag.h"
#include "engine/globals.h"

namespace vt {

namespace {
// HRESULT of a Win32 error, as the privilege call reports failures.
DWORD ErrorAsHResult(DWORD error) {
  if (static_cast<int32_t>(error) <= 0) return error;
  return (error & 0x0000FFFFu) | 0x80070000u;
}

void StripTrailingSlashes(std::string& s) {
  while (!s.empty() && (s.back() == '\\' || s.back() == '/')) s.pop_back();
}

// A path the system would not take relative to the process's current folder
// or current drive: "X:\..." or "\\...".
bool IsFullPath(const std::string& path) {
  if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') return true;
  const unsigned char letter = static_cast<unsigned char>(path.empty() ? 0 : path[0]);
  return path.size() >= 3 && ((letter | 0x20) >= 'a' && (letter | 0x20) <= 'z') && path[1] == ':' &&
         path[2] == '\\';
}
}  // namespace

CDefrag::CDefrag(const CEngineServices& services) : m_svc(services) {
  m_nRefreshInterval = 100;
  m_pDrive = nullptr;
  Reset();
  // The engine works without the backup privilege, so the result is not checked.
  EnablePrivilege("SeBackupPrivilege", true);
  DWORD major = 0;
  DWORD minor = 0;
  System().GetVersion(&major, &minor);
  m_bXPOrLater = major > 5 || (major == 5 && minor >= 1);
}

CDefrag::~CDefrag() = default;

void CDefrag::Reset() {
  m_hVolume.Close();
  m_hNotifyWnd = nullptr;
  m_nTotalClusters = 0;
  m_nMovedClusters = 0;
  m_nProgressLcn = 0;
  if (CDriveData* drive = CurrentDrive()) {
    drive->m_nFolders = 0;
    drive->m_nFiles = 0;
  }
  m_freeRuns.RemoveAll();
  m_files.RemoveAll();
  m_files.SetGrowBy(32768);
}

void CDefrag::CloseVolume() { m_hVolume.Close(); }

void CDefrag::SettleVolume() {
  if (!m_hVolume.IsValid()) return;
  STARTING_LCN_INPUT_BUFFER start = {};
  alignas(8) uint8_t probe[kBitmapProbeSize] = {};
  DWORD returned = 0;
  Ops().DeviceIoControl(m_hVolume.Get(), FSCTL_GET_VOLUME_BITMAP, &start, sizeof(start), probe,
                        sizeof(probe), &returned);
}

int CDefrag::ShowError(const std::string& text) {
  return Prompt().ShowMessage(text, MB_OK | MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND);
}

void CDefrag::ShowSystemError(DWORD error) { ShowError(SystemText(error)); }

bool CDefrag::OpenVolume(CDriveData* drive) {
  Reset();
  m_pDrive = drive;
  m_strRoot = drive->m_strDrive;
  m_bNtfs = drive->m_bNtfs;
  m_strDrive = drive->m_strDrive;

  char volumeName[MAX_PATH] = {};
  if (!Ops().GetVolumeNameForVolumeMountPointA(m_strRoot.c_str(), volumeName, MAX_PATH)) {
    ShowSystemError(Ops().GetLastError());
    return false;
  }
  volumeName[MAX_PATH - 1] = '\0';

  DWORD fsFlags = 0;
  if (Ops().GetVolumeInformationA(m_strRoot.c_str(), nullptr, 0, nullptr, nullptr, &fsFlags,
                                  nullptr, 0) &&
      (fsFlags & FILE_READ_ONLY_VOLUME) != 0) {
    ShowError("Drive is read-only.");
    return false;
  }

  m_strVolume = volumeName;
  StripTrailingSlashes(m_strRoot);
  StripTrailingSlashes(m_strVolume);

  HANDLE h = Ops().CreateFileA(m_strVolume.c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
  if (h == INVALID_HANDLE_VALUE) {
    ShowSystemError(Ops().GetLastError());
    return false;
  }
  m_hVolume = CHandle(&Ops(), h);

  DWORD returned = 0;
  if (!Ops().DeviceIoControl(m_hVolume.Get(), FSCTL_IS_VOLUME_MOUNTED, nullptr, 0, nullptr, 0,
                             &returned)) {
    ShowError("Volume is not mounted.");
    m_hVolume.Close();
    return false;
  }

  STARTING_LCN_INPUT_BUFFER start = {};
  start.StartingLcn.QuadPart = 0;
  alignas(8) uint8_t probe[kBitmapProbeSize] = {};
  if (!Ops().DeviceIoControl(m_hVolume.Get(), FSCTL_GET_VOLUME_BITMAP, &start, sizeof(start), probe,
                             sizeof(probe), &returned) &&
      Ops().GetLastError() != ERROR_MORE_DATA) {
    char text[300];
    std::snprintf(text, sizeof(text), "Cannot defragment drive %s", m_strRoot.c_str());
    ShowError(text);
    m_hVolume.Close();
    return false;
  }
  VOLUME_BITMAP_BUFFER header;
  std::memcpy(&header, probe, 16);
  m_nTotalClusters = static_cast<uint64_t>(header.StartingLcn.QuadPart) +
                     static_cast<uint64_t>(header.BitmapSize.QuadPart);
  if (m_nTotalClusters > kMaxClusters) {
    ShowError("You will need the 64-bit version of this utility to support this drive.");
    return false;
  }

  m_mftRange = CLcnRange();
  m_mftZoneRange = CLcnRange();
  m_mftMirrorRange = CLcnRange();
  NTFS_VOLUME_DATA_BUFFER ntfs = {};
  if (!Ops().DeviceIoControl(m_hVolume.Get(), FSCTL_GET_NTFS_VOLUME_DATA, nullptr, 0, &ntfs,
                             sizeof(ntfs), &returned))
    return true;
  uint64_t mftClusters = 0;
  if (ntfs.BytesPerCluster != 0)
    mftClusters = static_cast<uint64_t>(ntfs.MftValidDataLength.QuadPart) / ntfs.BytesPerCluster;
  uint64_t mftStart = static_cast<uint64_t>(ntfs.MftStartLcn.QuadPart);
  uint64_t mirrorStart = static_cast<uint64_t>(ntfs.Mft2StartLcn.QuadPart);
  m_mftRange = {mftStart, mftStart + mftClusters};
  m_mftZoneRange = {static_cast<uint64_t>(ntfs.MftZoneStart.QuadPart),
                    static_cast<uint64_t>(ntfs.MftZoneEnd.QuadPart)};
  m_mftMirrorRange = {mirrorStart, mirrorStart + mftClusters};
  return true;
}

uint32_t CDefrag::GetVolumeClusters() {
  if (m_strRoot.find(':') != 1) return 0;
  char root[4] = {m_strRoot[0], ':', '\\', '\0'};
  DWORD sectorsPerCluster = 0;
  DWORD bytesPerSector = 0;
  DWORD freeClusters = 0;
  DWORD totalClusters = 0;
  if (!Ops().GetDiskFreeSpaceA(root, &sectorsPerCluster, &bytesPerSector, &freeClusters,
                               &totalClusters)) {
    ShowError("Error in call to GetDiskFreeSpace");
    return 0;
  }
  m_dwBytesPerCluster = sectorsPerCluster * bytesPerSector;
  return totalClusters;
}

HANDLE CDefrag::OpenFileForMove(const std::string& path) {
  struct Try {
    DWORD access;
    DWORD share;
    DWORD flags;
  };
  static const Try kTries[] = {
      {FILE_EXECUTE, 0, FILE_FLAG_BACKUP_SEMANTICS},
      {FILE_READ_DATA | FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_FLAG_BACKUP_SEMANTICS},
      {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
       FILE_FLAG_BACKUP_SEMANTICS},
      {FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
       FILE_FLAG_WRITE_THROUGH | FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN |
           FILE_FLAG_BACKUP_SEMANTICS},
  };
  // An item whose path did not resolve (empty, or a bare name) would open a
  // file of that name wherever the process happens to be.
  if (!IsFullPath(path)) {
    Ops().SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE h = INVALID_HANDLE_VALUE;
  for (const Try& t : kTries) {
    h = Ops().CreateFileA(LongPathForm(path).c_str(), t.access, t.share, OPEN_EXISTING, t.flags);
    if (h != INVALID_HANDLE_VALUE) break;
  }
  return h;
}

DWORD CDefrag::EnablePrivilege(const char* name, bool enable) {
  LUID luid = {};
  if (!System().LookupPrivilegeValueA(name, &luid)) return ErrorAsHResult(System().GetLastError());
  HANDLE token = nullptr;
  if (!System().OpenProcessToken(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
    return ErrorAsHResult(System().GetLastError());

  DWORD result = 0;
  TOKEN_PRIVILEGES tp = {};
  tp.PrivilegeCount = 1;
  tp.Privileges[0].Luid = luid;
  tp.Privileges[0].Attributes = 0;
  TOKEN_PRIVILEGES previous = {};
  DWORD previousSize = sizeof(previous);
  if (!System().AdjustTokenPrivileges(token, FALSE, &tp, sizeof(tp), &previous, &previousSize)) {
    result = ErrorAsHResult(System().GetLastError());
  } else {
    previous.PrivilegeCount = 1;
    previous.Privileges[0].Luid = luid;
    if (enable)
      previous.Privileges[0].Attributes |= SE_PRIVILEGE_ENABLED;
    else
      previous.Privileges[0].Attributes &= ~static_cast<DWORD>(SE_PRIVILEGE_ENABLED);
    if (!System().AdjustTokenPrivileges(token, FALSE, &previous, previousSize, nullptr, nullptr))
      result = ErrorAsHResult(System().GetLastError());
  }
  System().CloseHandle(token);
  return result;
}

}  // namespace vt
