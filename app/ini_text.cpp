#include "app/ini_text.h"

#include <cstdint>

#include "base/codepage.h"
#include "base/text.h"

namespace vt {

bool IsProfileBlank(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n' || c == 0x1a;
}

std::string TrimProfileBlanks(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsProfileBlank(text[begin])) ++begin;
  while (end > begin && IsProfileBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// Values are UTF-8; one that is not is taken as Windows-1252, the code page
// older files were written in, so that they keep working.
static std::string AsUtf8(const std::string& value) {
  if (IsValidUtf8(value)) return value;
  std::string out;
  for (char32_t c : DecodeUtf8(value)) AppendUtf8(out, c);
  return out;
}

void CIniText::Parse(const char* data, size_t size) {
  m_lines.clear();
  m_encoding = ENC_ANSI;
  m_bLossy = false;

  std::string text;
  const auto* bytes = reinterpret_cast<const unsigned char*>(data);
  if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
    m_encoding = ENC_UTF8_BOM;
    text.assign(data + 3, size - 3);
  } else if (size >= 2 &&
             ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF))) {
    m_encoding = bytes[0] == 0xFF ? ENC_UTF16LE : ENC_UTF16BE;
    // An odd trailing byte is not a character and is dropped.
    const size_t units = (size - 2) / 2;
    text.reserve(units);
    for (size_t i = 0; i < units; ++i) {
      const unsigned char a = bytes[2 + 2 * i];
      const unsigned char b = bytes[3 + 2 * i];
      const unsigned unit = m_encoding == ENC_UTF16LE ? (a | (b << 8)) : ((a << 8) | b);
      if (unit > 0xFF) {
        text.push_back('?');
        m_bLossy = true;
      } else {
        text.push_back(static_cast<char>(unit));
      }
    }
  } else {
    text.assign(data, size);
  }

  // Lines end at "\r\n", "\n" or "\r"; the profile functions accept all three.
  size_t pos = 0;
  while (pos < text.size()) {
    size_t stop = pos;
    while (stop < text.size() && text[stop] != '\r' && text[stop] != '\n') ++stop;
    CLine line;
    line.m_strText = text.substr(pos, stop - pos);
    if (stop < text.size()) {
      size_t eolLength = 1;
      if (text[stop] == '\r' && stop + 1 < text.size() && text[stop + 1] == '\n') eolLength = 2;
      line.m_strEol = text.substr(stop, eolLength);
      stop += eolLength;
    }
    m_lines.push_back(std::move(line));
    pos = stop;
  }
}

CIniText::CLineParts CIniText::Classify(const std::string& text) {
  CLineParts parts;
  const std::string line = TrimProfileBlanks(text);
  if (line.empty()) return parts;
  if (line[0] == '[') {
    // The name runs to the last ']' of the line; a '[' line without one is
    // an ordinary key line, as the profile functions read it.
    const size_t close = line.rfind(']');
    if (close != std::string::npos && close > 0) {
      parts.kind = LINE_SECTION;
      parts.name = line.substr(1, close - 1);
      return parts;
    }
  }
  parts.kind = LINE_KEY;
  const size_t equals = line.find('=');
  if (equals == std::string::npos) {
    parts.name = line;
    return parts;
  }
  parts.name = TrimProfileBlanks(line.substr(0, equals));
  parts.hasValue = true;
  parts.value = TrimProfileBlanks(line.substr(equals + 1));
  return parts;
}

bool CIniText::FindSection(const std::string& section, size_t* first, size_t* end) const {
  const std::string wanted = TrimProfileBlanks(section);
  // Lines before the first header form a section without a name.
  bool inside = wanted.empty();
  bool found = inside;
  size_t start = 0;
  for (size_t i = 0; i < m_lines.size(); ++i) {
    const CLineParts parts = Classify(m_lines[i].m_strText);
    if (parts.kind != LINE_SECTION) continue;
    if (inside) {
      *first = start;
      *end = i;
      return true;
    }
    if (!found && EqualsNoCase(parts.name, wanted)) {
      inside = found = true;
      start = i + 1;
    }
  }
  if (!inside) return false;
  *first = start;
  *end = m_lines.size();
  return true;
}

bool CIniText::Find(const std::string& section, const std::string& key, std::string* value) const {
  size_t first = 0;
  size_t end = 0;
  if (!FindSection(section, &first, &end)) return false;
  const std::string wanted = TrimProfileBlanks(key);
  for (size_t i = first; i < end; ++i) {
    const CLineParts parts = Classify(m_lines[i].m_strText);
    if (parts.kind != LINE_KEY || !EqualsNoCase(parts.name, wanted)) continue;
    if (!parts.hasValue) return false;
    *value = AsUtf8(parts.value);
    return true;
  }
  return false;
}

std::vector<std::pair<std::string, std::string>> CIniText::Keys(const std::string& section) const {
  std::vector<std::pair<std::string, std::string>> keys;
  size_t first = 0;
  size_t end = 0;
  if (!FindSection(section, &first, &end)) return keys;
  for (size_t i = first; i < end; ++i) {
    const CLineParts parts = Classify(m_lines[i].m_strText);
    if (parts.kind == LINE_KEY) keys.emplace_back(parts.name, AsUtf8(parts.value));
  }
  return keys;
}

std::string CIniText::NewLineText() const {
  // New lines follow the file's own line ends; a new file gets Windows ones.
  for (const auto& line : m_lines)
    if (!line.m_strEol.empty()) return line.m_strEol;
  return "\r\n";
}

bool CIniText::Set(const std::string& section, const std::string& key, const std::string& value) {
  const std::string sectionName = TrimProfileBlanks(section);
  const std::string keyName = TrimProfileBlanks(key);
  // The service keeps a value without its leading blanks.
  size_t skip = 0;
  while (skip < value.size() && IsProfileBlank(value[skip])) ++skip;
  const std::string stored = value.substr(skip);
  const std::string eol = NewLineText();
  if (sectionName.empty() || keyName.empty()) return false;

  size_t first = 0;
  size_t end = 0;
  if (!FindSection(sectionName, &first, &end)) {
    if (!m_lines.empty() && m_lines.back().m_strEol.empty() && !m_lines.back().m_strText.empty())
      m_lines.back().m_strEol = eol;
    m_lines.push_back({"[" + sectionName + "]", eol});
    m_lines.push_back({keyName + "=" + stored, eol});
    return true;
  }

  size_t insertAfter = first - 1;  // the header
  for (size_t i = first; i < end; ++i) {
    const CLineParts parts = Classify(m_lines[i].m_strText);
    if (parts.kind == LINE_BLANK) continue;
    insertAfter = i;
    if (parts.kind == LINE_KEY && EqualsNoCase(parts.name, keyName)) {
      if (parts.hasValue && parts.value == stored) return false;
      // The key keeps the spelling the file gave it.
      m_lines[i].m_strText = parts.name + "=" + stored;
      return true;
    }
  }
  CLine& previous = m_lines[insertAfter];
  if (previous.m_strEol.empty()) previous.m_strEol = eol;
  m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(insertAfter + 1),
                 CLine{keyName + "=" + stored, eol});
  return true;
}

std::string CIniText::Serialize() const {
  std::string text;
  for (const auto& line : m_lines) {
    text += line.m_strText;
    text += line.m_strEol;
  }
  if (m_encoding == ENC_ANSI) return text;
  if (m_encoding == ENC_UTF8_BOM) return "\xEF\xBB\xBF" + text;
  std::string wide;
  wide.reserve(2 + 2 * text.size());
  const bool little = m_encoding == ENC_UTF16LE;
  wide += little ? "\xFF\xFE" : "\xFE\xFF";
  for (char c : text) {
    if (little) {
      wide.push_back(c);
      wide.push_back('\0');
    } else {
      wide.push_back('\0');
      wide.push_back(c);
    }
  }
  return wide;
}

}  // namespace vt
