// Start-up decisions of the program, apart from the windows: which of the
// four ways a start takes, the hand-off block a second copy sends, and what
// the running copy does with a handed-over command line.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vt {

enum class StartMode { HandOff, Uninstall, Auto, Normal };

// Switches are found anywhere in the command line, case-sensitively.
bool HasSwitch(const std::string& commandLine, const char* name);
StartMode ChooseStartMode(const std::string& commandLine, bool otherCopyRunning);

// The copy-data block: 520 bytes holding at most 519 characters of the
// command line, then zero bytes.
constexpr size_t kHandOffBytes = 520;
std::array<char, kHandOffBytes> MakeHandOffBlock(const std::string& commandLine);
// The receiver's reading: at most 519 characters, up to the first zero,
// whatever the sender put in the block.
std::string ReadHandOffBlock(const void* data, size_t size);

enum class HandOffAction { SchedulerMessage, BusyMessage, OpenFilesPage, Nothing };
HandOffAction ChooseHandOffAction(const std::string& text, long busyCount);

constexpr const char* kSchedulerRunningText =
    "The Windows Scheduler is attempting to start a scheduled defrag however Vantrel is already "
    "running. \n\nYour defrag options will be executed at the next scheduled interval.";
constexpr const char* kWaitForOperationText = "Please wait for the current operation to complete.";

// Whether a top-level window is the running copy's main window: its title
// holds "Vantrel" (case-sensitive) and its class is the dialog class
// "#32770" (any case).
bool IsRunningCopyWindow(const std::string& title, const std::string& className);

// "/uninstall": what to tell about the scheduled task's removal, with the
// scheduler's or the system's text for the failure. Nothing when it went or
// when there was none to remove (file or path not found).
constexpr const char* kUninstallTaskFailedText = "Unable to remove the scheduled task \"Vantrel\".";
std::string UninstallTaskMessage(int32_t result, const std::string& reason);

// The help file: the program's path with its extension swapped for ".chm".
std::string HelpFilePath(const std::string& programPath);

}  // namespace vt
