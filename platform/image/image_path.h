// Windows path forms that can name something on a mounted volume:
//   V:\dir\file  V:/dir  V:dir (taken from the root)    an item by letter
//   \\?\V:\dir  \\.\V:\dir                               the same
//   \\.\V:  \\?\V:                                       the volume itself
//   \\?\Volume{guid}                                     the volume itself
//   \\?\Volume{guid}\dir                                 an item by volume name
// Anything else is a path of the host.
#pragma once

#include <string>
#include <vector>

#include "base/winshapes.h"

namespace vt {

struct CImagePath {
  enum EKind { kHost, kVolume, kItem };
  EKind m_eKind = kHost;
  char m_cLetter = 0;         // upper case; 0 when named by volume name
  std::string m_strVolumeId;  // "Volume{...}" when named by volume name
  // Components after "." and ".." are resolved and trailing dots and
  // spaces dropped, as Windows normalises paths; empty for the root.
  std::vector<std::string> m_components;
  bool m_bTrailingSeparator = false;
};

// Parses a path. Returns ERROR_SUCCESS, or ERROR_INVALID_NAME for an item
// path with characters Windows refuses in names (wildcards among them).
DWORD ParseImagePath(const std::string& path, CImagePath* out);

// Windows wildcard match of a name against a pattern ('*' and '?'), case
// insensitive; "*.*" matches every name.
bool MatchWildcard(const std::string& pattern, const std::string& name);
bool HasWildcard(const std::string& text);

}  // namespace vt
