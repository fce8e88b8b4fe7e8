// Stands in for Brakwater.dll: writes the request it receives to the file
// named by VT_REQUEST_RECORD and answers with the HRESULT in
// VT_REQUEST_RESULT (hexadecimal, 0 when unset).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tasklib/schedule_request.h"

namespace {

std::string Text(const wchar_t* text) {
  if (!text) return "(null)";
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? static_cast<size_t>(n) : 1, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
  out.resize(out.size() - 1);
  return "[" + out + "]";
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

HRESULT WINAPI ScheduleTask(const vt::ScheduleTaskRequest* r) {
  char path[MAX_PATH];
  DWORD n = GetEnvironmentVariableA("VT_REQUEST_RECORD", path, MAX_PATH);
  if (n > 0 && n < MAX_PATH) {
    std::string record;
    char line[128];
    std::snprintf(line, sizeof(line), "remove=%d\n", static_cast<int>(r->remove));
    record += line;
    record += "application=" + Text(r->application) + "\n";
    record += "arguments=" + Text(r->arguments) + "\n";
    record += "workingDirectory=" + Text(r->workingDirectory) + "\n";
    record += "account=" + Text(r->account) + "\n";
    record += "password=" + Text(r->password) + "\n";
    std::snprintf(line, sizeof(line), "days=0x%X weeks=%u idle=%u start=%04u-%02u-%02u %02u:%02u\n",
                  static_cast<unsigned>(r->daysOfWeek), static_cast<unsigned>(r->weeksInterval),
                  static_cast<unsigned>(r->runOnlyIfIdle), static_cast<unsigned>(r->year),
                  static_cast<unsigned>(r->month), static_cast<unsigned>(r->day),
                  static_cast<unsigned>(r->hour), static_cast<unsigned>(r->minute));
    record += line;
    if (FILE* f = std::fopen(path, "wb")) {
      std::fwrite(record.data(), 1, record.size(), f);
      std::fclose(f);
    }
  }
  char result[32];
  n = GetEnvironmentVariableA("VT_REQUEST_RESULT", result, sizeof(result));
  if (n == 0 || n >= sizeof(result)) return S_OK;
  return static_cast<HRESULT>(std::strtoul(result, nullptr, 16));
}

}  // extern "C"
