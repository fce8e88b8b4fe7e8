// The "General" page of the options sheet: the processors and the priority
// the defragmentation may use, the log switch, and the Explorer extension's
// registration (also used by "/uninstall").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/settings_file.h"
#include "base/winshapes.h"
#include "platform/ui_sink.h"

namespace vt {

struct CPriorityItem {
  const char* m_pszText;
  DWORD m_dwClass;
};
constexpr size_t kPriorityItemCount = 5;
extern const CPriorityItem kPriorityItems[kPriorityItemCount];
constexpr int kNormalPriorityIndex = 2;

// Control identifiers the page's logic names (focus after a refusal).
constexpr int kIdcCpuList = 2134;
constexpr int kIdcPriority = 2135;
constexpr int kIdcShellExtension = 2109;
constexpr int kIdcSaveLogFiles = 2174;

constexpr const char* kNoCpuText = "Please select a CPU";
constexpr const char* kNoPriorityText = "Please select a priority.";
constexpr const char* kShellLoadFailedFormat = "Could not load shell extension.\n %s";
constexpr const char* kShellNoExportText = "Unable to register or unregister dll";
constexpr const char* kShellRegisterFailedText =
    "Could not register shell extension.  Please verify that you have administrative privileges.";
constexpr const char* kShellUnregisterFailedText =
    "Could not un-register shell extension.  Please verify that you have administrative "
    "privileges.";

// What registering the extension needs from the system.
class IShellExtensionHost {
 public:
  virtual ~IShellExtensionHost() = default;
  enum CallResult { Called, NotLoaded, NoExport };
  // The extension's full path: the program's folder and "VantrelShell.dll".
  virtual std::string LibraryPath() = 0;
  // Loads the library and calls DllRegisterServer or DllUnregisterServer.
  virtual CallResult CallServer(const std::string& path, bool registering) = 0;
  // The class key names a server file that exists.
  virtual bool IsRegistered() = 0;
};

// Registers (or unregisters) the extension and tells the user what failed.
// Returns whether the registry now says what was asked.
bool RegisterShellExtension(bool registering, IShellExtensionHost& host, IPrompt& prompt);

class COptionsPage {
 public:
  // processors: what the system reports (0 when it reports none).
  void Load(const SettingsFile& settings, unsigned processors, bool registered);

  size_t CpuCount() const { return m_cpus.size(); }
  std::string CpuText(size_t index) const;
  bool CpuChecked(size_t index) const { return index < m_cpus.size() && m_cpus[index]; }
  void SetCpuChecked(size_t index, bool on);
  // The item the closed list shows: the first checked one, or -1.
  int ShownCpu() const;
  uint64_t CpuMask() const;

  int Priority() const { return m_nPriority; }
  void SelectPriority(int index) { m_nPriority = index; }

  bool ShellExtension() const { return m_bShellExtension; }
  void SetShellExtension(bool on) { m_bShellExtension = on; }
  bool SaveLogFiles() const { return m_bSaveLogs; }
  void SetSaveLogFiles(bool on) { m_bSaveLogs = on; }

  // The sheet's OK: 1 lets it close; 0 keeps it open with *focus set to the
  // control at fault. Registration problems are told but do not refuse.
  int Apply(SettingsFile& settings, IShellExtensionHost& host, IPrompt& prompt, int* focus);

 private:
  std::vector<bool> m_cpus;
  int m_nPriority = kNormalPriorityIndex;
  bool m_bShellExtension = false;
  bool m_bSaveLogs = true;
};

}  // namespace vt
