#include <io.h>

#include "base/winshapes.h"
#include "platform/console.h"

namespace vt {

namespace {
void (*g_onInterrupt)(int) = nullptr;
int g_nInterruptedExit = 0;

BOOL WINAPI ConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  if (g_onInterrupt) g_onInterrupt(g_nInterruptedExit);
  return TRUE;
}
}  // namespace

bool IsTerminal(std::FILE* stream) { return ::_isatty(::_fileno(stream)) != 0; }

void CatchConsoleInterrupts(void (*onInterrupt)(int exitCode), int interruptedExit) {
  g_onInterrupt = onInterrupt;
  g_nInterruptedExit = interruptedExit;
  ::SetConsoleCtrlHandler(&ConsoleControl, TRUE);
}

void WriteErrorAndExit(const char* text, size_t length, int exitCode) {
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(length), &written,
              nullptr);
  ::ExitProcess(static_cast<UINT>(exitCode));
}

void UseUtf8Console() { ::SetConsoleOutputCP(CP_UTF8); }

bool ConsoleTakesTextAsIs() { return true; }

}  // namespace vt
