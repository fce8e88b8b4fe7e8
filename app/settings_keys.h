// Every key of the settings file with its type, its default and the values
// the program writes, for listing and for checked writes from the outside.
#pragma once

#include <cstddef>
#include <string>

#include "app/settings_file.h"

namespace vt {

enum SettingType {
  SETTING_INT,   // "%d"
  SETTING_TEXT,  // quoted text
  SETTING_LIST,  // quoted text, every element followed by ","
  SETTING_RECT,  // "%d,%d,%d,%d", unquoted
};

struct SettingKey {
  const char* m_pszSection;
  const char* m_pszName;
  SettingType m_type;
  // Integers: the default where the key is missing (the editing page's own
  // where two readers differ), and the values the program writes.
  int m_nDefault;
  int m_nMin;
  int m_nMax;
  const int* m_pnChoices;  // when set, only these values
  size_t m_nChoices;
};

// In the order of the file's documentation: section "Settings", then "Position".
const SettingKey* SettingKeys(size_t* count);

// "Key" (section "Settings") or "Section.Key"; names compare without case.
const SettingKey* FindSettingKey(const std::string& name);

// "Section.Key" for keys outside "Settings", else "Key".
std::string SettingDisplayName(const SettingKey& key);

// Whether text is a value the program itself could have written for key.
bool CheckSettingValue(const SettingKey& key, const std::string& text, std::string* error);

// The value as the file stores it ("%d", or the text between double quotes);
// the default where the key is missing. *present says which.
std::string StoredSettingText(const SettingsFile& settings, const SettingKey& key, bool* present);

// Writes a value that passed CheckSettingValue.
bool WriteSetting(SettingsFile& settings, const SettingKey& key, const std::string& text);

}  // namespace vt
