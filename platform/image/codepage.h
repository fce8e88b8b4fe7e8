// Character sets of FAT names: short names are stored in the OEM code page
// 437, long names in UTF-16; the ANSI interface answers in Windows-1252.
#pragma once

#include <cstdint>
#include <string>

namespace vt {

// The Unicode character of an OEM code page 437 byte.
char16_t Cp437ToUnicode(uint8_t c);

// The Windows-1252 byte of a Unicode character, or '?' when it has none.
char UnicodeToAnsi(uint32_t c);

// UTF-16 text to Windows-1252; unpaired surrogates and unmappable
// characters become '?' (one per character).
std::string Utf16ToAnsi(const std::u16string& text);

// Case folding of Windows-1252 letters, as the file systems compare names.
char Cp1252Upper(char c);
char Cp1252Lower(char c);
bool Cp1252EqualNoCase(const std::string& a, const std::string& b);

}  // namespace vt
