#include "report/rtf_text.h"

#include <cctype>
#include <vector>

#include "base/codepage.h"

namespace vt {

namespace {

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

size_t FindRtfControlWord(const std::string& rtf, const std::string& word) {
  const size_t n = rtf.size();
  for (size_t i = 0; i < n; ++i) {
    if (rtf[i] != '\\') continue;
    if (i + 1 >= n) break;
    if (!IsLetter(rtf[i + 1])) {
      ++i;  // a control symbol such as \\ or \{ : skip the escaped character
      continue;
    }
    // The word with its parameter: letters, then an optional number.
    size_t k = i + 1;
    while (k < n && IsLetter(rtf[k])) ++k;
    if (k < n && rtf[k] == '-') ++k;
    while (k < n && IsDigit(rtf[k])) ++k;
    if (rtf.compare(i + 1, k - (i + 1), word) == 0) return i;
    i = k - 1;
  }
  return std::string::npos;
}

std::string RtfBodyForAppend(const std::string& rtf) {
  const size_t p = FindRtfControlWord(rtf, "cf1");
  if (p == std::string::npos || p == 0) return rtf;
  return rtf.substr(p - 1);
}

bool IsRtfData(const std::string& bytes) {
  static const char kMagic[] = "{\\rtf";
  if (bytes.size() <= 5) return false;
  for (int i = 0; i < 5; ++i) {
    if (std::tolower(static_cast<unsigned char>(bytes[i])) != kMagic[i]) return false;
  }
  return true;
}

std::string RtfToText(const std::string& rtf) {
  std::string out;
  const size_t n = rtf.size();
  // Per open group: whether its text is left out.
  std::vector<bool> skip(1, false);
  bool groupStart = false;     // just after '{': the group's first word decides
  char32_t highSurrogate = 0;  // first half of a character past U+FFFF
  size_t skipChars = 0;        // characters that stand in for the last \u
  size_t i = 0;
  auto emit = [&](const std::string& s) {
    if (skip.back()) return;
    if (skipChars > 0) {
      --skipChars;
      return;
    }
    out += s;
  };
  while (i < n) {
    const char c = rtf[i];
    if (c == '{') {
      skip.push_back(skip.back());
      groupStart = true;
      ++i;
      continue;
    }
    if (c == '}') {
      if (skip.size() > 1) skip.pop_back();
      groupStart = false;
      ++i;
      continue;
    }
    if (c == '\r' || c == '\n') {
      ++i;
      continue;
    }
    if (c != '\\') {
      emit(std::string(1, c));
      groupStart = false;
      ++i;
      continue;
    }
    // A control word or symbol.
    if (i + 1 >= n) break;
    const char d = rtf[i + 1];
    if (!IsLetter(d)) {
      i += 2;
      if (d == '\\' || d == '{' || d == '}') {
        emit(std::string(1, d));
      } else if (d == '\'') {
        const int hi = i < n ? HexValue(rtf[i]) : -1;
        const int lo = i + 1 < n ? HexValue(rtf[i + 1]) : -1;
        if (hi >= 0 && lo >= 0) {
          // A byte of the document's Windows-1252 text.
          std::string ch;
          AppendUtf8(ch, DecodeUtf8(std::string(1, static_cast<char>(hi * 16 + lo)))[0]);
          emit(ch);
          i += 2;
        }
      } else if (d == '*') {
        if (groupStart) skip.back() = true;
      } else if (d == '~') {
        emit(" ");
      } else if (d == '\r' || d == '\n') {
        emit("\n");  // an escaped line end is a paragraph
      }
      groupStart = false;
      continue;
    }
    size_t j = i + 1;
    while (j < n && IsLetter(rtf[j])) ++j;
    const std::string word = rtf.substr(i + 1, j - (i + 1));
    bool negative = false;
    long param = 0;
    bool hasParam = false;
    if (j < n && rtf[j] == '-') {
      negative = true;
      ++j;
    }
    while (j < n && IsDigit(rtf[j])) {
      if (param < 1000000) param = param * 10 + (rtf[j] - '0');
      hasParam = true;
      ++j;
    }
    if (negative) param = -param;
    if (j < n && rtf[j] == ' ') ++j;  // the delimiting blank belongs to the word
    i = j;

    if (groupStart && (word == "fonttbl" || word == "colortbl" || word == "stylesheet" ||
                       word == "info" || word == "pict" || word == "header" || word == "footer")) {
      skip.back() = true;
    }
    groupStart = false;
    if (word == "par" || word == "line") {
      emit("\n");
    } else if (word == "tab") {
      emit("\t");
    } else if (word == "u" && hasParam) {
      if (!skip.back()) {
        const char32_t unit = static_cast<char32_t>(param < 0 ? param + 65536 : param);
        if (unit >= 0xD800 && unit <= 0xDBFF) {
          highSurrogate = unit;  // the rest of the character follows
        } else {
          std::string ch;
          if (unit >= 0xDC00 && unit <= 0xDFFF && highSurrogate != 0)
            AppendUtf8(ch, 0x10000 + ((highSurrogate - 0xD800) << 10) + (unit - 0xDC00));
          else
            AppendUtf8(ch, unit >= 0xD800 && unit <= 0xDFFF ? 0xFFFD : unit);
          out += ch;
          highSurrogate = 0;
        }
        skipChars = 1;
      }
    }
  }
  return out;
}

}  // namespace vt
