#include "platform/image/volume_identity.h"

#include <cstdio>

namespace vt {

std::string CBackingIdentity::Key() const {
  char text[64];
  if (m_eKind == kFile) {
    std::snprintf(text, sizeof(text), "file-%llx-%llx", static_cast<unsigned long long>(m_nDevice),
                  static_cast<unsigned long long>(m_nInode));
  } else if (m_eKind == kDisk) {
    std::snprintf(text, sizeof(text), "disk-%llx", static_cast<unsigned long long>(m_nDevice));
  } else {
    return std::string();
  }
  return text;
}

bool WritesIntoVolume(const std::string& output, const std::string& volume) {
  const CBackingIdentity out = BackingIdentity(output);
  return out.IsKnown() && out == BackingIdentity(volume);
}

}  // namespace vt
