// UTF-16 names to the program's 8-bit strings: the system's ANSI code page
// on Windows, Windows-1252 elsewhere.
#pragma once

#include <string>

namespace vt {

std::string Utf16ToSystemAnsi(const std::u16string& text);

}  // namespace vt
