#include "app/settings_keys.h"

#include <climits>

#include "base/text.h"

namespace vt {

namespace {

const int kFreeModes[] = {2, 3};
const int kFilterIds[] = {2139, 2140, 2141, 2169, 2170};
const int kPriorities[] = {0, 128, 32768, 32, 16384, 64};

#define VT_CHOICES(list) list, sizeof(list) / sizeof(list[0])

const SettingKey kKeys[] = {
    {kSettingsSection, "SelectedDrives", SETTING_LIST, 0, 0, 0, nullptr, 0},
    {kSettingsSection, "IncludeRemovable", SETTING_INT, 0, 0, 1, nullptr, 0},
    {kSettingsSection, "IncludeFloppy", SETTING_INT, 0, 0, 1, nullptr, 0},
    {kSettingsSection, "DefragFreeMode", SETTING_INT, 2, 2, 3, VT_CHOICES(kFreeModes)},
    {kSettingsSection, "DefragFileMode", SETTING_INT, 0, 0, 1, nullptr, 0},
    {kSettingsSection, "CustomDefragByFileType", SETTING_INT, 2139, 2139, 2170,
     VT_CHOICES(kFilterIds)},
    {kSettingsSection, "IgnoreFilesGreaterThanSize", SETTING_INT, 0, 0, INT_MAX, nullptr, 0},
    {kSettingsSection, "ByFragmentationPercentage", SETTING_INT, 50, 0, 99, nullptr, 0},
    {kSettingsSection, "CustomFileTypeInclude", SETTING_LIST, 0, 0, 0, nullptr, 0},
    {kSettingsSection, "CustomFileTypeIgnore", SETTING_LIST, 0, 0, 0, nullptr, 0},
    {kSettingsSection, "MakeRoomForLargeFiles", SETTING_INT, 1, 0, 1, nullptr, 0},
    {kSettingsSection, "Processors", SETTING_INT, -1, INT_MIN, INT_MAX, nullptr, 0},
    {kSettingsSection, "ProcessorPriority", SETTING_INT, 0, 0, 32768, VT_CHOICES(kPriorities)},
    {kSettingsSection, "SaveLogFiles", SETTING_INT, 1, 0, 1, nullptr, 0},
    {kSettingsSection, "BlockSize", SETTING_INT, 7, 1, 10, nullptr, 0},
    {kSettingsSection, "AutoDefrag", SETTING_INT, 0, 0, 1, nullptr, 0},
    {kSettingsSection, "AutoDefragDays", SETTING_INT, 0, 0, 127, nullptr, 0},
    {kSettingsSection, "AutoDefragRecur", SETTING_INT, 1, 1, 52, nullptr, 0},
    {kSettingsSection, "AutoDefragIdle", SETTING_INT, 1, 0, 1, nullptr, 0},
    {kSettingsSection, "AutoDefragStartTime", SETTING_TEXT, 0, 0, 0, nullptr, 0},
    {kSettingsSection, "AutoDefragAccount", SETTING_TEXT, 0, 0, 0, nullptr, 0},
    {kSettingsSection, "AutoDefragPassword", SETTING_TEXT, 0, 0, 0, nullptr, 0},
    {kSettingsSection, "AutoDefragDrives", SETTING_LIST, 0, 0, 0, nullptr, 0},
    {kPositionSection, kPositionKey, SETTING_RECT, 0, 0, 0, nullptr, 0},
};

#undef VT_CHOICES

}  // namespace

const SettingKey* SettingKeys(size_t* count) {
  *count = sizeof(kKeys) / sizeof(kKeys[0]);
  return kKeys;
}

const SettingKey* FindSettingKey(const std::string& name) {
  std::string section = kSettingsSection;
  std::string key = name;
  const size_t dot = name.find('.');
  if (dot != std::string::npos) {
    section = name.substr(0, dot);
    key = name.substr(dot + 1);
  }
  for (const auto& k : kKeys)
    if (EqualsNoCase(section, k.m_pszSection) && EqualsNoCase(key, k.m_pszName)) return &k;
  return nullptr;
}

std::string SettingDisplayName(const SettingKey& key) {
  if (EqualsNoCase(key.m_pszSection, kSettingsSection)) return key.m_pszName;
  return std::string(key.m_pszSection) + "." + key.m_pszName;
}

bool CheckSettingValue(const SettingKey& key, const std::string& text, std::string* error) {
  const std::string name = SettingDisplayName(key);
  if (text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
    *error = name + " cannot hold a line break";
    return false;
  }
  switch (key.m_type) {
    case SETTING_INT: {
      int32_t value = 0;
      if (!ParseInt32(text, &value)) {
        *error = name + " takes a whole number";
        return false;
      }
      if (key.m_pnChoices) {
        std::string list;
        for (size_t i = 0; i < key.m_nChoices; ++i) {
          if (key.m_pnChoices[i] == value) return true;
          list += (i ? ", " : "") + Format("%d", key.m_pnChoices[i]);
        }
        *error = name + " takes one of " + list;
        return false;
      }
      if (value < key.m_nMin || value > key.m_nMax) {
        *error = Format("%s takes %d to %d", name.c_str(), key.m_nMin, key.m_nMax);
        return false;
      }
      // A mask without processors would leave the program no processor.
      if (EqualsNoCase(key.m_pszName, "Processors") && value == 0) {
        *error = "Processors needs at least one processor (-1 for all)";
        return false;
      }
      return true;
    }
    case SETTING_LIST:
      if (!text.empty() && text.back() != ',') {
        *error = name + " is a list in which every element ends with \",\" (as in \"C:\\,D:\\,\")";
        return false;
      }
      return true;
    case SETTING_TEXT:
      return true;
    case SETTING_RECT: {
      CWindowRect rect;
      if (!ParseWindowRect(text, &rect) || rect.right <= rect.left || rect.bottom <= rect.top) {
        *error = name + " takes left,top,right,bottom with right > left and bottom > top";
        return false;
      }
      return true;
    }
  }
  return false;
}

std::string StoredSettingText(const SettingsFile& settings, const SettingKey& key, bool* present) {
  std::string raw;
  *present = false;
  switch (key.m_type) {
    case SETTING_INT: {
      // What the program's reader takes from the file.
      int32_t value = key.m_nDefault;
      if (settings.ReadValue(key.m_pszSection, key.m_pszName, kTextBufferChars, &raw) &&
          ParseInt32(raw, &value))
        *present = true;
      return Format("%d", static_cast<int>(value));
    }
    case SETTING_TEXT:
    case SETTING_LIST:
      *present = settings.ReadValue(key.m_pszSection, key.m_pszName, kTextBufferChars, &raw);
      return '"' + raw + '"';
    case SETTING_RECT:
      *present = settings.ReadValue(key.m_pszSection, key.m_pszName, kPositionBufferChars, &raw);
      return raw;
  }
  return std::string();
}

bool WriteSetting(SettingsFile& settings, const SettingKey& key, const std::string& text) {
  switch (key.m_type) {
    case SETTING_INT: {
      int32_t value = 0;
      if (!ParseInt32(text, &value)) return false;
      return settings.WriteValue(key.m_pszSection, key.m_pszName, Format("%d", value));
    }
    case SETTING_TEXT:
    case SETTING_LIST:
      return settings.WriteValue(key.m_pszSection, key.m_pszName, '"' + text + '"');
    case SETTING_RECT: {
      CWindowRect rect;
      if (!ParseWindowRect(text, &rect)) return false;
      return settings.WriteValue(key.m_pszSection, key.m_pszName, FormatWindowRect(rect));
    }
  }
  return false;
}

}  // namespace vt
