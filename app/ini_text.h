// The text of an initialisation file, kept line by line and read and edited
// by the rules of the Windows profile functions (GetPrivateProfileStringA,
// WritePrivateProfileStringA), so that a file passes between them and us
// unchanged. Lines we do not edit are kept byte for byte.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vt {

class CIniText {
 public:
  enum Encoding { ENC_ANSI, ENC_UTF8_BOM, ENC_UTF16LE, ENC_UTF16BE };

  // Any bytes are accepted. A UTF-8 byte-order mark is kept; UTF-16 text
  // (with its mark) is carried as 8-bit characters and written back as UTF-16.
  void Parse(const char* data, size_t size);
  void Parse(const std::string& bytes) { Parse(bytes.data(), bytes.size()); }

  // The key's value with the blanks around it removed (quotes are left for
  // the caller). Only the first section of that name is searched and the
  // first line of the key wins; a key line without '=' counts as absent.
  // Names compare without regard to case.
  bool Find(const std::string& section, const std::string& key, std::string* value) const;

  // Replaces the key's value, or adds the key at the end of its section, or
  // the section at the end of the file. False when the value was already
  // stored (nothing to write). Names and value must be single-line text.
  bool Set(const std::string& section, const std::string& key, const std::string& value);

  // Every key line of the first section of that name, in file order.
  std::vector<std::pair<std::string, std::string>> Keys(const std::string& section) const;

  std::string Serialize() const;
  Encoding GetEncoding() const { return m_encoding; }
  // True when UTF-16 text held characters beyond 8 bits; writing it back
  // would lose them.
  bool IsLossy() const { return m_bLossy; }
  size_t LineCount() const { return m_lines.size(); }

 private:
  struct CLine {
    std::string m_strText;
    std::string m_strEol;  // "\r\n", "\n", "\r" or empty on the last line
  };
  enum LineKind { LINE_BLANK, LINE_SECTION, LINE_KEY };
  struct CLineParts {
    LineKind kind = LINE_BLANK;
    std::string name;
    bool hasValue = false;
    std::string value;
  };
  static CLineParts Classify(const std::string& text);
  // Index range [*first, *end) of the first section named section, the
  // header at *first - 1; false when there is none.
  bool FindSection(const std::string& section, size_t* first, size_t* end) const;
  std::string NewLineText() const;

  std::vector<CLine> m_lines;
  Encoding m_encoding = ENC_ANSI;
  bool m_bLossy = false;
};

// Blanks as the profile functions trim them (including ^Z, a DOS end of file).
bool IsProfileBlank(char c);
std::string TrimProfileBlanks(const std::string& text);

}  // namespace vt
