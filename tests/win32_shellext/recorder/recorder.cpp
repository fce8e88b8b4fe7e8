// Stands in for the main program when the extension starts it: records the
// command line it was given in "started-<process id>.txt" beside itself, and
// ends. The record appears whole (written aside, then renamed).
#include <windows.h>

#include <cstdio>
#include <string>

int main() {
  char exe[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, exe, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 1;
  std::string folder(exe, length);
  folder.erase(folder.rfind('\\') + 1);
  char name[64];
  std::snprintf(name, sizeof(name), "started-%lu.txt",
                static_cast<unsigned long>(GetCurrentProcessId()));
  std::string record = folder + name;
  std::string part = record + ".part";

  HANDLE file = CreateFileA(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 2;
  const char* line = GetCommandLineA();
  DWORD written = 0;
  BOOL ok = WriteFile(file, line, static_cast<DWORD>(lstrlenA(line)), &written, nullptr);
  CloseHandle(file);
  if (!ok || !MoveFileA(part.c_str(), record.c_str())) return 3;
  return 0;
}
