#include "app/settings_file.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "settings_test_util.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vt {
namespace {

using testing_util::CScratchFolder;
using testing_util::ReadBytes;
using testing_util::WriteBytes;

TEST(SettingsFile, MissingFileGivesEveryReadersDefault) {
  CScratchFolder folder;
  const SettingsFile settings(folder.File("Vantrel.ini"));
  EXPECT_EQ(settings.GetInt("BlockSize", 7), 7);
  EXPECT_EQ(settings.GetInt("SaveLogFiles", 1), 1);
  EXPECT_EQ(settings.GetInt("Processors", -1), -1);
  EXPECT_EQ(settings.GetInt("ProcessorPriority", 0), 0);
  EXPECT_EQ(settings.GetInt("DefragFreeMode", 2), 2);
  EXPECT_EQ(settings.GetInt("DefragFileMode", 0), 0);
  EXPECT_EQ(settings.GetString("SelectedDrives"), "");
  EXPECT_EQ(settings.GetString("AutoDefragAccount", "x"), "x");
  EXPECT_EQ(folder.EntryCount(), 0u);  // reading creates nothing
}

TEST(SettingsFile, WritesAsTheProgramStoresValues) {
  CScratchFolder folder;
  SettingsFile settings(folder.File("Vantrel.ini"));
  ASSERT_TRUE(settings.SetInt("BlockSize", 3));
  ASSERT_TRUE(settings.SetInt("Processors", -1));
  ASSERT_TRUE(settings.SetString("SelectedDrives", "C:\\,D:\\,"));
  ASSERT_TRUE(settings.SetString("AutoDefragAccount", "  two blanks  "));
  ASSERT_TRUE(settings.SetString("AutoDefragPassword", ""));
  ASSERT_TRUE(settings.SetInt("BlockSize", 4));
  EXPECT_EQ(ReadBytes(settings.Path()),
            "[Settings]\r\nBlockSize=4\r\nProcessors=-1\r\nSelectedDrives=\"C:\\,D:\\,\"\r\n"
            "AutoDefragAccount=\"  two blanks  \"\r\nAutoDefragPassword=\"\"\r\n");
  EXPECT_EQ(settings.GetInt("blocksize", 7), 4);
  EXPECT_EQ(settings.GetString("AutoDefragAccount"), "  two blanks  ");
  EXPECT_EQ(settings.GetString("AutoDefragPassword", "x"), "");
  EXPECT_EQ(folder.EntryCount(), 1u);  // no temporary file left behind
}

TEST(SettingsFile, TextRoundTripsExceptLineBreaks) {
  CScratchFolder folder;
  SettingsFile settings(folder.File("Vantrel.ini"));
  for (const std::string text : {"\"", "\"quoted\"", "'single'", "a\"b", " = [x] ; y ", "\t"}) {
    ASSERT_TRUE(settings.SetString("AutoDefragAccount", text));
    EXPECT_EQ(settings.GetString("AutoDefragAccount"), text);
  }
  for (const std::string& text :
       {std::string("a\nb"), std::string("a\rb"), std::string("a\0b", 3)}) {
    EXPECT_FALSE(settings.SetString("AutoDefragAccount", text));
    EXPECT_FALSE(settings.LastError().empty());
  }
  EXPECT_EQ(settings.GetString("AutoDefragAccount"), "\t");
  EXPECT_FALSE(settings.SetInt("Bad=Key", 1));
  EXPECT_FALSE(settings.SetInt("[Position]", 1));
  EXPECT_FALSE(settings.SetInt("", 1));
}

TEST(SettingsFile, OddValuesGiveTheDefault) {
  CScratchFolder folder;
  const std::string path = folder.File("Vantrel.ini");
  WriteBytes(path,
             "[Settings]\n"
             "A=abc\nB=12abc\nC=99999999999\nD=-2147483649\nE=2147483648\nF=\nG= -12 \n"
             "H=\"42\"\nI='5'\nJ=+8\nK=0x10\nL=--1\nM=-\nN=4294967295\nO=-1\n");
  const SettingsFile settings(path);
  struct Case {
    const char* key;
    int asInt;
    uint32_t asUInt;
  } cases[] = {
      {"A", 77, 77},  {"B", 77, 77},          {"C", 77, 77},
      {"D", 77, 77},  {"E", 77, 2147483648u}, {"F", 77, 77},
      {"G", -12, 77}, {"H", 42, 42},          {"I", 5, 5},
      {"J", 8, 8},    {"K", 77, 77},          {"L", 77, 77},
      {"M", 77, 77},  {"N", 77, 4294967295u}, {"O", -1, 77},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(settings.GetInt(c.key, 77), c.asInt) << c.key;
    EXPECT_EQ(settings.GetUInt(c.key, 77), c.asUInt) << c.key;
  }
}

TEST(SettingsFile, LongValuesAreCutAtTheBuffer) {
  CScratchFolder folder;
  SettingsFile settings(folder.File("Vantrel.ini"));
  const std::string longText(10000, 'x');
  ASSERT_TRUE(settings.SetString("CustomFileTypeInclude", longText));
  EXPECT_EQ(settings.GetString("CustomFileTypeInclude"), std::string(4095, 'x'));
  std::string value;
  ASSERT_TRUE(settings.ReadValue(kSettingsSection, "CustomFileTypeInclude", 10, &value));
  EXPECT_EQ(value, std::string(9, 'x'));
}

TEST(SettingsFile, CommaTerminatedLists) {
  EXPECT_EQ(SplitTerminatedList("C:\\,D:\\,"), (std::vector<std::string>{"C:\\", "D:\\"}));
  EXPECT_EQ(SplitTerminatedList("C:\\,D:\\"), (std::vector<std::string>{"C:\\"}));
  EXPECT_EQ(SplitTerminatedList("2,,3,"), (std::vector<std::string>{"2", "", "3"}));
  EXPECT_TRUE(SplitTerminatedList("").empty());
  EXPECT_EQ(JoinTerminatedList({"0", "2"}), "0,2,");
  EXPECT_EQ(JoinTerminatedList({}), "");
}

TEST(SettingsFile, UnusableFilesGiveDefaultsAndAreNotOverwritten) {
  CScratchFolder folder;
  // A folder where the file should be.
  const std::string dirPath = folder.File("Vantrel.ini");
  std::filesystem::create_directory(dirPath);
  SettingsFile dir(dirPath);
  EXPECT_EQ(dir.GetInt("BlockSize", 7), 7);
  EXPECT_FALSE(dir.SetInt("BlockSize", 3));
  EXPECT_NE(dir.LastError().find("folder"), std::string::npos) << dir.LastError();
  EXPECT_TRUE(std::filesystem::is_directory(dirPath));

  // Far larger than any settings file: neither read nor replaced.
  const std::string bigPath = folder.File("big.ini");
  std::string big = "[Settings]\r\nBlockSize=3\r\n";
  big.append(kMaxSettingsFileBytes, ';');
  WriteBytes(bigPath, big);
  SettingsFile huge(bigPath);
  EXPECT_EQ(huge.GetInt("BlockSize", 7), 7);
  EXPECT_FALSE(huge.SetInt("BlockSize", 4));
  EXPECT_EQ(std::filesystem::file_size(bigPath), big.size());

  // UTF-16 text with characters we cannot carry is left as it is.
  const std::string widePath = folder.File("wide.ini");
  const std::string wide("\xFF\xFE[\0S\0]\0\r\0\n\0k\0=\0\x3A\x26\r\0\n\0", 22);
  WriteBytes(widePath, wide);
  SettingsFile lossy(widePath);
  EXPECT_FALSE(lossy.SetInt("k", 1));
  EXPECT_EQ(ReadBytes(widePath), wide);

  // A missing folder: the write fails and says why.
  SettingsFile nowhere(folder.File("no/such/Vantrel.ini"));
  EXPECT_FALSE(nowhere.SetInt("BlockSize", 3));
  EXPECT_FALSE(nowhere.LastError().empty());

  // No settings folder at all.
  SettingsFile none{std::string()};
  EXPECT_EQ(none.GetInt("BlockSize", 7), 7);
  EXPECT_FALSE(none.SetInt("BlockSize", 3));
}

TEST(SettingsFile, GarbageAndTruncatedFiles) {
  CScratchFolder folder;
  const std::string path = folder.File("Vantrel.ini");
  std::string garbage;
  uint32_t seed = 12345;
  for (int i = 0; i < 200000; ++i) {
    seed = seed * 1103515245 + 12345;
    garbage.push_back(static_cast<char>(seed >> 24));
  }
  WriteBytes(path, garbage);
  SettingsFile settings(path);
  EXPECT_EQ(settings.GetInt("BlockSize", 7), 7);
  EXPECT_EQ(settings.GetString("SelectedDrives", "d"), "d");
  // The garbage is kept; the key is added and read back.
  ASSERT_TRUE(settings.SetInt("BlockSize", 2));
  EXPECT_EQ(settings.GetInt("BlockSize", 7), 2);
  EXPECT_EQ(ReadBytes(path).compare(0, garbage.size(), garbage), 0);

  // A file cut in the middle of its last line.
  WriteBytes(path, "[Settings]\r\nSaveLogFiles=0\r\nBlockSi");
  EXPECT_EQ(settings.GetInt("SaveLogFiles", 1), 0);
  EXPECT_EQ(settings.GetInt("BlockSize", 7), 7);
  WriteBytes(path, "[Settings]\r\nSelectedDrives=\"C:\\,D:");
  EXPECT_EQ(settings.GetString("SelectedDrives"), "\"C:\\,D:");
  EXPECT_EQ(SplitTerminatedList(settings.GetString("SelectedDrives")).size(), 1u);
}

TEST(SettingsFile, ThreadsWritingAtOnceKeepEveryKey) {
  CScratchFolder folder;
  const std::string path = folder.File("Vantrel.ini");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &path] {
      SettingsFile settings(path);
      for (int i = 0; i < 25; ++i) settings.SetInt(("Key" + std::to_string(t)).c_str(), i);
    });
  }
  for (auto& thread : threads) thread.join();
  const SettingsFile settings(path);
  for (int t = 0; t < 4; ++t)
    EXPECT_EQ(settings.GetInt(("Key" + std::to_string(t)).c_str(), -1), 24);
  EXPECT_EQ(folder.EntryCount(), 1u);
}

TEST(SettingsFile, ReaderSeesOldOrNewFileNeverAPart) {
  CScratchFolder folder;
  const std::string path = folder.File("Vantrel.ini");
  SettingsFile writer(path);
  // A long value makes a torn write visible as a value of the wrong length.
  const std::string a(3000, 'a');
  const std::string b(2000, 'b');
  ASSERT_TRUE(writer.SetString("AutoDefragAccount", a));
  std::atomic<bool> done{false};
  std::atomic<int> bad{0};
  std::atomic<int> reads{0};
  std::thread reader([&] {
    const SettingsFile settings(path);
    while (!done) {
      const std::string v = settings.GetString("AutoDefragAccount", "missing");
      if (v != a && v != b) ++bad;
      ++reads;
    }
  });
  for (int i = 0; i < 200; ++i) EXPECT_TRUE(writer.SetString("AutoDefragAccount", i % 2 ? a : b));
  done = true;
  reader.join();
  EXPECT_EQ(bad.load(), 0) << "of " << reads.load() << " reads";
}

#ifndef _WIN32

TEST(SettingsFile, KeepsModeAndLinksAndStartsPrivate) {
  CScratchFolder folder;
  const std::string path = folder.File("Vantrel.ini");
  SettingsFile settings(path);
  ASSERT_TRUE(settings.SetString("AutoDefragPassword", "secret"));
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);  // it may hold a password
  ::chmod(path.c_str(), 0640);
  ASSERT_TRUE(settings.SetInt("BlockSize", 2));
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  const std::string link = folder.File("link.ini");
  ASSERT_EQ(::symlink(path.c_str(), link.c_str()), 0);
  SettingsFile viaLink(link);
  ASSERT_TRUE(viaLink.SetInt("BlockSize", 9));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(settings.GetInt("BlockSize", 7), 9);
}

TEST(SettingsFile, UserFileLivesInTheConfigurationFolder) {
  CScratchFolder folder;
  const char* old = std::getenv("XDG_CONFIG_HOME");
  const std::string saved = old ? old : "";
  ::setenv("XDG_CONFIG_HOME", folder.Path().string().c_str(), 1);
  SettingsFile settings;
  if (old)
    ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  else
    ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(settings.Path(), folder.File("Norvane Utilities/Vantrel/Vantrel.ini"));
  // Building the path makes both folders.
  EXPECT_TRUE(std::filesystem::is_directory(folder.File("Norvane Utilities/Vantrel")));
  EXPECT_TRUE(settings.SetInt("BlockSize", 5));
}

#endif

}  // namespace
}  // namespace vt
