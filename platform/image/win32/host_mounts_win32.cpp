#include "platform/image/host_mounts.h"

namespace vt {

std::string FindHostMount(const std::string& path) {
  (void)path;
  return std::string();
}

}  // namespace vt
