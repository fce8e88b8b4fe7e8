#include "tests/image_ntfs_move/ntfs_move_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace vt {
namespace test {
namespace {

std::vector<std::string> Split(const std::string& line, char sep) {
  std::vector<std::string> parts;
  std::stringstream in(line);
  std::string part;
  while (std::getline(in, part, sep)) parts.push_back(part);
  return parts;
}

#ifndef _WIN32
std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Runs a shell command; its exit status, stdout (and stderr) in `output`.
int Shell(const std::string& command, std::string* output) {
  output->clear();
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return -1;
  char buffer[4096];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) output->append(buffer, n);
  const int status = ::pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

}  // namespace

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
}

bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::string NtfsImageDir(std::string* why) {
  if (const char* given = std::getenv("VT_NTFS_IMAGES")) {
    std::string dir = given;
#ifdef _WIN32
    if (!dir.empty() && dir[0] == '/') dir = "Z:" + dir;
#endif
    return dir;
  }
#ifdef _WIN32
  *why = "set VT_NTFS_IMAGES to images made by tests/tools/make_ntfs_images.sh";
  return std::string();
#else
  static std::string dir;
  static std::string reason;
  static bool done = false;
  if (!done) {
    done = true;
    const char* source = std::getenv("VT_SOURCE_DIR");
    const char* binary = std::getenv("VT_BINARY_DIR");
    const std::string script =
        std::string(source ? source : ".") + "/tests/tools/make_ntfs_images.sh";
    const std::string out = binary ? std::string(binary) + "/ntfs-images"
                                   : "/tmp/vantrel-ntfs-images-" + std::to_string(::getuid());
    std::string sum;
    std::string stamp;
    Shell("sha256sum " + Quote(script) + " | cut -d' ' -f1", &sum);
    std::ifstream in(out + "/stamp");
    std::getline(in, stamp);
    while (!sum.empty() && (sum.back() == '\n' || sum.back() == ' ')) sum.pop_back();
    while (!stamp.empty() && (stamp.back() == '\n' || stamp.back() == ' ')) stamp.pop_back();
    if (sum.empty() || stamp != sum) {
      std::string log;
      const int code =
          Shell("mkdir -p " + Quote(out) + " && bash " + Quote(script) + " " + Quote(out), &log);
      if (code != 0) {
        reason =
            (code == 77 ? "cannot make NTFS images here: " : "make_ntfs_images.sh failed: ") + log;
      } else {
        dir = out;
      }
    } else {
      dir = out;
    }
  }
  *why = reason;
  return dir;
#endif
}

bool LoadNtfsManifest(const std::string& path, CNtfsManifest* m) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    const std::vector<std::string> f = Split(line, '\t');
    if (f.size() >= 5 && f[0] == "file") {
      m->m_sha[f[1]] = f[3];
      m->m_kind[f[1]] = f[4];
    } else if (f.size() >= 3 && f[0] == "runs") {
      auto& runs = m->m_runs[f[1]];
      for (const std::string& run : Split(f[2], ' ')) {
        const std::vector<std::string> v = Split(run, ':');
        if (v.size() == 3) runs.push_back({std::stoll(v[0]), std::stoll(v[1]), std::stoll(v[2])});
      }
    } else if (f.size() >= 3 && f[0] == "attrlist") {
      m->m_attrList[f[1]] = std::stoi(f[2]);
    }
  }
  return true;
}

#ifdef _WIN32
bool NtfsToolsUsable(std::string* why) {
  *why = "the NTFS tools are not run under Wine";
  return false;
}
bool MountedChecksums(const std::string&, std::map<std::string, std::string>*, std::string* why) {
  *why = "no mounts under Wine";
  return false;
}
int NtfsfixCheck(const std::string&, std::string* output) {
  *output = "no ntfsfix under Wine";
  return -1;
}
std::vector<std::vector<int64_t>> NtfsinfoRuns(const std::string&, const std::string&) {
  return {};
}
#else
bool NtfsToolsUsable(std::string* why) {
  std::string out;
  if (::getuid() != 0) {
    *why = "mounting with ntfs-3g needs root";
    return false;
  }
  if (Shell("PATH=$PATH:/usr/sbin:/sbin; command -v ntfs-3g && command -v ntfsfix && "
            "command -v ntfsinfo && command -v sha256sum",
            &out) != 0) {
    *why = "ntfs-3g, ntfsfix, ntfsinfo or sha256sum is missing";
    return false;
  }
  return true;
}

bool MountedChecksums(const std::string& image, std::map<std::string, std::string>* sha,
                      std::string* why) {
  sha->clear();
  std::string dir;
  if (Shell("mktemp -d", &dir) != 0) return false;
  while (!dir.empty() && dir.back() == '\n') dir.pop_back();
  std::string out;
  if (Shell("ntfs-3g -o ro " + Quote(image) + " " + Quote(dir), &out) != 0) {
    *why = "ntfs-3g cannot mount the image: " + out;
    Shell("rmdir " + Quote(dir), &out);
    return false;
  }
  const int code =
      Shell("cd " + Quote(dir) + " && find . -type f -print0 | xargs -0 -r sha256sum", &out);
  std::string ignored;
  Shell("umount " + Quote(dir) + " && rmdir " + Quote(dir), &ignored);
  if (code != 0) {
    *why = "reading the mounted files failed: " + out;
    return false;
  }
  for (const std::string& line : Split(out, '\n')) {
    // "<64 hex digits>  ./path"
    if (line.size() > 68 && line.compare(64, 4, "  ./") == 0) {
      (*sha)[line.substr(68)] = line.substr(0, 64);
    }
  }
  return true;
}

int NtfsfixCheck(const std::string& image, std::string* output) {
  return Shell("ntfsfix -n " + Quote(image), output);
}

std::vector<std::vector<int64_t>> NtfsinfoRuns(const std::string& image, const std::string& path) {
  std::string out;
  std::vector<std::vector<int64_t>> runs;
  if (Shell("ntfsinfo -v -F " + Quote("/" + path) + " " + Quote(image), &out) != 0) return runs;
  static const std::regex kHeader(R"(Dumping attribute (\S+) \(0x[0-9a-f]+\))");
  static const std::regex kRun(R"(\s+(0x[0-9a-f]+)\s+(0x[0-9a-f]+|<HOLE>)\s+(0x[0-9a-f]+)\s*)");
  bool inData = false;
  bool inRuns = false;
  for (const std::string& line : Split(out, '\n')) {
    std::smatch m;
    if (std::regex_search(line, m, kHeader)) {
      inData = m[1] == "$DATA";
      inRuns = false;
      continue;
    }
    if (inData && line.find("Attribute name:") != std::string::npos) inData = false;
    if (inData && line.find("Runlist:") != std::string::npos) {
      inRuns = true;
      continue;
    }
    if (!inRuns || line.find("<RL_NOT_MAPPED>") != std::string::npos) continue;
    if (!std::regex_match(line, m, kRun)) {
      inRuns = false;
      continue;
    }
    const int64_t lcn = m[2] == "<HOLE>" ? -1 : std::stoll(m[2].str(), nullptr, 16);
    runs.push_back({std::stoll(m[1].str(), nullptr, 16), lcn, std::stoll(m[3].str(), nullptr, 16)});
  }
  std::sort(runs.begin(), runs.end());
  return runs;
}
#endif

CNtfsMovable::CNtfsMovable(std::vector<uint8_t> bytes, bool readOnly) {
  auto memory = std::make_unique<CMemoryBlockDevice>(std::move(bytes), false);
  m_pMemory = memory.get();
  auto device = std::make_unique<CFaultBlockDevice>(std::move(memory), m_pPlan);
  m_dwMount = m_set.MountDevice('V', std::move(device), "memory", readOnly);
}

HANDLE CNtfsMovable::OpenVolume() {
  return m_set.CreateFileA("\\\\.\\V:", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           OPEN_EXISTING, 0);
}

HANDLE CNtfsMovable::OpenFile(const std::string& path) {
  std::string windows = "V:\\" + path;
  for (char& c : windows) {
    if (c == '/') c = '\\';
  }
  return m_set.CreateFileA(windows.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ, OPEN_EXISTING,
                           0);
}

std::vector<std::vector<int64_t>> FileExtents(IVolumeOps& ops, HANDLE file) {
  std::vector<std::vector<int64_t>> out;
  STARTING_VCN_INPUT_BUFFER in = {};
  std::vector<uint8_t> reply(16 + 16 * 4096);
  DWORD returned = 0;
  if (!ops.DeviceIoControl(file, FSCTL_GET_RETRIEVAL_POINTERS, &in, sizeof(in), reply.data(),
                           static_cast<DWORD>(reply.size()), &returned)) {
    return out;
  }
  uint32_t count = 0;
  std::memcpy(&count, reply.data(), 4);
  int64_t vcn = 0;
  std::memcpy(&vcn, reply.data() + 8, 8);
  for (uint32_t i = 0; i < count && i < 4096; ++i) {
    int64_t next = 0;
    int64_t lcn = 0;
    std::memcpy(&next, reply.data() + 16 + i * 16, 8);
    std::memcpy(&lcn, reply.data() + 24 + i * 16, 8);
    out.push_back({vcn, lcn, next - vcn});
    vcn = next;
  }
  return out;
}

DWORD MoveClusters(IVolumeOps& ops, HANDLE volume, HANDLE file, uint64_t vcn, uint64_t lcn,
                   uint32_t count) {
  MOVE_FILE_DATA move = {};
  move.FileHandle = file;
  move.StartingVcn.QuadPart = static_cast<LONGLONG>(vcn);
  move.StartingLcn.QuadPart = static_cast<LONGLONG>(lcn);
  move.ClusterCount = count;
  DWORD returned = 0;
  if (ops.DeviceIoControl(volume, FSCTL_MOVE_FILE, &move, sizeof(move), nullptr, 0, &returned)) {
    return ERROR_SUCCESS;
  }
  return ops.GetLastError();
}

namespace {
std::vector<uint8_t> VolumeBitmap(IVolumeOps& ops, HANDLE volume) {
  std::vector<uint8_t> bitmap(16 + (1 << 20));
  STARTING_LCN_INPUT_BUFFER from = {};
  DWORD returned = 0;
  if (!ops.DeviceIoControl(volume, FSCTL_GET_VOLUME_BITMAP, &from, sizeof(from), bitmap.data(),
                           static_cast<DWORD>(bitmap.size()), &returned)) {
    bitmap.clear();
  }
  return bitmap;
}
}  // namespace

int64_t FindFreeRun(IVolumeOps& ops, HANDLE volume, uint64_t count, uint64_t from) {
  const std::vector<uint8_t> bitmap = VolumeBitmap(ops, volume);
  if (bitmap.empty()) return -1;
  int64_t bits = 0;
  std::memcpy(&bits, bitmap.data() + 8, 8);
  uint64_t run = 0;
  for (auto lcn = static_cast<int64_t>(from); lcn < bits; ++lcn) {
    const bool used = (bitmap[16 + static_cast<size_t>(lcn / 8)] >> (lcn % 8)) & 1;
    run = used ? 0 : run + 1;
    if (run == count) return lcn + 1 - static_cast<int64_t>(count);
  }
  return -1;
}

bool ClusterUsed(IVolumeOps& ops, HANDLE volume, uint64_t lcn) {
  const std::vector<uint8_t> bitmap = VolumeBitmap(ops, volume);
  return bitmap.size() > 16 + lcn / 8 && ((bitmap[16 + lcn / 8] >> (lcn % 8)) & 1);
}

}  // namespace test
}  // namespace vt
