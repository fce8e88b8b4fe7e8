// UTF-16 names to the program's 8-bit strings: the process's ANSI code page
// on Windows (UTF-8, as the executables' manifest declares), UTF-8 elsewhere.
#pragma once

#include <string>

namespace vt {

std::string Utf16ToSystemAnsi(const std::u16string& text);

}  // namespace vt
