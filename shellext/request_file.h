// The request file the extension hands to the main program, and the other
// texts of the context-menu commands.
//
// The file is UTF-8 text (whatever Explorer's code page) with CR LF line ends: the
// line "Vantrel", then one full path per selected item in the shell's order,
// each followed by CR LF; there is no empty last line.
#pragma once

#include <cstdint>
#include <string>

namespace vt {

// The first line; the reader skips it.
constexpr const char* kRequestFileHeader = "Vantrel";
// Prefix of the unique temporary file name (the system keeps three letters).
constexpr const char* kRequestFilePrefix = "Vantrel";
// Longest path the shell hands over that is passed on, in UTF-16 characters.
constexpr unsigned kRequestPathMax = 519;

// Offsets of the two commands within the extension's command range.
constexpr uintptr_t kCommandAnalyze = 0;
constexpr uintptr_t kCommandDefrag = 1;
constexpr unsigned kCommandCount = 2;

// Whole contents of a request file for a path list ("path\r\n" per item).
std::string RequestFileText(const std::string& pathList);

// Appends one selected path to a path list.
void AppendRequestPath(std::string* pathList, const char* path, size_t length);

// "/analyze " or "/defrag " (with the trailing blank) for a command offset;
// null for any other offset.
const char* CommandSwitch(uintptr_t offset);

// The status-bar help of a command offset; null for any other offset.
const char* CommandHelpText(uintptr_t offset);

// The main program beside the library: the library's full path cut after its
// last backslash, then "Vantrel" with no extension (the shell's program
// search finds Vantrel.exe). False when the path has no backslash.
bool ProgramBeside(const std::string& libraryPath, std::string* program);

}  // namespace vt
