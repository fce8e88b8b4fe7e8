// Text for the terminal: the program's 8-bit names shown right on a UTF-8
// terminal (on Windows the console takes them as they are).
#pragma once

#include <string>

namespace vt {

std::string AnsiForTerminal(const std::string& text);

// Prints text to stdout as the terminal expects it.
void PrintText(const std::string& text);

}  // namespace vt
