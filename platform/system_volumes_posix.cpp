#include <cstdlib>
#include <filesystem>

#include "platform/system_volumes.h"

namespace vt {

std::unique_ptr<IVolumeOps> SystemVolumeOps() { return nullptr; }

std::string UserCacheBase() {
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  const char* home = std::getenv("HOME");
  if (xdg && *xdg) return xdg;
  if (home && *home) return (std::filesystem::path(home) / ".cache").string();
  return std::string();
}

void KeepFolderPrivate(const std::string& folder) {
  std::error_code ec;
  std::filesystem::permissions(folder, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::replace, ec);
}

}  // namespace vt
