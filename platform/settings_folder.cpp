#include "platform/settings_folder.h"

namespace vt {

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  const char last = folder.back();
  if (last == '\\' || last == '/') return folder + name;
  return folder + kPathSeparator + name;
}

}  // namespace vt
