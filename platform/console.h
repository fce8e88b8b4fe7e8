// The console of a command-line program: terminals, interrupts and the
// console's code page.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace vt {

// Whether the stream writes to a terminal (a console on Windows).
bool IsTerminal(std::FILE* stream);

// Calls onInterrupt on Ctrl-C and Ctrl-Break (Windows) or SIGINT, SIGTERM and
// SIGHUP (elsewhere, with 128 + the signal's number; a stopped system call
// is restarted). On Windows the code is interruptedExit. The handler runs
// inside a signal handler or on a console thread.
void CatchConsoleInterrupts(void (*onInterrupt)(int exitCode), int interruptedExit);

// Writes text to the standard error stream and ends the process at once
// with exitCode; safe inside a signal handler.
[[noreturn]] void WriteErrorAndExit(const char* text, size_t length, int exitCode);

// Makes the console show the program's UTF-8 output (Windows); nothing
// elsewhere, where terminals take UTF-8.
void UseUtf8Console();

// Whether the console takes the program's texts unchanged; false where they
// must be turned into UTF-8 for the terminal first.
bool ConsoleTakesTextAsIs();

}  // namespace vt
