#include <filesystem>

#include "platform/system_volumes.h"
#include "platform/win32/win32_volume_ops.h"

namespace vt {

std::unique_ptr<IVolumeOps> SystemVolumeOps() { return std::make_unique<CWin32VolumeOps>(); }

std::string UserCacheBase() {
  std::error_code ec;
  const std::filesystem::path temp = std::filesystem::temp_directory_path(ec);
  return ec ? std::string() : temp.string();
}

void KeepFolderPrivate(const std::string&) {}

}  // namespace vt
