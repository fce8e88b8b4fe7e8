#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/image/host_mounts.h"

namespace vt {

namespace {

std::string RealPath(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (!real) return path;
  std::string out(real);
  std::free(real);
  return out;
}

// mountinfo writes blanks, tabs, new lines and backslashes as \ooo.
std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '3') {
      out += static_cast<char>((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 +
                               (text[i + 3] - '0'));
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

struct CHostMount {
  std::string m_strDevice;  // "major:minor" of the mounted file system
  std::string m_strPoint;
  std::string m_strSource;  // what was mounted, as mount(8) shows it
};

std::vector<CHostMount> ReadMounts() {
  std::vector<CHostMount> mounts;
  std::ifstream in("/proc/self/mountinfo");
  std::string line;
  while (std::getline(in, line)) {
    // id parent major:minor root point options [optional...] - type source options
    std::istringstream fields(line);
    std::string id, parent, device, root, point, word;
    if (!(fields >> id >> parent >> device >> root >> point)) continue;
    while (fields >> word && word != "-") {
    }
    std::string type, source;
    if (!(fields >> type >> source)) continue;
    mounts.push_back(CHostMount{device, Unescape(point), Unescape(source)});
  }
  return mounts;
}

std::string DeviceNumber(dev_t dev) {
  return std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
}

// A block device's mount: its own number (kernel file systems), or its node
// named as the source (FUSE file systems such as ntfs-3g).
std::string MountOfDevice(const std::vector<CHostMount>& mounts, dev_t dev,
                          const std::string& node) {
  const std::string number = DeviceNumber(dev);
  for (const CHostMount& m : mounts) {
    if (m.m_strDevice == number) return m.m_strPoint;
    struct stat st;
    if (!m.m_strSource.empty() && m.m_strSource[0] == '/' &&
        ::stat(m.m_strSource.c_str(), &st) == 0 && S_ISBLK(st.st_mode) && st.st_rdev == dev)
      return m.m_strPoint;
    if (m.m_strSource == node) return m.m_strPoint;
  }
  // A device mapper or RAID layer on top of it holds it as well.
  const std::string holders = "/sys/dev/block/" + number + "/holders";
  if (DIR* dir = ::opendir(holders.c_str())) {
    std::string held;
    while (dirent* e = ::readdir(dir)) {
      if (e->d_name[0] != '.') {
        held = std::string("/dev/") + e->d_name;
        break;
      }
    }
    ::closedir(dir);
    if (!held.empty()) return held;
  }
  return std::string();
}

}  // namespace

std::string FindHostMount(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return std::string();
  const std::vector<CHostMount> mounts = ReadMounts();
  const std::string real = RealPath(path);
  if (S_ISBLK(st.st_mode)) return MountOfDevice(mounts, st.st_rdev, real);
  if (!S_ISREG(st.st_mode)) return std::string();
  // An image mounted directly (FUSE file systems take a file as well),
  // compared as a file: a hard link to it has another name.
  for (const CHostMount& m : mounts) {
    if (m.m_strSource == real) return m.m_strPoint;
    struct stat source;
    if (!m.m_strSource.empty() && m.m_strSource[0] == '/' &&
        ::stat(m.m_strSource.c_str(), &source) == 0 && S_ISREG(source.st_mode) &&
        source.st_dev == st.st_dev && source.st_ino == st.st_ino)
      return m.m_strPoint;
  }
  // Every loop device whose backing file is this image.
  DIR* dir = ::opendir("/sys/block");
  if (!dir) return std::string();
  std::string found;
  while (dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name.compare(0, 4, "loop") != 0) continue;
    std::ifstream backing("/sys/block/" + name + "/loop/backing_file");
    std::string file;
    if (!std::getline(backing, file)) continue;
    struct stat fileStat;
    // The kernel names the file as it was when attached; compare the files
    // themselves where it still resolves.
    const bool same = ::stat(file.c_str(), &fileStat) == 0
                          ? fileStat.st_dev == st.st_dev && fileStat.st_ino == st.st_ino
                          : file == real;
    if (!same) continue;
    struct stat loopStat;
    const std::string node = "/dev/" + name;
    if (::stat(node.c_str(), &loopStat) != 0 || !S_ISBLK(loopStat.st_mode)) continue;
    found = MountOfDevice(mounts, loopStat.st_rdev, node);
    if (!found.empty()) break;
  }
  ::closedir(dir);
  return found;
}

}  // namespace vt
