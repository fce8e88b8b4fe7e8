// Reading the RTF that reports are stored in: where an appended report's
// body starts, whether stored bytes are RTF, and their text for display.
#pragma once

#include <string>

namespace vt {

// Position of the first control word `word` (for example "cf1"; not
// "cf10", not an escaped backslash followed by the letters), or npos.
size_t FindRtfControlWord(const std::string& rtf, const std::string& word);

// What a further report adds to a stored log: the document from one
// character before its first \cf1 (the first heading) to its end; the
// whole document when \cf1 is absent or at its very start.
std::string RtfBodyForAppend(const std::string& rtf);

// Longer than 5 bytes and starting with "{\rtf" in any case.
bool IsRtfData(const std::string& bytes);

// The text of an RTF document: paragraphs as "\n", tabs as "\t", escaped
// characters decoded; font, colour, style and info tables and "\*" groups
// left out. Tolerates damaged input: never reads past its end.
std::string RtfToText(const std::string& rtf);

}  // namespace vt
