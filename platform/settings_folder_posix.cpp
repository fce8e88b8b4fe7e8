#include <sys/stat.h>

#include <cstdlib>

#include "platform/settings_folder.h"

namespace vt {

const char kPathSeparator = '/';

bool MakeFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) == 0) return true;
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string SettingsFolder() {
  std::string base;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || home[0] == '\0') return "";
    base = JoinPath(home, ".config");
  }
  MakeFolder(base);
  std::string folder = JoinPath(base, kSettingsMakerFolder);
  MakeFolder(folder);
  folder = JoinPath(folder, kSettingsProductFolder);
  MakeFolder(folder);
  return folder;
}

}  // namespace vt
