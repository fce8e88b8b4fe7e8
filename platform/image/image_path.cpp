#include "platform/image/image_path.h"

#include <cctype>

#include "base/codepage.h"

namespace vt {

namespace {

bool IsSep(char c) { return c == '\\' || c == '/'; }

bool IsLetterColon(const std::string& s, size_t pos) {
  return s.size() >= pos + 2 && std::isalpha(static_cast<unsigned char>(s[pos])) &&
         s[pos + 1] == ':';
}

bool StartsWithNoCase(const std::string& s, size_t pos, const char* prefix) {
  for (size_t i = 0; prefix[i]; ++i) {
    if (pos + i >= s.size() || std::toupper(static_cast<unsigned char>(s[pos + i])) !=
                                   std::toupper(static_cast<unsigned char>(prefix[i])))
      return false;
  }
  return true;
}

bool IsBadNameChar(unsigned char c) {
  return c < 0x20 || c == '<' || c == '>' || c == ':' || c == '"' || c == '|' || c == '?' ||
         c == '*';
}

DWORD SplitComponents(const std::string& rest, CImagePath* out) {
  out->m_bTrailingSeparator = !rest.empty() && IsSep(rest.back());
  std::string part;
  auto flush = [&]() -> DWORD {
    std::string name = part;
    part.clear();
    if (name == ".") return ERROR_SUCCESS;
    if (name == "..") {
      if (!out->m_components.empty()) out->m_components.pop_back();
      return ERROR_SUCCESS;
    }
    while (!name.empty() && (name.back() == ' ' || name.back() == '.')) name.pop_back();
    if (name.empty()) return ERROR_SUCCESS;
    for (char c : name) {
      if (IsBadNameChar(static_cast<unsigned char>(c))) return ERROR_INVALID_NAME;
    }
    out->m_components.push_back(name);
    return ERROR_SUCCESS;
  };
  for (char c : rest) {
    if (IsSep(c)) {
      DWORD err = flush();
      if (err != ERROR_SUCCESS) return err;
    } else {
      part.push_back(c);
    }
  }
  return flush();
}

}  // namespace

DWORD ParseImagePath(const std::string& path, CImagePath* out) {
  *out = CImagePath();
  size_t pos = 0;
  bool device = false;
  if (path.size() >= 4 && IsSep(path[0]) && IsSep(path[1]) && (path[2] == '?' || path[2] == '.') &&
      IsSep(path[3])) {
    device = true;
    pos = 4;
  }
  if (IsLetterColon(path, pos)) {
    out->m_cLetter = static_cast<char>(std::toupper(static_cast<unsigned char>(path[pos])));
    pos += 2;
    if (device && pos == path.size()) {
      out->m_eKind = CImagePath::kVolume;
      return ERROR_SUCCESS;
    }
    out->m_eKind = CImagePath::kItem;
    return SplitComponents(path.substr(pos), out);
  }
  if (device && StartsWithNoCase(path, pos, "Volume{")) {
    size_t close = path.find('}', pos);
    if (close == std::string::npos) return ERROR_SUCCESS;  // not ours: a host name
    out->m_strVolumeId = path.substr(pos, close + 1 - pos);
    pos = close + 1;
    if (pos == path.size()) {
      out->m_eKind = CImagePath::kVolume;
      return ERROR_SUCCESS;
    }
    if (!IsSep(path[pos])) {
      out->m_strVolumeId.clear();
      return ERROR_SUCCESS;
    }
    out->m_eKind = CImagePath::kItem;
    return SplitComponents(path.substr(pos), out);
  }
  return ERROR_SUCCESS;
}

bool HasWildcard(const std::string& text) { return text.find_first_of("*?") != std::string::npos; }

bool MatchWildcard(const std::string& patternText, const std::string& nameText) {
  if (patternText == "*" || patternText == "*.*") return true;
  // '?' stands for one character, not one byte of its UTF-8 form.
  const std::u32string pattern = DecodeUtf8(patternText);
  const std::u32string name = DecodeUtf8(nameText);
  // Iterative match with one backtrack point for the last '*'.
  size_t p = 0, n = 0, star = std::u32string::npos, mark = 0;
  while (n < name.size()) {
    if (p < pattern.size() &&
        (pattern[p] == '?' || UnicodeUpper(pattern[p]) == UnicodeUpper(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = n;
    } else if (star != std::u32string::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace vt
