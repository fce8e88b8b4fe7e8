// The typed accessors: each key's default from the key table, the values a
// reader refuses, and the stored form of what they write.
#include <gtest/gtest.h>

#include "app/settings_keys.h"
#include "settings_test_util.h"

namespace vt {
namespace {

using testing_util::CScratchFolder;
using testing_util::ReadBytes;

int TableDefault(const char* name) { return FindSettingKey(name)->m_nDefault; }

TEST(TypedSettings, MissingKeysGiveTheTableDefaults) {
  CScratchFolder folder;
  const SettingsFile s(folder.File("Vantrel.ini"));
  EXPECT_EQ(s.BlockSize(), 7);
  EXPECT_TRUE(s.SaveLogFiles());
  EXPECT_EQ(s.Processors(), -1);
  EXPECT_EQ(s.DefragFreeMode(), 2);
  EXPECT_EQ(s.CustomDefragByFileType(), 2139);
  EXPECT_EQ(s.ByFragmentationPercentage(), 50);
  EXPECT_EQ(s.AutoDefragRecurText(), "1");
  EXPECT_TRUE(s.AutoDefragIdle());
  // Every integer accessor agrees with the table it takes its default from.
  const std::pair<const char*, int> ints[] = {
      {"IncludeRemovable", s.IncludeRemovable()},
      {"IncludeFloppy", s.IncludeFloppy()},
      {"DefragFreeMode", s.DefragFreeMode()},
      {"DefragFileMode", s.DefragFileMode()},
      {"CustomDefragByFileType", s.CustomDefragByFileType()},
      {"IgnoreFilesGreaterThanSize", static_cast<int>(s.IgnoreFilesGreaterThanSize())},
      {"ByFragmentationPercentage", s.ByFragmentationPercentage()},
      {"Processors", s.Processors()},
      {"ProcessorPriority", s.ProcessorPriority()},
      {"SaveLogFiles", s.SaveLogFiles()},
      {"BlockSize", s.BlockSize()},
      {"AutoDefrag", s.AutoDefrag()},
      {"AutoDefragDays", s.AutoDefragDays()},
      {"AutoDefragRecur", s.AutoDefragRecur()},
      {"AutoDefragIdle", s.AutoDefragIdle()}};
  for (const auto& [name, value] : ints) EXPECT_EQ(value, TableDefault(name)) << name;
  for (const std::string& text :
       {s.SelectedDrives(), s.CustomFileTypeInclude(), s.CustomFileTypeIgnore(),
        s.AutoDefragStartTime(), s.AutoDefragAccount(), s.AutoDefragPassword(),
        s.AutoDefragDrives()})
    EXPECT_EQ(text, "");
  EXPECT_EQ(folder.EntryCount(), 0u);
}

TEST(TypedSettings, OddStoredValuesAreDefaultedOrMaskedAsBefore) {
  CScratchFolder folder;
  SettingsFile s(folder.File("Vantrel.ini"));
  auto store = [&](const char* key, const char* raw) {
    ASSERT_TRUE(s.WriteValue(kSettingsSection, key, raw));
  };
  const struct {
    const char* key;
    const char* raw;
    int (*read)(const SettingsFile&);
    int expected;
  } cases[] = {
      {"BlockSize", "0", [](const SettingsFile& f) { return f.BlockSize(); }, 7},
      {"BlockSize", "11", [](const SettingsFile& f) { return f.BlockSize(); }, 7},
      {"BlockSize", " 3 ", [](const SettingsFile& f) { return f.BlockSize(); }, 3},
      {"DefragFreeMode", "5", [](const SettingsFile& f) { return f.DefragFreeMode(); }, 2},
      {"DefragFreeMode", "3", [](const SettingsFile& f) { return f.DefragFreeMode(); }, 3},
      {"CustomDefragByFileType", "2150",
       [](const SettingsFile& f) { return f.CustomDefragByFileType(); }, 2139},
      {"ByFragmentationPercentage", "100",
       [](const SettingsFile& f) { return f.ByFragmentationPercentage(); }, 50},
      {"ByFragmentationPercentage", "-1",
       [](const SettingsFile& f) { return f.ByFragmentationPercentage(); }, 50},
      {"ProcessorPriority", "12345", [](const SettingsFile& f) { return f.ProcessorPriority(); },
       0},
      {"ProcessorPriority", "16384", [](const SettingsFile& f) { return f.ProcessorPriority(); },
       16384},
      {"AutoDefragDays", "255", [](const SettingsFile& f) { return f.AutoDefragDays(); }, 127},
      {"IgnoreFilesGreaterThanSize", "-5",
       [](const SettingsFile& f) { return static_cast<int>(f.IgnoreFilesGreaterThanSize()); }, 0},
      {"SaveLogFiles", "2", [](const SettingsFile& f) { return int(f.SaveLogFiles()); }, 1},
      {"SaveLogFiles", "off", [](const SettingsFile& f) { return int(f.SaveLogFiles()); }, 1},
      {"Processors", "0", [](const SettingsFile& f) { return f.Processors(); }, 0},
  };
  for (const auto& c : cases) {
    store(c.key, c.raw);
    EXPECT_EQ(c.read(s), c.expected) << c.key << "=" << c.raw;
  }
  store("AutoDefragRecur", "x2");
  EXPECT_EQ(s.AutoDefragRecur(), 1);
  EXPECT_EQ(s.AutoDefragRecurText(), "x2");  // the page shows what is stored
}

TEST(TypedSettings, SettersStoreTheProgramsForm) {
  CScratchFolder folder;
  SettingsFile s(folder.File("Vantrel.ini"));
  ASSERT_TRUE(s.SetSaveLogFiles(false));
  ASSERT_TRUE(s.SetSelectedDrives("C:\\,"));
  ASSERT_TRUE(s.SetIgnoreFilesGreaterThanSize(1048576000u));
  ASSERT_TRUE(s.SetAutoDefragIdle(true));
  EXPECT_EQ(ReadBytes(s.Path()),
            "[Settings]\r\nSaveLogFiles=0\r\nSelectedDrives=\"C:\\,\"\r\n"
            "IgnoreFilesGreaterThanSize=1048576000\r\nAutoDefragIdle=1\r\n");
  EXPECT_FALSE(s.SaveLogFiles());
  EXPECT_EQ(s.IgnoreFilesGreaterThanSize(), 1048576000u);
}

}  // namespace
}  // namespace vt
