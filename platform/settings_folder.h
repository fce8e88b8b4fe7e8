// The per-user folder that holds the settings file and the log files.
#pragma once

#include <string>

namespace vt {

// The folders under the system's per-user base.
constexpr const char* kSettingsMakerFolder = "Norvane Utilities";
constexpr const char* kSettingsProductFolder = "Vantrel";

// The system's folder separator: '\\' on Windows, '/' elsewhere.
extern const char kPathSeparator;

// Windows: the roaming application-data folder + "\Norvane Utilities\Vantrel";
// elsewhere $XDG_CONFIG_HOME (or ~/.config) + "/Norvane Utilities/Vantrel".
// Each level is created when missing, every time (failures are ignored).
// Empty when the base folder cannot be found.
std::string SettingsFolder();

// folder and name joined by one separator; none is added when the folder
// already ends in '\' or '/'.
std::string JoinPath(const std::string& folder, const std::string& name);

// Creates one folder level; true when it exists afterwards.
bool MakeFolder(const std::string& path);

}  // namespace vt
