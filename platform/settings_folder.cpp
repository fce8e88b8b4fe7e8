#include "platform/settings_folder.h"

#include "base/winshapes.h"

#ifdef _WIN32
#include <shlobj.h>
#else
#include <sys/stat.h>

#include <cstdlib>
#endif

namespace vt {

namespace {
constexpr const char* kMakerFolder = "Norvane Utilities";
constexpr const char* kProductFolder = "Vantrel";
}  // namespace

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  const char last = folder.back();
  if (last == '\\' || last == '/') return folder + name;
#ifdef _WIN32
  return folder + "\\" + name;
#else
  return folder + "/" + name;
#endif
}

#ifdef _WIN32

bool MakeFolder(const std::string& path) {
  if (::CreateDirectoryA(path.c_str(), nullptr)) return true;
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string SettingsFolder() {
  char base[MAX_PATH] = {};
  if (FAILED(::SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, base)) ||
      base[0] == '\0')
    return "";
  std::string folder = JoinPath(base, kMakerFolder);
  MakeFolder(folder);
  folder = JoinPath(folder, kProductFolder);
  MakeFolder(folder);
  return folder;
}

#else

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
  std::string folder = JoinPath(base, kMakerFolder);
  MakeFolder(folder);
  folder = JoinPath(folder, kProductFolder);
  MakeFolder(folder);
  return folder;
}

#endif

}  // namespace vt
