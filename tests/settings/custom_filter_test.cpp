#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pages/custom_defrag_options.h"
#include "settings_test_util.h"

namespace vt {
namespace {

using testing_util::CScratchFolder;
using testing_util::ReadBytes;
using testing_util::WriteBytes;

TEST(DefragFilter, SizeAndDegreeThresholdsAreInclusive) {
  const CDefragFilter size = CDefragFilter::Size(10485760);
  EXPECT_EQ(size.Check("a.txt", 10485760, 0), FILTER_TAKE);
  EXPECT_EQ(size.Check("a.txt", 10485761, 0), FILTER_SKIP_SIZE);
  EXPECT_EQ(size.Check("a.txt", 0, 0), FILTER_TAKE);
  // The largest threshold still leaves out every file of 4 GiB or more.
  const CDefragFilter widest = CDefragFilter::Size(0xFFFFFFFFu);
  EXPECT_TRUE(widest.Passes("a", 0xFFFFFFFFull, 0));
  EXPECT_FALSE(widest.Passes("a", 0x100000000ull, 0));
  EXPECT_FALSE(widest.Passes("a", 0x1000000000ull, 0));

  const CDefragFilter percent = CDefragFilter::Percent(50);
  EXPECT_EQ(percent.Check("a", 1, 50.0), FILTER_TAKE);
  EXPECT_EQ(percent.Check("a", 1, 49.999), FILTER_SKIP_PERCENT);
  EXPECT_EQ(percent.Check("a", 1, 100.0), FILTER_TAKE);
  EXPECT_TRUE(CDefragFilter::Percent(0).Passes("a", 1, 0.0));

  EXPECT_TRUE(CDefragFilter::All().Passes("anything.exe", ~0ull, 0.0));
}

TEST(DefragFilter, TypesByTheLastDotOfTheName) {
  const CDefragFilter only = CDefragFilter::Types(OnlyTypes, {".txt", ".GZ"});
  EXPECT_TRUE(only.Passes("notes.TXT", 1, 0));
  EXPECT_TRUE(only.Passes("archive.tar.gz", 1, 0));
  EXPECT_FALSE(only.Passes("archive.gz.tar", 1, 0));
  EXPECT_FALSE(only.Passes("notes.txt2", 1, 0));
  EXPECT_FALSE(only.Passes("file.", 1, 0));
  EXPECT_TRUE(only.Passes("Makefile", 1, 0));  // no dot: passes either way
  EXPECT_TRUE(only.Passes(".txt", 1, 0));
  // A dot in a folder name is not the file's extension.
  EXPECT_TRUE(only.Passes("C:\\dir.gz\\README", 1, 0));
  EXPECT_FALSE(only.Passes("/tmp/x.txt/file.bin", 1, 0));
  EXPECT_EQ(only.Check("a.bin", 1, 0), FILTER_SKIP_TYPE);

  const CDefragFilter none = CDefragFilter::Types(OnlyTypes, {});
  EXPECT_FALSE(none.Passes("a.txt", 1, 0));
  EXPECT_TRUE(none.Passes("README", 1, 0));

  const CDefragFilter exclude = CDefragFilter::Types(ExcludeTypes, {".tmp"});
  EXPECT_EQ(exclude.Check("x.TMP", 1, 0), FILTER_SKIP_TYPE);
  EXPECT_TRUE(exclude.Passes("x.tmp.bak", 1, 0));
  EXPECT_TRUE(exclude.Passes("tmp", 1, 0));
  EXPECT_TRUE(CDefragFilter::Types(ExcludeTypes, {}).Passes("x.tmp", 1, 0));
}

TEST(CustomDefragSettings, TypeListFormat) {
  EXPECT_EQ(ReadTypeList(".txt,.doc,"), (std::vector<std::string>{".txt", ".doc"}));
  EXPECT_EQ(ReadTypeList(".txt,.doc"), (std::vector<std::string>{".txt"}));  // no last comma
  EXPECT_EQ(ReadTypeList(".a,,.b,"), (std::vector<std::string>{".a"}));      // stops at empty
  EXPECT_TRUE(ReadTypeList(",.a,").empty());
  EXPECT_TRUE(ReadTypeList("").empty());
  const std::string longEntry = "." + std::string(400, 'x');
  const auto cut = ReadTypeList(longEntry + ",.b,");
  ASSERT_EQ(cut.size(), 2u);
  EXPECT_EQ(cut[0], longEntry.substr(0, 259));
  EXPECT_EQ(cut[1], ".b");
  // Ten thousand entries: every one is read (up to what the text buffer holds).
  std::string many;
  for (int i = 0; i < 10000; ++i) many += ".e" + std::to_string(i) + ",";
  EXPECT_EQ(ReadTypeList(many).size(), 10000u);
}

TEST(CustomDefragSettings, WorkerMapping) {
  CScratchFolder folder;
  SettingsFile settings(folder.File("Vantrel.ini"));
  EXPECT_EQ(ReadDefragFilter(settings).m_kind, AllFiles);

  settings.SetInt("CustomDefragByFileType", 2140);
  EXPECT_EQ(ReadDefragFilter(settings).m_kind, BySize);
  // No size stored means the first choice, as the page shows it; a
  // threshold of 0 would skip every file.
  EXPECT_EQ(ReadDefragFilter(settings).m_nSizeThreshold, 10485760u);
  settings.SetInt("IgnoreFilesGreaterThanSize", 52428800);
  EXPECT_EQ(ReadDefragFilter(settings).m_nSizeThreshold, 52428800u);
  settings.SetInt("IgnoreFilesGreaterThanSize", 1);
  EXPECT_EQ(ReadDefragFilter(settings).m_nSizeThreshold, 1u);
  for (const char* none : {"-5", "0", "lots"}) {
    settings.SetString("IgnoreFilesGreaterThanSize", none);
    EXPECT_EQ(ReadDefragFilter(settings).m_nSizeThreshold, 10485760u) << none;
  }

  settings.SetInt("CustomDefragByFileType", 2141);
  EXPECT_EQ(ReadDefragFilter(settings).m_kind, ByPercent);
  EXPECT_EQ(ReadDefragFilter(settings).m_dPercentThreshold, 0.0);
  settings.SetInt("ByFragmentationPercentage", 35);
  EXPECT_EQ(ReadDefragFilter(settings).m_dPercentThreshold, 35.0);
  settings.SetInt("ByFragmentationPercentage", 150);
  EXPECT_EQ(ReadDefragFilter(settings).m_dPercentThreshold, 0.0);

  settings.SetString("CustomFileTypeInclude", ".txt,.log,");
  settings.SetString("CustomFileTypeIgnore", ".tmp,");
  settings.SetInt("CustomDefragByFileType", 2169);
  CDefragFilter filter = ReadDefragFilter(settings);
  EXPECT_EQ(filter.m_kind, OnlyTypes);
  EXPECT_EQ(filter.m_types, (std::vector<std::string>{".txt", ".log"}));
  settings.SetInt("CustomDefragByFileType", 2170);
  filter = ReadDefragFilter(settings);
  EXPECT_EQ(filter.m_kind, ExcludeTypes);
  EXPECT_EQ(filter.m_types, (std::vector<std::string>{".tmp"}));

  for (int other : {0, 2138, 2142, 2171, -1}) {
    settings.SetInt("CustomDefragByFileType", other);
    EXPECT_EQ(ReadDefragFilter(settings).m_kind, AllFiles) << other;
  }
  settings.SetString("CustomDefragByFileType", "2140x");
  EXPECT_EQ(ReadDefragFilter(settings).m_kind, AllFiles);
}

TEST(CustomDefragPage, LoadsWithThePagesDefaults) {
  CScratchFolder folder;
  SettingsFile settings(folder.File("Vantrel.ini"));
  CCustomDefragOptions page;
  page.Load(settings);
  EXPECT_EQ(page.Option(), kFilterOptionAll);
  EXPECT_EQ(page.Percent(), 50);
  EXPECT_EQ(page.SizeIndex(), 0u);
  EXPECT_STREQ(kSizeEntries[page.SizeIndex()].m_pszText, "Defrag files < 10 MB");
  EXPECT_FALSE(page.TypeListEnabled());
  EXPECT_EQ(kSizeEntries[4].m_nBytes, 1048576000u);

  settings.SetInt("IgnoreFilesGreaterThanSize", 524288000);
  settings.SetInt("ByFragmentationPercentage", 0);
  settings.SetInt("CustomDefragByFileType", 2141);
  page.Load(settings);
  EXPECT_EQ(page.SizeIndex(), 3u);
  EXPECT_EQ(page.Percent(), 0);
  EXPECT_EQ(page.Option(), 2141);

  settings.SetInt("IgnoreFilesGreaterThanSize", 12345);  // no entry of its own: the first
  settings.SetInt("CustomDefragByFileType", 4242);    // no option of its own: all files
  settings.SetInt("ByFragmentationPercentage", -3);
  page.Load(settings);
  EXPECT_EQ(page.SizeIndex(), 0u);
  EXPECT_EQ(page.Option(), kFilterOptionAll);
  EXPECT_EQ(page.Percent(), 50);
}

TEST(CustomDefragPage, EachTypeOptionKeepsItsOwnList) {
  CScratchFolder folder;
  SettingsFile settings(folder.File("Vantrel.ini"));
  settings.SetString("CustomFileTypeInclude", ".txt,.doc,");
  settings.SetString("CustomFileTypeIgnore", ".tmp,");
  CCustomDefragOptions page;
  page.Load(settings);
  EXPECT_TRUE(page.Types().empty());  // nothing loaded for "All files"
  EXPECT_FALSE(page.AddType(".x"));   // the list is disabled

  page.ChooseOption(kFilterOptionOnlyTypes, settings);
  EXPECT_TRUE(page.TypeListEnabled());
  EXPECT_EQ(page.Types(), (std::vector<std::string>{".txt", ".doc"}));
  page.ChooseOption(kFilterOptionExcludeTypes, settings);
  EXPECT_EQ(page.Types(), (std::vector<std::string>{".tmp"}));
  page.ChooseOption(kFilterOptionSize, settings);
  EXPECT_FALSE(page.TypeListEnabled());
  page.ChooseOption(9999, settings);
  EXPECT_EQ(page.Option(), kFilterOptionSize);
}

TEST(CustomDefragPage, AddingAndRemovingTypes) {
  CScratchFolder folder;
  SettingsFile settings(folder.File("Vantrel.ini"));
  settings.SetInt("CustomDefragByFileType", kFilterOptionOnlyTypes);
  CCustomDefragOptions page;
  page.Load(settings);
  EXPECT_FALSE(page.AddType(""));
  EXPECT_FALSE(page.AddType("   "));
  EXPECT_TRUE(page.AddType("cpp"));
  EXPECT_EQ(page.Types().back(), ".cpp");
  EXPECT_EQ(page.SelectedType(), 0);
  EXPECT_FALSE(page.AddType(".CPP"));  // already listed
  EXPECT_TRUE(page.AddType(".c"));     // a prefix of a listed entry is its own type
  EXPECT_TRUE(page.AddType(" .h "));
  EXPECT_EQ(page.SelectedType(), 2);
  EXPECT_FALSE(page.AddType(".a,b"));  // would split in the stored list
  EXPECT_FALSE(page.AddType("." + std::string(259, 'x')));
  EXPECT_EQ(page.Types(), (std::vector<std::string>{".cpp", ".c", ".h"}));

  page.SelectType(0);
  EXPECT_TRUE(page.RemoveSelectedType());
  EXPECT_EQ(page.Types(), (std::vector<std::string>{".c", ".h"}));
  EXPECT_EQ(page.SelectedType(), 1);  // the last entry left
  page.SelectType(7);
  EXPECT_FALSE(page.RemoveSelectedType());
  page.SelectType(1);
  EXPECT_TRUE(page.RemoveSelectedType());
  page.SelectType(0);
  EXPECT_TRUE(page.RemoveSelectedType());
  EXPECT_EQ(page.SelectedType(), -1);
  EXPECT_FALSE(page.RemoveSelectedType());
}

TEST(CustomDefragPage, SavesWhatTheWorkerReads) {
  CScratchFolder folder;
  SettingsFile settings(folder.File("Vantrel.ini"));
  settings.SetString("CustomFileTypeIgnore", ".keep,");
  CCustomDefragOptions page;
  page.Load(settings);
  page.ChooseOption(kFilterOptionOnlyTypes, settings);
  ASSERT_TRUE(page.AddType(".TXT"));
  ASSERT_TRUE(page.AddType("log"));
  page.SelectSize(2);
  page.SelectSize(99);  // ignored
  EXPECT_EQ(page.SetPercent(120), "99 %");
  EXPECT_EQ(page.SetPercent(-4), "0 %");
  EXPECT_EQ(page.SetPercent(35), "35 %");
  ASSERT_TRUE(page.Save(settings));

  EXPECT_EQ(settings.GetInt("ByFragmentationPercentage", -1), 35);
  EXPECT_EQ(settings.GetInt("IgnoreFilesGreaterThanSize", -1), 104857600);
  EXPECT_EQ(settings.GetInt("CustomDefragByFileType", -1), 2169);
  EXPECT_EQ(settings.GetString("CustomFileTypeInclude"), ".TXT,.log,");
  EXPECT_EQ(settings.GetString("CustomFileTypeIgnore"), ".keep,");  // not the chosen option's key

  const CDefragFilter filter = ReadDefragFilter(settings);
  EXPECT_TRUE(filter.Passes("a.txt", 1, 0));
  EXPECT_FALSE(filter.Passes("a.keep", 1, 0));

  // An emptied list is stored as empty and filters everything with a dot.
  page.SelectType(0);
  page.RemoveSelectedType();
  page.RemoveSelectedType();
  ASSERT_TRUE(page.Save(settings));
  EXPECT_EQ(settings.GetString("CustomFileTypeInclude", "x"), "");
  EXPECT_FALSE(ReadDefragFilter(settings).Passes("a.txt", 1, 0));

  // Size and degree options leave both lists alone.
  page.ChooseOption(kFilterOptionPercent, settings);
  ASSERT_TRUE(page.Save(settings));
  EXPECT_EQ(settings.GetString("CustomFileTypeIgnore"), ".keep,");
  EXPECT_EQ(ReadDefragFilter(settings).m_dPercentThreshold, 35.0);
}

class CFakeClassKeys : public IClassKeySource {
 public:
  explicit CFakeClassKeys(std::vector<std::string> names) : m_names(std::move(names)) {}
  LONG EnumKey(DWORD index, std::string* name) override {
    if (index >= m_names.size()) return ERROR_NO_MORE_ITEMS;
    if (m_names[index].size() >= 80) return ERROR_MORE_DATA;
    *name = m_names[index];
    return ERROR_SUCCESS;
  }
  std::vector<std::string> m_names;
};

TEST(CustomDefragPage, MakeRoomIsOnUnlessTurnedOffAndReachesTheWorker) {
  CScratchFolder folder;
  SettingsFile settings(folder.File("Vantrel.ini"));
  EXPECT_TRUE(ReadDefragFilter(settings).m_bMakeRoom);
  CCustomDefragOptions page;
  page.Load(settings);
  EXPECT_TRUE(page.MakeRoom());
  page.SetMakeRoom(false);
  ASSERT_TRUE(page.Save(settings));
  EXPECT_EQ(settings.GetInt("MakeRoomForLargeFiles", -1), 0);
  // Each filter kind keeps the choice.
  settings.SetCustomDefragByFileType(kFilterOptionSize);
  EXPECT_FALSE(ReadDefragFilter(settings).m_bMakeRoom);
  CCustomDefragOptions again;
  again.Load(settings);
  EXPECT_FALSE(again.MakeRoom());
  // Only 0 turns it off.
  settings.SetInt("MakeRoomForLargeFiles", 7);
  EXPECT_TRUE(ReadDefragFilter(settings).m_bMakeRoom);
}

TEST(CustomDefragPage, KnownExtensionsAreTheDottedBlock) {
  CFakeClassKeys keys({"*", "AllFilesystemObjects", ".bat", "." + std::string(90, 'l'), ".exe",
                       "batfile", ".late"});
  EXPECT_EQ(KnownExtensions(keys), (std::vector<std::string>{".bat", ".exe"}));
  CFakeClassKeys onlyDots({".a", ".b"});
  EXPECT_EQ(KnownExtensions(onlyDots), (std::vector<std::string>{".a", ".b"}));
  CFakeClassKeys noDots({"x", "y"});
  EXPECT_TRUE(KnownExtensions(noDots).empty());
}

}  // namespace
}  // namespace vt
