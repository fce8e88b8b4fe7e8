#include "app/startup.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace vt {

bool HasSwitch(const std::string& commandLine, const char* name) {
  return commandLine.find(name) != std::string::npos;
}

StartMode ChooseStartMode(const std::string& commandLine, bool otherCopyRunning) {
  if (otherCopyRunning) return StartMode::HandOff;
  if (HasSwitch(commandLine, "/uninstall")) return StartMode::Uninstall;
  if (HasSwitch(commandLine, "/auto")) return StartMode::Auto;
  return StartMode::Normal;
}

std::array<char, kHandOffBytes> MakeHandOffBlock(const std::string& commandLine) {
  std::array<char, kHandOffBytes> block{};
  const size_t n = std::min(commandLine.size(), kHandOffBytes - 1);
  std::memcpy(block.data(), commandLine.data(), n);
  return block;
}

std::string ReadHandOffBlock(const void* data, size_t size) {
  if (!data) return std::string();
  const char* text = static_cast<const char*>(data);
  const size_t limit = std::min(size, kHandOffBytes - 1);
  size_t n = 0;
  while (n < limit && text[n] != '\0') ++n;
  return std::string(text, n);
}

HandOffAction ChooseHandOffAction(const std::string& text, long busyCount) {
  if (HasSwitch(text, "/auto")) return HandOffAction::SchedulerMessage;
  if (busyCount != 0) return HandOffAction::BusyMessage;
  if (!text.empty()) return HandOffAction::OpenFilesPage;
  return HandOffAction::Nothing;
}

bool IsRunningCopyWindow(const std::string& title, const std::string& className) {
  if (title.find("Vantrel") == std::string::npos) return false;
  const char* dialog = "#32770";
  if (className.size() != std::strlen(dialog)) return false;
  for (size_t i = 0; i < className.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(className[i])) != dialog[i]) return false;
  return true;
}

std::string UninstallTaskMessage(int32_t result, const std::string& reason) {
  const uint32_t code = static_cast<uint32_t>(result);
  constexpr uint32_t kFileNotFound = 0x80070002u;  // HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)
  constexpr uint32_t kPathNotFound = 0x80070003u;  // no folder, so no task in it
  if (result >= 0 || code == kFileNotFound || code == kPathNotFound) return std::string();
  std::string text = kUninstallTaskFailedText;
  if (!reason.empty()) text += "\n\n" + reason;
  char number[40];
  std::snprintf(number, sizeof(number), "\n\nError code: 0x%08X", static_cast<unsigned>(code));
  return text + number;
}

std::string HelpFilePath(const std::string& programPath) {
  // The default help path is the program's with ".HLP"; HTML help wants ".chm".
  std::string path = programPath;
  const size_t slash = path.find_last_of("\\/");
  const size_t dot = path.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) path.erase(dot);
  path += ".HLP";
  path.replace(path.size() - 4, 4, ".chm");
  return path;
}

}  // namespace vt
