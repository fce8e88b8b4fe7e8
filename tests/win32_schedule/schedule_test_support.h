// Helpers the scheduled-task tests share: build paths as Windows sees them,
// a temporary folder of their own, and waiting for Wine's task service.
#pragma once

#include <cstdio>
#include <string>

#include "base/winshapes.h"

namespace vt {
namespace test {

// A build path as Windows sees it (Wine maps the host's root to Z:).
inline std::string WindowsPath(std::string path) {
  if (path.size() > 1 && path[1] == ':') return path;
  for (char& c : path)
    if (c == '/') c = '\\';
  return "Z:" + path;
}

// A new empty folder under the temporary folder, removed with what it holds.
class CTempFolder {
 public:
  explicit CTempFolder(const char* tag) {
    char base[MAX_PATH];
    DWORD n = ::GetTempPathA(MAX_PATH, base);
    if (n == 0 || n >= MAX_PATH) return;
    static unsigned s_serial = 0;
    char name[96];
    std::snprintf(name, sizeof(name), "%s-%lu-%u\\", tag,
                  static_cast<unsigned long>(::GetCurrentProcessId()), ++s_serial);
    std::string path = std::string(base, n) + name;
    if (::CreateDirectoryA(path.c_str(), nullptr)) m_path = path;
  }
  ~CTempFolder() {
    if (m_path.empty()) return;
    WIN32_FIND_DATAA data;
    HANDLE find = ::FindFirstFileA((m_path + "*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        ::DeleteFileA((m_path + data.cFileName).c_str());
      } while (::FindNextFileA(find, &data));
      ::FindClose(find);
    }
    ::RemoveDirectoryA(m_path.c_str());
  }
  CTempFolder(const CTempFolder&) = delete;
  CTempFolder& operator=(const CTempFolder&) = delete;

  bool Ok() const { return !m_path.empty(); }
  const std::string& Path() const { return m_path; }  // ends with a backslash

  // Puts a build output here under another name.
  bool Place(const char* buildPath, const char* name) const {
    return ::CopyFileA(WindowsPath(buildPath).c_str(), (m_path + name).c_str(), FALSE) != FALSE;
  }

 private:
  std::string m_path;
};

inline std::string ReadText(const std::string& path) {
  std::string text;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buffer[1024];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), f)) > 0) text.append(buffer, n);
    std::fclose(f);
  }
  return text;
}

}  // namespace test
}  // namespace vt
