#include <shlobj.h>

#include "base/winshapes.h"
#include "platform/settings_folder.h"

namespace vt {

const char kPathSeparator = '\\';

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
  std::string folder = JoinPath(base, kSettingsMakerFolder);
  MakeFolder(folder);
  folder = JoinPath(folder, kSettingsProductFolder);
  MakeFolder(folder);
  return folder;
}

}  // namespace vt
