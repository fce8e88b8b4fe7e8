#include "cli/session.h"

#include <cctype>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "base/hash.h"
#include "base/le.h"
#include "base/text.h"
#include "engine/drive_info.h"
#include "engine/globals.h"
#include "engine/statistics.h"
#include "pages/drive_operations.h"
#include "platform/image/fs_volume.h"
#include "platform/image/host_mounts.h"
#include "platform/image/volume_identity.h"
#include "platform/image/volume_set.h"
#include "platform/system_ops.h"
#include "platform/system_volumes.h"

namespace vt {

namespace {

// The one line that refuses a damaged volume: its first problem and the
// checker that repairs it.
std::string DamagedVolumeMessage(IVolumeOps& ops, char letter, const std::string& problem) {
  char fsName[32] = {};
  const std::string root = std::string(1, letter) + ":\\";
  ops.GetVolumeInformationA(root.c_str(), nullptr, 0, nullptr, nullptr, nullptr, fsName,
                            sizeof(fsName));
  const std::string tool = std::string(fsName) == "NTFS" ? "ntfsfix" : "fsck.fat";
  return "The volume is damaged (" + problem + "); nothing was changed. Check it with " + tool +
         " or chkdsk /f first.";
}

}  // namespace

void CCliSession::NoteLostClusters() {
  if (m_nLostClusters == 0 || !m_engine) return;
  const std::string tool = m_drive.m_bNtfs ? "ntfsfix or chkdsk /f" : "fsck.fat -a or chkdsk /f";
  CFileErrors entry;
  entry.m_strMessage =
      std::to_string(m_nLostClusters) + (m_nLostClusters == 1 ? " cluster is" : " clusters are") +
      " in use by no file (left by an interrupted move); " + tool + " reclaims them.";
  m_engine->m_errors.Add(std::move(entry));
}

void CCliSession::NoteDamage() {
  if (m_strDamage.empty() || !m_engine) return;
  CFileErrors entry;
  entry.m_strMessage = m_strDamage;
  m_engine->m_errors.Add(std::move(entry));
}

bool IsDriveRoot(const std::string& text) {
  if (text.size() < 2 || text.size() > 3) return false;
  if (!std::isalpha(static_cast<unsigned char>(text[0])) || text[1] != ':') return false;
  return text.size() == 2 || text[2] == '\\' || text[2] == '/';
}

bool OutputIsVolume(const std::string& output, const std::string& volume) {
  return !IsDriveRoot(volume) && WritesIntoVolume(output, volume);
}

CCliSession::CCliSession() : m_sink(std::make_unique<CConsoleSink>(StderrIsTerminal())) {}

CCliSession::~CCliSession() {
  m_engine.reset();
  SetCurrentDrive(nullptr);
}

namespace {

// What the volume itself says it is, through the volume operations: the
// serial number, the cluster counts, and on NTFS the volume data and the
// log sequence numbers of $MFT and $Volume. A block device keeps its name,
// size and time when another volume is put behind it; these do not.
std::string VolumeIdentityText(IVolumeOps& ops, const std::string& root) {
  std::string text;
  DWORD serial = 0, maxName = 0, flags = 0;
  char fsName[32] = {};
  if (ops.GetVolumeInformationA(root.c_str(), nullptr, 0, &serial, &maxName, &flags, fsName,
                                sizeof(fsName)))
    text += Format("serial %08lx %s;", static_cast<unsigned long>(serial), fsName);
  DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
  if (ops.GetDiskFreeSpaceA(root.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters,
                            &totalClusters))
    text += Format("clusters %lu/%lu x %lu;", static_cast<unsigned long>(freeClusters),
                   static_cast<unsigned long>(totalClusters),
                   static_cast<unsigned long>(sectorsPerCluster * bytesPerSector));
  char volumeName[MAX_PATH] = {};
  if (!ops.GetVolumeNameForVolumeMountPointA(root.c_str(), volumeName, MAX_PATH)) return text;
  std::string volume = volumeName;
  while (!volume.empty() && (volume.back() == '\\' || volume.back() == '/')) volume.pop_back();
  HANDLE h = ops.CreateFileA(volume.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             OPEN_EXISTING, 0);
  if (h == INVALID_HANDLE_VALUE) return text;
  NTFS_VOLUME_DATA_BUFFER ntfs = {};
  DWORD returned = 0;
  if (ops.DeviceIoControl(h, FSCTL_GET_NTFS_VOLUME_DATA, nullptr, 0, &ntfs, sizeof(ntfs),
                          &returned)) {
    text += Format("ntfs %llx %llx %llx %llx;",
                   static_cast<unsigned long long>(ntfs.VolumeSerialNumber.QuadPart),
                   static_cast<unsigned long long>(ntfs.TotalClusters.QuadPart),
                   static_cast<unsigned long long>(ntfs.FreeClusters.QuadPart),
                   static_cast<unsigned long long>(ntfs.MftValidDataLength.QuadPart));
    std::vector<uint8_t> reply(8208);
    for (uint64_t record : {0ull, 3ull}) {
      NTFS_FILE_RECORD_INPUT_BUFFER in = {};
      in.FileReferenceNumber.QuadPart = static_cast<LONGLONG>(record);
      constexpr size_t kLsnAt = offsetof(NTFS_FILE_RECORD_OUTPUT_BUFFER, FileRecordBuffer) + 8;
      if (ops.DeviceIoControl(h, FSCTL_GET_NTFS_FILE_RECORD, &in, sizeof(in), reply.data(),
                              static_cast<DWORD>(reply.size()), &returned) &&
          returned >= kLsnAt + 8)
        text += Format("lsn %llx;", static_cast<unsigned long long>(
                                        (static_cast<uint64_t>(Le32(&reply[kLsnAt + 4])) << 32 |
                                         Le32(&reply[kLsnAt]))));
    }
  }
  ops.CloseHandle(h);
  return text;
}

}  // namespace

std::string ImageCacheFolder(const std::string& imagePath, const std::string& volumeIdentity,
                             bool create) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path image = fs::absolute(imagePath, ec);
  if (ec) return std::string();
  const uint64_t size = fs::file_size(image, ec);
  const auto stamp = fs::last_write_time(image, ec).time_since_epoch().count();
  // FNV-1a of what identifies the image's contents as of now.
  uint64_t hash = Fnv1a(image.string());
  hash = Fnv1a(std::to_string(size), hash);
  hash = Fnv1a(std::to_string(static_cast<long long>(stamp)), hash);
  hash = Fnv1a(volumeIdentity, hash);
  fs::path base;
  const std::string cacheBase = UserCacheBase();
  if (cacheBase.empty()) return std::string();
  base = cacheBase;
  char name[32];
  std::snprintf(name, sizeof(name), "%016llx", static_cast<unsigned long long>(hash));
  fs::path folder = base / "vantrel" / name;
  if (!create) return folder.string();
  fs::create_directories(folder, ec);
  if (ec) return std::string();
  // The cache tells what files a volume holds: it is the user's alone.
  KeepFolderPrivate((base / "vantrel").string());
  KeepFolderPrivate(folder.string());
  return folder.string();
}

void CCliSession::DropCache() {
  if (m_strVolumeArg.empty() || IsDriveRoot(m_strVolumeArg) || !m_engine) return;
  // The folder as named when the volume was opened, before anything moved.
  const std::string folder = ImageCacheFolder(m_strVolumeArg, m_strIdentity, false);
  if (folder.empty()) return;
  m_engine->SetCacheFolder(folder);
  m_engine->DeleteCache(m_drive);
  std::error_code ec;
  std::filesystem::remove(folder, ec);  // only when empty
}

int CCliSession::Open(const std::string& volume, char letter, std::string* error) {
  m_strVolumeArg = volume;
  letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  if (IsDriveRoot(volume)) {
    m_ops = SystemVolumeOps();
    if (!m_ops) {
      *error = "drive " + volume + " is not a volume of this system; name a volume image instead";
      return EXIT_USAGE;
    }
    m_strRoot =
        std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(volume[0])))) +
        ":\\";
  } else {
    auto set = std::make_unique<CImageVolumeSet>();
    std::string message;
    DWORD rc = ERROR_SUCCESS;
    bool readOnly = false;
    if (m_bForReading) {
      rc = set->MountForReading(letter, volume, &message);
      const std::string where = rc == ERROR_SUCCESS ? FindHostMount(volume) : std::string();
      if (!where.empty()) {
        std::fprintf(stderr,
                     "vantrel-cli: warning: %s is mounted at %s; its figures can be stale\n",
                     volume.c_str(), where.c_str());
      }
    } else {
      rc = set->Mount(letter, volume, false, &message);
      if (rc == ERROR_WRITE_PROTECT || rc == ERROR_ACCESS_DENIED) {
        readOnly = true;
        rc = set->Mount(letter, volume, true, &message);
      }
    }
    if (rc == ERROR_BUSY || rc == ERROR_SHARING_VIOLATION) {
      *error = message;
      return EXIT_USAGE;
    }
    if (rc != ERROR_SUCCESS) {
      *error = "cannot open " + volume + ": " + (message.empty() ? "not a usable volume" : message);
      return EXIT_USAGE;
    }
    m_pImageSet = set.get();
    m_strRoot = std::string(1, letter) + ":\\";
    if ((!m_bForReading && !readOnly) || m_bCheckAlways) {
      // On NTFS a volume opened for reading is checked as the analysis
      // goes through its records, after it (Analyze): the MFT is read once.
      char fsName[32] = {};
      m_bCheckPending = m_bForReading &&
                        set->GetVolumeInformationA(m_strRoot.c_str(), nullptr, 0, nullptr, nullptr,
                                                   nullptr, fsName, sizeof(fsName)) &&
                        std::string(fsName) == "NTFS";
      if (m_bCheckPending) set->CheckAlongReads(letter);
      const int checked = m_bCheckPending ? EXIT_OK : CheckImage(error);
      if (checked != EXIT_OK) {
        m_pImageSet = nullptr;
        return checked;
      }
    }
    m_ops = std::move(set);
  }

  std::string reason;
  DWORD code = 0;
  if (!ReadDriveData(*m_ops, m_strRoot, m_drive, &reason, &code)) {
    *error = "cannot read volume " + m_strRoot + ": " +
             (reason.empty() ? HostSystem().FormatSystemMessage(code) : reason);
    while (!error->empty() &&
           (error->back() == '\n' || error->back() == '\r' || error->back() == ' '))
      error->pop_back();
    return EXIT_USAGE;
  }
  SetCurrentDrive(&m_drive);
  if (!IsDriveRoot(volume)) m_strIdentity = VolumeIdentityText(*m_ops, m_strRoot);

  CEngineServices services;
  services.volume = m_ops.get();
  services.system = &HostSystem();
  services.messages = m_sink.get();
  services.prompt = &m_prompt;
  m_engine = std::make_unique<CDefrag>(services);
  return EXIT_OK;
}

int CCliSession::CheckImage(std::string* error) {
  m_bCheckPending = false;
  const char letter = m_strRoot[0];
  CAllocationCheck check;
  const DWORD rc = m_pImageSet->CheckAllocation(letter, &check);
  if (rc != ERROR_SUCCESS) {
    *error = "cannot check volume " + m_strVolumeArg + ": " + HostSystem().FormatSystemMessage(rc);
    while (!error->empty() && (error->back() == '\n' || error->back() == '\r')) error->pop_back();
    return EXIT_USAGE;
  }
  if (!check.IsConsistent()) {
    *error = DamagedVolumeMessage(*m_pImageSet, letter, check.m_strProblem);
    if (!m_bForReading) return EXIT_USAGE;
    // The analysis goes on: it is how the damage is looked at. The
    // command still ends with the status of a damaged volume.
    std::fprintf(stderr, "vantrel-cli: warning: %s\n", error->c_str());
    m_strDamage = *error;
    error->clear();
  }
  m_nLostClusters = check.m_nLostClusters;
  return EXIT_OK;
}

int CCliSession::AnalyzeFiles(const std::vector<std::string>& paths, std::string* error) {
  // On NTFS the items carry MFT parents, which only the reader's directory
  // map resolves: the whole volume is read (the reader is fast).
  if (m_drive.m_bNtfs) return Analyze(error);
  SetCancel(InterruptRequested());  // a Ctrl-C before the start counts too
  if (!m_engine->OpenVolume(&m_drive)) {
    *error = m_prompt.LastMessage();
    if (error->empty()) *error = "cannot open volume " + m_strRoot;
    return EXIT_USAGE;
  }
  m_engine->GetVolumeClusters();
  if (!m_engine->BuildFreeRunList()) {
    *error = m_prompt.LastMessage();
    return EXIT_FAILED;
  }
  for (std::string path : paths) {
    for (char& c : path)
      if (c == '/') c = '\\';
    if (path.size() >= 2 && path[1] == ':') path = path.substr(2);
    while (!path.empty() && path[0] == '\\') path.erase(0, 1);
    while (!path.empty() && path.back() == '\\') path.pop_back();
    const size_t slash = path.rfind('\\');
    const std::string folder =
        m_strRoot.substr(0, 2) + (slash == std::string::npos ? "" : "\\" + path.substr(0, slash));
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (!name.empty()) m_engine->ScanFolder(folder, name);
  }
  m_sink->Finish();
  return EXIT_OK;
}

void CCliSession::EnableMap() { m_bMap = true; }

void CCliSession::RefreshMap() {
  if (!m_bMap) return;
  // The engine reaches the map only once the analysis is done: the rebuilds
  // an analysis makes on its way are for a window to watch, and the command
  // line has none (on a large volume each costs a pass over the whole map).
  m_engine->SetMapHost(&m_mapHost);
  m_map.InitGrid(*m_engine);
  m_map.ExtractMapRuns(*m_engine);
}

int CCliSession::Analyze(std::string* error) {
  if (m_bUseCache && !IsDriveRoot(m_strVolumeArg)) {
    const std::string folder = ImageCacheFolder(m_strVolumeArg, m_strIdentity, true);
    if (folder.empty()) m_bUseCache = false;
    m_engine->SetCacheFolder(folder);
  }
  CAnalyzeOptions options;
  options.m_bUseCache = m_bUseCache;
  COperationScope scope(*m_engine);
  if (InterruptRequested()) SetCancel(true);  // a Ctrl-C before the start counts too
  const CAnalysis analysis = OpenAndAnalyze(*m_engine, m_drive, options);
  if (m_bCheckPending) {
    const int checked = CheckImage(error);
    if (checked != EXIT_OK) return checked;
  }
  m_bFromCache = analysis.m_bFromCache;
  m_nElapsedMs = analysis.m_nElapsedMs;
  m_sink->Finish();
  if (analysis.m_result == AnalyzeResult::OpenFailed) {
    *error = m_prompt.LastMessage();
    if (error->empty()) *error = "cannot open volume " + m_strRoot;
    return EXIT_USAGE;
  }
  if (analysis.m_result == AnalyzeResult::Failed) {
    *error = m_prompt.LastMessage();
    if (error->empty()) *error = "the analysis of " + m_strRoot + " failed";
    return EXIT_FAILED;
  }
  // A stop after the analysis ran to its end leaves the drive not analysed.
  RefreshMap();
  return EXIT_OK;
}

}  // namespace vt
