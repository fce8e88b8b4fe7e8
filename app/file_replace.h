// Whole-file reading and atomic replacement for small text files: a reader
// sees either the old or the new content, and a crash in the middle of a
// write leaves the old file in place.
#pragma once

#include <cstddef>
#include <string>

namespace vt {

enum FileReadResult {
  FILE_READ_OK,
  FILE_READ_MISSING,     // no such file
  FILE_READ_UNREADABLE,  // a folder, too large, or an I/O error
};

// Reads the whole file, refusing one larger than maxBytes.
FileReadResult ReadWholeFile(const std::string& path, size_t maxBytes, std::string* bytes,
                             std::string* error);

// Writes bytes to a new file beside path, flushes it to the disk and renames
// it over path. On failure path is untouched and error says why.
bool ReplaceFileAtomically(const std::string& path, const std::string& bytes, std::string* error);

}  // namespace vt
