// The program's own plain files (the settings file, the logs, the analysis
// cache): whole-file reading and atomic replacement for small text files,
// and the few file calls whose spelling differs between Windows and POSIX.
// A reader of a replaced file sees either the old or the new content, and a
// crash in the middle of a write leaves the old file in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

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

// Whether this process's readers must step aside while a file is replaced:
// Windows cannot rename over a file that is open.
bool ReplaceWaitsForReaders();

// Whether anything (file or folder) has this name.
bool PlainFileExists(const std::string& path);

// Opens an ordinary file for reading ("rb"), never waiting: a FIFO in its
// place is refused instead of blocking the open. Null on failure.
std::FILE* OpenPlainFileForReading(const std::string& path);

// A new, empty file in the place of path ("wb"), never written through what
// is there now (a link or a FIFO is removed first). Null on failure.
std::FILE* CreatePlainFileForWriting(const std::string& path);

// 64-bit positions, as a cache can pass 2 GiB.
bool SeekPlainFile(std::FILE* f, int64_t offset, int whence);
int64_t TellPlainFile(std::FILE* f);

// Flushes the stream and then the system's buffers to the disk.
bool FlushPlainFile(std::FILE* f);

// Renames from over to, replacing it, through to the disk.
bool MovePlainFileOver(const std::string& from, const std::string& to);

bool DeletePlainFile(const std::string& path);

// The names of the ordinary files in a folder (no folders), unsorted.
std::vector<std::string> PlainFilesIn(const std::string& folder);

// A path spelt with '\' as the system takes it ('/' outside Windows).
std::string NativePath(const std::string& path);

}  // namespace vt
