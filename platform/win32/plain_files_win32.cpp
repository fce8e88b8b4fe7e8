#include <io.h>

#include <algorithm>
#include <atomic>

#include "base/text.h"
#include "base/winshapes.h"
#include "platform/plain_files.h"
#include "platform/settings_folder.h"
#include "platform/system_ops.h"

namespace vt {

namespace {

// Distinguishes the temporary files of threads writing at the same time.
std::atomic<unsigned> g_nTempCounter{0};

class CHandle {
 public:
  explicit CHandle(HANDLE h) : m_h(h) {}
  ~CHandle() { Close(); }
  CHandle(const CHandle&) = delete;
  CHandle& operator=(const CHandle&) = delete;
  bool Valid() const { return m_h != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return m_h; }
  bool Close() {
    if (!Valid()) return true;
    const BOOL ok = ::CloseHandle(m_h);
    m_h = INVALID_HANDLE_VALUE;
    return ok != FALSE;
  }

 private:
  HANDLE m_h;
};

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n';
}

std::string SystemError(DWORD code) {
  std::string text = HostSystem().FormatSystemMessage(code);
  while (!text.empty() && IsBlank(text.back())) text.pop_back();
  size_t lead = 0;
  while (lead < text.size() && IsBlank(text[lead])) ++lead;
  text.erase(0, lead);
  if (text.empty()) text = Format("system error %lu", static_cast<unsigned long>(code));
  return text;
}

}  // namespace

FileReadResult ReadWholeFile(const std::string& path, size_t maxBytes, std::string* bytes,
                             std::string* error) {
  bytes->clear();
  // Full sharing, so that a reader never stops a writer's rename.
  CHandle file(::CreateFileA(path.c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) {
    const DWORD code = ::GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return FILE_READ_MISSING;
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
      *error = "it is a folder";
    else
      *error = SystemError(code);
    return FILE_READ_UNREADABLE;
  }
  if (::GetFileType(file.Get()) != FILE_TYPE_DISK) {
    *error = "not an ordinary file";
    return FILE_READ_UNREADABLE;
  }
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(file.Get(), &size)) {
    *error = SystemError(::GetLastError());
    return FILE_READ_UNREADABLE;
  }
  if (size.QuadPart < 0 || static_cast<ULONGLONG>(size.QuadPart) > maxBytes) {
    *error = "the file is too large";
    return FILE_READ_UNREADABLE;
  }
  bytes->resize(static_cast<size_t>(size.QuadPart));
  size_t done = 0;
  while (done < bytes->size()) {
    DWORD got = 0;
    if (!::ReadFile(file.Get(), &(*bytes)[done], static_cast<DWORD>(bytes->size() - done), &got,
                    nullptr)) {
      *error = SystemError(::GetLastError());
      bytes->clear();
      return FILE_READ_UNREADABLE;
    }
    if (got == 0) break;  // shrank since the size was taken
    done += got;
  }
  bytes->resize(done);
  return FILE_READ_OK;
}

bool ReplaceFileAtomically(const std::string& path, const std::string& bytes, std::string* error) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    *error = "it is a folder";
    return false;
  }
  const std::string temp =
      Format("%s.~%lu-%u.tmp", path.c_str(), ::GetCurrentProcessId(), g_nTempCounter.fetch_add(1));
  {
    CHandle file(::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
      *error = SystemError(::GetLastError());
      return false;
    }
    size_t done = 0;
    bool ok = true;
    while (ok && done < bytes.size()) {
      DWORD wrote = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
      ok = ::WriteFile(file.Get(), bytes.data() + done, chunk, &wrote, nullptr) && wrote == chunk;
      done += wrote;
    }
    ok = ok && ::FlushFileBuffers(file.Get());
    if (!ok) *error = SystemError(::GetLastError());
    if (!file.Close() && ok) {
      ok = false;
      *error = SystemError(::GetLastError());
    }
    if (!ok) {
      ::DeleteFileA(temp.c_str());
      return false;
    }
  }
  // A reader that opened the file without delete sharing (the profile
  // functions do) blocks the rename for a moment; wait it out.
  for (int attempt = 0;; ++attempt) {
    if (::MoveFileExA(temp.c_str(), path.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return true;
    const DWORD code = ::GetLastError();
    if (attempt >= 200 || (code != ERROR_ACCESS_DENIED && code != ERROR_SHARING_VIOLATION)) {
      *error = SystemError(code);
      ::DeleteFileA(temp.c_str());
      return false;
    }
    ::Sleep(10);
  }
}

bool ReplaceWaitsForReaders() { return true; }

bool PlainFileExists(const std::string& path) {
  return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::FILE* OpenPlainFileForReading(const std::string& path) {
  return std::fopen(path.c_str(), "rb");
}

std::FILE* CreatePlainFileForWriting(const std::string& path) {
  std::remove(path.c_str());
  return std::fopen(path.c_str(), "wb");
}

bool SeekPlainFile(std::FILE* f, int64_t offset, int whence) {
  return ::_fseeki64(f, offset, whence) == 0;
}

int64_t TellPlainFile(std::FILE* f) { return ::_ftelli64(f); }

bool FlushPlainFile(std::FILE* f) {
  if (std::fflush(f) != 0) return false;
  return ::FlushFileBuffers(reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(f)))) != 0;
}

bool MovePlainFileOver(const std::string& from, const std::string& to) {
  return ::MoveFileExA(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool DeletePlainFile(const std::string& path) { return ::DeleteFileA(path.c_str()) != 0; }

std::vector<std::string> PlainFilesIn(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  // Every name: a pattern such as "*.rtf" would also match longer
  // extensions through their short names.
  HANDLE find = ::FindFirstFileA(JoinPath(folder, "*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(data.cFileName);
    } while (::FindNextFileA(find, &data));
    ::FindClose(find);
  }
  return names;
}

std::string NativePath(const std::string& path) { return path; }

}  // namespace vt
