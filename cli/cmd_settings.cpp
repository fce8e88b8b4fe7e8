// settings: reads and writes the settings file as the program stores it.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/settings_file.h"
#include "app/settings_keys.h"
#include "cli/commands.h"
#include "cli/session.h"

namespace vt {

namespace {

void WarnWhenUnreadable(const SettingsFile& settings) {
  std::string error;
  if (settings.Probe(&error) == FILE_READ_UNREADABLE)
    std::fprintf(stderr, "vantrel-cli: warning: cannot read %s: %s; showing the defaults\n",
                 settings.Path().empty() ? "the settings file" : settings.Path().c_str(),
                 error.c_str());
}

int List(const SettingsFile& settings) {
  WarnWhenUnreadable(settings);
  size_t count = 0;
  const SettingKey* keys = SettingKeys(&count);
  std::string section;
  for (size_t i = 0; i < count; ++i) {
    if (section != keys[i].m_pszSection) {
      section = keys[i].m_pszSection;
      std::printf("[%s]\n", section.c_str());
    }
    bool present = false;
    const std::string value = StoredSettingText(settings, keys[i], &present);
    std::printf("%s=%s\n", keys[i].m_pszName, value.c_str());
  }
  return EXIT_OK;
}

}  // namespace

int RunSettings(const std::vector<std::string>& args) {
  CParsedArgs parsed = ParseCommandArgs("settings", args);
  if (!parsed.error.empty()) return Fail(EXIT_USAGE, parsed.error);
  SettingsFile settings = parsed.Has("file") ? SettingsFile(parsed.Get("file")) : SettingsFile();
  const std::vector<std::string>& p = parsed.positional;
  const std::string action = p.empty() ? "list" : p[0];

  if (action == "list") {
    if (p.size() > 1) return Fail(EXIT_USAGE, "settings list takes no arguments");
    return List(settings);
  }
  if (action == "path") {
    if (p.size() > 1) return Fail(EXIT_USAGE, "settings path takes no arguments");
    if (settings.Path().empty()) return Fail(EXIT_FAILED, "there is no settings folder");
    std::printf("%s\n", settings.Path().c_str());
    return EXIT_OK;
  }
  if (action == "get") {
    if (p.size() != 2) return Fail(EXIT_USAGE, "usage: settings get KEY");
    const SettingKey* key = FindSettingKey(p[1]);
    if (!key) return Fail(EXIT_USAGE, "unknown key " + p[1] + " (settings list shows them)");
    WarnWhenUnreadable(settings);
    bool present = false;
    std::printf("%s\n", StoredSettingText(settings, *key, &present).c_str());
    return EXIT_OK;
  }
  if (action == "set") {
    if (p.size() != 3) return Fail(EXIT_USAGE, "usage: settings set KEY VALUE");
    const SettingKey* key = FindSettingKey(p[1]);
    if (!key) return Fail(EXIT_USAGE, "unknown key " + p[1] + " (settings list shows them)");
    std::string error;
    if (!CheckSettingValue(*key, p[2], &error)) return Fail(EXIT_USAGE, error);
    if (!WriteSetting(settings, *key, p[2])) return Fail(EXIT_FAILED, settings.LastError());
    // The program reads four numbers of a rectangle and ignores the rest.
    if (key->m_type == SETTING_RECT && std::count(p[2].begin(), p[2].end(), ',') > 3)
      std::fprintf(stderr,
                   "vantrel-cli: warning: %s keeps left,top,right,bottom; the numbers after the "
                   "fourth were dropped\n",
                   p[1].c_str());
    return EXIT_OK;
  }
  return Fail(EXIT_USAGE, "unknown settings action '" + action + "' (get, set, list or path)");
}

}  // namespace vt
