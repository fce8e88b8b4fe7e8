// UTF-16 names to the program's 8-bit strings: the process's ANSI code page
// on Windows (UTF-8, as the executables' manifest declares), UTF-8 elsewhere.
#pragma once

#include <cstddef>
#include <string>

namespace vt {

std::string Utf16ToSystemAnsi(const std::u16string& text);
// The same for `count` units into `out`, reusing its storage.
void Utf16ToSystemAnsi(const char16_t* text, size_t count, std::string* out);

}  // namespace vt
