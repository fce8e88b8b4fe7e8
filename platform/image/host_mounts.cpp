#include "platform/image/host_mounts.h"

namespace vt {

std::string InUseMessage(const std::string& mountPoint) {
  return "The volume is in use (mounted at " + mountPoint + "); unmount it first.";
}

}  // namespace vt
