#include "cli/json_writer.h"

#include <cmath>
#include <cstdio>

#include "base/codepage.h"

namespace vt {

namespace {
// Length of a valid UTF-8 sequence at p, or 0.
size_t Utf8Length(const std::string& s, size_t p) {
  const unsigned char c = static_cast<unsigned char>(s[p]);
  size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 0;
  if (n == 0 || p + n > s.size()) return 0;
  for (size_t i = 1; i < n; ++i)
    if ((static_cast<unsigned char>(s[p + i]) & 0xC0) != 0x80) return 0;
  return n;
}
}  // namespace

std::string JsonEscape(const std::string& text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"') {
      out += "\\\"";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof(buf), "\\u%04x", c);
      out += buf;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (size_t n = Utf8Length(text, i)) {
      out.append(text, i, n);
      i += n - 1;
    } else {
      // Windows-1252, with its unassigned bytes shown as replacement characters.
      const char32_t u = Cp1252ToUnicode(c);
      AppendUtf8(out, c < 0xA0 && u == c ? 0xFFFD : u);
    }
  }
  out += '"';
  return out;
}

void CJsonWriter::BeforeValue() {
  if (m_afterKey) {
    m_afterKey = false;
    return;
  }
  if (!m_first.empty()) {
    if (!m_first.back()) m_out += ',';
    m_first.back() = false;
  }
}

void CJsonWriter::BeginObject() {
  BeforeValue();
  m_out += '{';
  m_first.push_back(true);
}

void CJsonWriter::EndObject() {
  m_out += '}';
  m_first.pop_back();
}

void CJsonWriter::BeginArray() {
  BeforeValue();
  m_out += '[';
  m_first.push_back(true);
}

void CJsonWriter::EndArray() {
  m_out += ']';
  m_first.pop_back();
}

void CJsonWriter::Key(const std::string& key) {
  BeforeValue();
  m_out += JsonEscape(key);
  m_out += ':';
  m_afterKey = true;
}

void CJsonWriter::String(const std::string& value) {
  BeforeValue();
  m_out += JsonEscape(value);
}

void CJsonWriter::Number(uint64_t value) {
  BeforeValue();
  m_out += std::to_string(value);
}

void CJsonWriter::Number(int64_t value) {
  BeforeValue();
  m_out += std::to_string(value);
}

void CJsonWriter::Number(double value) {
  BeforeValue();
  if (!std::isfinite(value)) {
    m_out += "null";
    return;
  }
  char buf[64];
  std::snprintf(buf, sizeof(buf), "%.6g", value);
  m_out += buf;
}

void CJsonWriter::Bool(bool value) {
  BeforeValue();
  m_out += value ? "true" : "false";
}

void CJsonWriter::Null() {
  BeforeValue();
  m_out += "null";
}

}  // namespace vt
