#include "platform/image/media_query.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vt {

bool ParseMediaSwitch(const char* text, char letter, CMediaSwitch* out) {
  if (!text) return false;
  const int wanted = std::toupper(static_cast<unsigned char>(letter));
  const char* p = text;
  while (*p) {
    const char* end = std::strchr(p, ';');
    const size_t n = end ? static_cast<size_t>(end - p) : std::strlen(p);
    std::string item(p, n);
    p += n + (end ? 1 : 0);
    if (item.size() < 3 || item[1] != '=' ||
        std::toupper(static_cast<unsigned char>(item[0])) != wanted)
      continue;
    std::string kind = item.substr(2);
    CMediaSwitch media;
    const size_t plus = kind.find('+');
    if (plus != std::string::npos) {
      media.m_bNoRetrim = kind.substr(plus + 1) == "noretrim";
      kind.resize(plus);
    }
    if (kind == "ssd") {
      media.m_media = VOLUME_MEDIA_INFO{SEEK_PENALTY_NO, TRUE};
    } else if (kind == "hdd") {
      media.m_media = VOLUME_MEDIA_INFO{SEEK_PENALTY_YES, FALSE};
    } else if (kind != "unknown") {
      continue;
    }
    *out = media;
    return true;
  }
  return false;
}

}  // namespace vt
