#include "app/settings_keys.h"

#include <algorithm>
#include <climits>

#include "base/text.h"

namespace vt {

namespace {

const int kFreeModes[] = {2, 3};
const int kFilterIds[] = {2139, 2140, 2141, 2169, 2170};
const int kPriorities[] = {0, 128, 32768, 32, 16384, 64};

// The keys in the order of the table below.
enum KeyId {
  KEY_SELECTED_DRIVES,
  KEY_INCLUDE_REMOVABLE,
  KEY_INCLUDE_FLOPPY,
  KEY_DEFRAG_FREE_MODE,
  KEY_DEFRAG_FILE_MODE,
  KEY_CUSTOM_DEFRAG_BY_FILE_TYPE,
  KEY_IGNORE_FILES_GREATER_THAN_SIZE,
  KEY_BY_FRAGMENTATION_PERCENTAGE,
  KEY_CUSTOM_FILE_TYPE_INCLUDE,
  KEY_CUSTOM_FILE_TYPE_IGNORE,
  KEY_MAKE_ROOM_FOR_LARGE_FILES,
  KEY_PROCESSORS,
  KEY_PROCESSOR_PRIORITY,
  KEY_SAVE_LOG_FILES,
  KEY_BLOCK_SIZE,
  KEY_AUTO_DEFRAG,
  KEY_AUTO_DEFRAG_DAYS,
  KEY_AUTO_DEFRAG_RECUR,
  KEY_AUTO_DEFRAG_IDLE,
  KEY_AUTO_DEFRAG_START_TIME,
  KEY_AUTO_DEFRAG_ACCOUNT,
  KEY_AUTO_DEFRAG_PASSWORD,
  KEY_AUTO_DEFRAG_DRIVES,
  KEY_POSITION,
  KEY_COUNT
};

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

static_assert(sizeof(kKeys) / sizeof(kKeys[0]) == KEY_COUNT, "one KeyId per key");

const SettingKey& Key(KeyId id) { return kKeys[id]; }

// Whether the program itself writes this value for an integer key.
bool IsWrittenValue(const SettingKey& key, int value) {
  if (key.m_pnChoices)
    return std::find(key.m_pnChoices, key.m_pnChoices + key.m_nChoices, value) !=
           key.m_pnChoices + key.m_nChoices;
  return value >= key.m_nMin && value <= key.m_nMax;
}

int ReadInt(const SettingsFile& settings, KeyId id) {
  return settings.GetInt(Key(id).m_pszName, Key(id).m_nDefault);
}

// A value the program would not write gives the default.
int ReadWrittenInt(const SettingsFile& settings, KeyId id) {
  const int value = ReadInt(settings, id);
  return IsWrittenValue(Key(id), value) ? value : Key(id).m_nDefault;
}

bool ReadBool(const SettingsFile& settings, KeyId id) { return ReadInt(settings, id) != 0; }

std::string ReadText(const SettingsFile& settings, KeyId id) {
  return settings.GetString(Key(id).m_pszName);
}

bool WriteInt(SettingsFile& settings, KeyId id, int value) {
  return settings.SetInt(Key(id).m_pszName, value);
}

bool WriteBool(SettingsFile& settings, KeyId id, bool on) {
  return WriteInt(settings, id, on ? 1 : 0);
}

bool WriteText(SettingsFile& settings, KeyId id, const std::string& text) {
  return settings.SetString(Key(id).m_pszName, text);
}

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
      if (&key == &Key(KEY_PROCESSORS) && value == 0) {
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

// The typed accessors of SettingsFile.
std::string SettingsFile::SelectedDrives() const { return ReadText(*this, KEY_SELECTED_DRIVES); }
bool SettingsFile::SetSelectedDrives(const std::string& text) {
  return WriteText(*this, KEY_SELECTED_DRIVES, text);
}
bool SettingsFile::IncludeRemovable() const { return ReadBool(*this, KEY_INCLUDE_REMOVABLE); }
bool SettingsFile::SetIncludeRemovable(bool on) {
  return WriteBool(*this, KEY_INCLUDE_REMOVABLE, on);
}
bool SettingsFile::IncludeFloppy() const { return ReadBool(*this, KEY_INCLUDE_FLOPPY); }
bool SettingsFile::SetIncludeFloppy(bool on) { return WriteBool(*this, KEY_INCLUDE_FLOPPY, on); }
int SettingsFile::DefragFreeMode() const { return ReadWrittenInt(*this, KEY_DEFRAG_FREE_MODE); }
bool SettingsFile::SetDefragFreeMode(int value) {
  return WriteInt(*this, KEY_DEFRAG_FREE_MODE, value);
}
int SettingsFile::DefragFileMode() const { return ReadInt(*this, KEY_DEFRAG_FILE_MODE); }
bool SettingsFile::SetDefragFileMode(int value) {
  return WriteInt(*this, KEY_DEFRAG_FILE_MODE, value);
}
int SettingsFile::CustomDefragByFileType() const {
  return ReadWrittenInt(*this, KEY_CUSTOM_DEFRAG_BY_FILE_TYPE);
}
bool SettingsFile::SetCustomDefragByFileType(int value) {
  return WriteInt(*this, KEY_CUSTOM_DEFRAG_BY_FILE_TYPE, value);
}
uint32_t SettingsFile::IgnoreFilesGreaterThanSize() const {
  return GetUInt(Key(KEY_IGNORE_FILES_GREATER_THAN_SIZE).m_pszName,
                 static_cast<uint32_t>(Key(KEY_IGNORE_FILES_GREATER_THAN_SIZE).m_nDefault));
}
bool SettingsFile::SetIgnoreFilesGreaterThanSize(uint32_t value) {
  return WriteInt(*this, KEY_IGNORE_FILES_GREATER_THAN_SIZE, static_cast<int>(value));
}
int SettingsFile::ByFragmentationPercentage() const {
  return ReadWrittenInt(*this, KEY_BY_FRAGMENTATION_PERCENTAGE);
}
bool SettingsFile::SetByFragmentationPercentage(int value) {
  return WriteInt(*this, KEY_BY_FRAGMENTATION_PERCENTAGE, value);
}
int SettingsFile::WorkerFragmentationPercentage() const {
  const SettingKey& key = Key(KEY_BY_FRAGMENTATION_PERCENTAGE);
  const int value = GetInt(key.m_pszName, 0);
  return value >= key.m_nMin && value <= key.m_nMax ? value : 0;
}
std::string SettingsFile::CustomFileTypeInclude() const {
  return ReadText(*this, KEY_CUSTOM_FILE_TYPE_INCLUDE);
}
bool SettingsFile::SetCustomFileTypeInclude(const std::string& text) {
  return WriteText(*this, KEY_CUSTOM_FILE_TYPE_INCLUDE, text);
}
std::string SettingsFile::CustomFileTypeIgnore() const {
  return ReadText(*this, KEY_CUSTOM_FILE_TYPE_IGNORE);
}
bool SettingsFile::SetCustomFileTypeIgnore(const std::string& text) {
  return WriteText(*this, KEY_CUSTOM_FILE_TYPE_IGNORE, text);
}
bool SettingsFile::MakeRoomForLargeFiles() const {
  return ReadBool(*this, KEY_MAKE_ROOM_FOR_LARGE_FILES);
}
bool SettingsFile::SetMakeRoomForLargeFiles(bool on) {
  return WriteBool(*this, KEY_MAKE_ROOM_FOR_LARGE_FILES, on);
}
int SettingsFile::Processors() const { return ReadInt(*this, KEY_PROCESSORS); }
bool SettingsFile::SetProcessors(int value) { return WriteInt(*this, KEY_PROCESSORS, value); }
int SettingsFile::ProcessorPriority() const {
  return ReadWrittenInt(*this, KEY_PROCESSOR_PRIORITY);
}
bool SettingsFile::SetProcessorPriority(int value) {
  return WriteInt(*this, KEY_PROCESSOR_PRIORITY, value);
}
bool SettingsFile::SaveLogFiles() const { return ReadBool(*this, KEY_SAVE_LOG_FILES); }
bool SettingsFile::SetSaveLogFiles(bool on) { return WriteBool(*this, KEY_SAVE_LOG_FILES, on); }
int SettingsFile::BlockSize() const { return ReadWrittenInt(*this, KEY_BLOCK_SIZE); }
bool SettingsFile::SetBlockSize(int value) { return WriteInt(*this, KEY_BLOCK_SIZE, value); }
bool SettingsFile::AutoDefrag() const { return ReadBool(*this, KEY_AUTO_DEFRAG); }
bool SettingsFile::SetAutoDefrag(bool on) { return WriteBool(*this, KEY_AUTO_DEFRAG, on); }
int SettingsFile::AutoDefragDays() const { return ReadInt(*this, KEY_AUTO_DEFRAG_DAYS) & 0x7F; }
bool SettingsFile::SetAutoDefragDays(int value) {
  return WriteInt(*this, KEY_AUTO_DEFRAG_DAYS, value);
}
int SettingsFile::AutoDefragRecur() const { return ReadInt(*this, KEY_AUTO_DEFRAG_RECUR); }
bool SettingsFile::SetAutoDefragRecur(int value) {
  return WriteInt(*this, KEY_AUTO_DEFRAG_RECUR, value);
}
std::string SettingsFile::AutoDefragRecurText() const {
  return GetString(Key(KEY_AUTO_DEFRAG_RECUR).m_pszName,
                   Format("%d", Key(KEY_AUTO_DEFRAG_RECUR).m_nDefault));
}
bool SettingsFile::AutoDefragIdle() const { return ReadBool(*this, KEY_AUTO_DEFRAG_IDLE); }
bool SettingsFile::SetAutoDefragIdle(bool on) { return WriteBool(*this, KEY_AUTO_DEFRAG_IDLE, on); }
std::string SettingsFile::AutoDefragStartTime() const {
  return ReadText(*this, KEY_AUTO_DEFRAG_START_TIME);
}
bool SettingsFile::SetAutoDefragStartTime(const std::string& text) {
  return WriteText(*this, KEY_AUTO_DEFRAG_START_TIME, text);
}
std::string SettingsFile::AutoDefragAccount() const {
  return ReadText(*this, KEY_AUTO_DEFRAG_ACCOUNT);
}
bool SettingsFile::SetAutoDefragAccount(const std::string& text) {
  return WriteText(*this, KEY_AUTO_DEFRAG_ACCOUNT, text);
}
std::string SettingsFile::AutoDefragPassword() const {
  return ReadText(*this, KEY_AUTO_DEFRAG_PASSWORD);
}
bool SettingsFile::SetAutoDefragPassword(const std::string& text) {
  return WriteText(*this, KEY_AUTO_DEFRAG_PASSWORD, text);
}
std::string SettingsFile::AutoDefragDrives() const {
  return ReadText(*this, KEY_AUTO_DEFRAG_DRIVES);
}
bool SettingsFile::SetAutoDefragDrives(const std::string& text) {
  return WriteText(*this, KEY_AUTO_DEFRAG_DRIVES, text);
}

}  // namespace vt
