// Character sets of names: FAT short names are stored in the OEM code page
// 437, FAT long names and NTFS names in UTF-16. The program's 8-bit strings
// are UTF-8; bytes that are not valid UTF-8 are read as Windows-1252, so older
// text still shows.
#pragma once

#include <cstdint>
#include <string>

namespace vt {

// The Unicode character of an OEM code page 437 byte.
char16_t Cp437ToUnicode(uint8_t c);

// UTF-16 text to UTF-8. An unpaired surrogate becomes U+FFFD, so every name
// still has a form it can be listed and looked up by.
std::string Utf16ToUtf8(const std::u16string& text);
// The same for `count` units, appended to `out` (whose storage is reused).
void AppendUtf16AsUtf8(const char16_t* text, size_t count, std::string& out);

// The Unicode character of a Windows-1252 byte; the five unassigned bytes
// stay as their C1 control characters.
char32_t Cp1252ToUnicode(uint8_t c);

// UTF-8 text as Unicode characters; a byte that does not start a valid
// sequence is taken as a Windows-1252 character.
std::u32string DecodeUtf8(const std::string& text);
void AppendUtf8(std::string& out, char32_t c);
bool IsValidUtf8(const std::string& text);

// Simple upper and lower case of one character, as file systems fold names
// (Latin, Greek, Cyrillic, Armenian and full-width letters; others stay).
char32_t UnicodeUpper(char32_t c);
char32_t UnicodeLower(char32_t c);

// A UTF-8 name in upper case, for look-ups that ignore case.
std::string FoldUtf8(const std::string& text);
bool Utf8EqualNoCase(const std::string& a, const std::string& b);

}  // namespace vt
