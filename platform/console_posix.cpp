#include <unistd.h>

#include <csignal>

#include "platform/console.h"

namespace vt {

namespace {
void (*g_onInterrupt)(int) = nullptr;

void OnSignal(int signal) {
  if (g_onInterrupt) g_onInterrupt(128 + signal);
}
}  // namespace

bool IsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) != 0; }

void CatchConsoleInterrupts(void (*onInterrupt)(int exitCode), int) {
  g_onInterrupt = onInterrupt;
  struct sigaction action = {};
  action.sa_handler = &OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

void WriteErrorAndExit(const char* text, size_t length, int exitCode) {
  ssize_t ignored = ::write(2, text, length);
  (void)ignored;
  ::_exit(exitCode);
}

void UseUtf8Console() {}

bool ConsoleTakesTextAsIs() { return false; }

}  // namespace vt
