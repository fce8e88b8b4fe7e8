// The settings file against the system's own initialisation-file service:
// what one writes the other reads, and both write the same bytes.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "../settings/settings_test_util.h"
#include "app/settings_file.h"

namespace vt {
namespace {

using testing_util::CScratchFolder;
using testing_util::ReadBytes;
using testing_util::WriteBytes;

const char kAbsent[] = "<absent>";

// What the service reads: the value, or kAbsent.
std::string ServiceRead(const std::string& path, const std::string& section,
                        const std::string& key) {
  char buffer[kTextBufferChars];
  ::GetPrivateProfileStringA(section.c_str(), key.c_str(), kAbsent, buffer, sizeof(buffer),
                             path.c_str());
  return buffer;
}

std::string OurRead(const std::string& path, const std::string& section, const std::string& key) {
  std::string value;
  if (!SettingsFile(path).ReadValue(section.c_str(), key.c_str(), kTextBufferChars, &value))
    return kAbsent;
  return value;
}

struct CWrite {
  const char* section;
  const char* key;
  std::string value;
};

const std::vector<CWrite>& Writes() {
  static const std::vector<CWrite> writes = {
      {"Settings", "BlockSize", "7"},
      {"Position", "Vantrel", "10,20,800,600"},
      {"Settings", "SelectedDrives", "\"C:\\,D:\\,\""},
      {"Settings", "AutoDefragAccount", "\"  padded  \""},
      {"Settings", "AutoDefragPassword", "\"\""},
      {"Settings", "Processors", "-1"},
      {"Settings", "BlockSize", "3"},    // rewritten in place
      {"Settings", "Processors", "-1"},  // the same value again
      {"Position", "Vantrel", "0,0,640,480"},
      {"Settings", "AutoDefragStartTime", "\"3,0,0,\""},
  };
  return writes;
}

TEST(ProfileInterop, BothWriteTheSameBytes) {
  CScratchFolder folder;
  const std::string ours = folder.File("ours.ini");
  const std::string theirs = folder.File("theirs.ini");
  SettingsFile settings(ours);
  for (const auto& w : Writes()) {
    ASSERT_TRUE(settings.WriteValue(w.section, w.key, w.value)) << settings.LastError();
    ASSERT_TRUE(::WritePrivateProfileStringA(w.section, w.key, w.value.c_str(), theirs.c_str()));
    EXPECT_EQ(ReadBytes(ours), ReadBytes(theirs)) << "after " << w.section << "." << w.key;
  }
}

TEST(ProfileInterop, ServiceReadsWhatWeWrite) {
  CScratchFolder folder;
  const std::string path = folder.File("Vantrel.ini");
  SettingsFile settings(path);
  ASSERT_TRUE(settings.SetInt("BlockSize", 9));
  ASSERT_TRUE(settings.SetInt("Processors", -1));
  ASSERT_TRUE(settings.SetInt("IgnoreFilesGreaterThanSize", 1048576000));
  ASSERT_TRUE(settings.SetString("AutoDefragAccount", "  blanks both sides  "));
  ASSERT_TRUE(settings.SetString("AutoDefragPassword", ""));
  ASSERT_TRUE(settings.SetString("SelectedDrives", "C:\\,E:\\,"));
  ASSERT_TRUE(settings.SetString("CustomFileTypeInclude", "\"quoted\""));
  CWindowRect rect{-8, 12, 1000, 700};
  ASSERT_TRUE(settings.WriteValue(kPositionSection, kPositionKey, FormatWindowRect(rect)));

  const char* p = path.c_str();
  EXPECT_EQ(::GetPrivateProfileIntA("Settings", "BlockSize", 7, p), 9u);
  EXPECT_EQ(static_cast<int>(::GetPrivateProfileIntA("Settings", "Processors", 0, p)), -1);
  EXPECT_EQ(::GetPrivateProfileIntA("Settings", "IgnoreFilesGreaterThanSize", 0, p), 1048576000u);
  EXPECT_EQ(::GetPrivateProfileIntA("Settings", "SaveLogFiles", 1, p), 1u);
  EXPECT_EQ(ServiceRead(path, "Settings", "AutoDefragAccount"), "  blanks both sides  ");
  EXPECT_EQ(ServiceRead(path, "Settings", "AutoDefragPassword"), "");
  EXPECT_EQ(ServiceRead(path, "Settings", "SelectedDrives"), "C:\\,E:\\,");
  EXPECT_EQ(ServiceRead(path, "Settings", "CustomFileTypeInclude"), "\"quoted\"");
  EXPECT_EQ(ServiceRead(path, "Position", "Vantrel"), "-8,12,1000,700");
  EXPECT_EQ(ServiceRead(path, "Missing", "BlockSize"), kAbsent);
}

TEST(ProfileInterop, WeReadWhatTheServiceWrites) {
  CScratchFolder folder;
  const std::string path = folder.File("Vantrel.ini");
  const char* p = path.c_str();
  ASSERT_TRUE(::WritePrivateProfileStringA("Settings", "BlockSize", "4", p));
  ASSERT_TRUE(::WritePrivateProfileStringA("Settings", "AutoDefragAccount", "\" x \"", p));
  ASSERT_TRUE(::WritePrivateProfileStringA("Settings", "AutoDefragDrives", "\"2,3,\"", p));
  ASSERT_TRUE(::WritePrivateProfileStringA("Settings", "Empty", "", p));
  ASSERT_TRUE(::WritePrivateProfileStringA("Position", "Vantrel", "1,2,300,400", p));
  const SettingsFile settings(path);
  EXPECT_EQ(settings.GetInt("BlockSize", 7), 4);
  EXPECT_EQ(settings.GetString("AutoDefragAccount"), " x ");
  EXPECT_EQ(SplitTerminatedList(settings.GetString("AutoDefragDrives")),
            (std::vector<std::string>{"2", "3"}));
  EXPECT_EQ(settings.GetString("Empty", "d"), "");
  EXPECT_EQ(settings.GetInt("Empty", 5), 5);
  std::string position;
  ASSERT_TRUE(settings.ReadValue(kPositionSection, kPositionKey, kPositionBufferChars, &position));
  EXPECT_EQ(position, "1,2,300,400");
}

// Files as people and other programs leave them.
const std::vector<std::pair<const char*, std::string>>& OddFiles() {
  static const std::vector<std::pair<const char*, std::string>> files = {
      {"blanks",
       "  [Settings]  \r\n\t BlockSize \t=\t 5 \t\r\n  Text =  \"  a  \"   \r\n"
       "Single='b'\r\nHalf=\"c\r\nInner=\"d\"e\"\r\n"},
      {"duplicate keys", "[Settings]\r\nBlockSize=1\r\nblocksize=2\r\nBLOCKSIZE=3\r\n"},
      {"duplicate sections",
       "[Settings]\r\nBlockSize=1\r\n[Position]\r\nVantrel=1,2,3,4\r\n[settings]\r\n"
       "BlockSize=2\r\nText=late\r\n"},
      {"missing section", "[Position]\r\nVantrel=1,2,3,4\r\n"},
      {"no equals", "[Settings]\r\nBlockSize\r\nBlockSize=3\r\nText\r\n"},
      {"comments", "; [Settings]\r\n;BlockSize=1\r\n[Settings]\r\n;Text=x\r\nBlockSize=4\r\n"},
      {"line ends", "[Settings]\nBlockSize=5\rText=\"t\"\n\n\r\n[Position]\rVantrel=9,9,99,99"},
      {"empty values", "[Settings]\r\nBlockSize=\r\nText=\"\"\r\nSingle=''\r\nHalf=\"\r\n"},
      {"odd headers", "[Settings] trailing\r\nBlockSize=6\r\n[Position\r\nVantrel=1,1,2,2\r\n"},
      {"before any section", "BlockSize=1\r\n\r\n[Settings]\r\nText=x\r\n"},
      {"utf-8 mark", "\xEF\xBB\xBF[Settings]\r\nBlockSize=8\r\nText=\"u\"\r\n"},
      {"dos end of file", "[Settings]\r\nBlockSize=2\x1a\r\nText=\x1a y \x1a\r\n"},
      {"empty", ""},
      {"just a header", "[Settings]"},
  };
  return files;
}

const std::vector<std::pair<const char*, const char*>> kLookups = {
    {"Settings", "BlockSize"}, {"Settings", "Text"},  {"Settings", "Single"},
    {"Settings", "Half"},      {"Settings", "Inner"}, {"Position", "Vantrel"},
    {"Settings", "NewKey"},    {"Fresh", "Key"},
};

void ExpectSameReads(const std::string& path, const std::string& what) {
  for (const auto& l : kLookups)
    EXPECT_EQ(OurRead(path, l.first, l.second), ServiceRead(path, l.first, l.second))
        << what << ": " << l.first << "." << l.second;
}

TEST(ProfileInterop, OddFilesReadAlike) {
  CScratchFolder folder;
  int n = 0;
  for (const auto& file : OddFiles()) {
    const std::string path = folder.File("odd" + std::to_string(n++) + ".ini");
    WriteBytes(path, file.second);
    ExpectSameReads(path, file.first);
  }
}

TEST(ProfileInterop, OddFilesEditAlike) {
  CScratchFolder folder;
  const std::vector<CWrite> edits = {
      {"Settings", "BlockSize", "9"},
      {"Settings", "NewKey", "\"new\""},
      {"Fresh", "Key", "1"},
      {"Position", "Vantrel", "5,6,70,80"},
  };
  int n = 0;
  for (const auto& file : OddFiles()) {
    const std::string ours = folder.File("ours" + std::to_string(n) + ".ini");
    const std::string theirs = folder.File("theirs" + std::to_string(n++) + ".ini");
    WriteBytes(ours, file.second);
    WriteBytes(theirs, file.second);
    SettingsFile settings(ours);
    for (const auto& e : edits) {
      ASSERT_TRUE(settings.WriteValue(e.section, e.key, e.value)) << settings.LastError();
      ASSERT_TRUE(::WritePrivateProfileStringA(e.section, e.key, e.value.c_str(), theirs.c_str()));
    }
    // Each reader finds the same in both results.
    ExpectSameReads(ours, std::string(file.first) + " (ours)");
    ExpectSameReads(theirs, std::string(file.first) + " (theirs)");
    for (const auto& l : kLookups)
      EXPECT_EQ(OurRead(ours, l.first, l.second), OurRead(theirs, l.first, l.second))
          << file.first << ": " << l.first << "." << l.second;
  }
}

TEST(ProfileInterop, ServiceReadingWhileWeWrite) {
  CScratchFolder folder;
  const std::string path = folder.File("Vantrel.ini");
  SettingsFile writer(path);
  const std::string a(1500, 'a');
  const std::string b(900, 'b');
  ASSERT_TRUE(writer.SetString("AutoDefragAccount", a));
  std::atomic<bool> done{false};
  std::atomic<int> bad{0};
  std::atomic<int> reads{0};
  std::thread reader([&] {
    while (!done) {
      const std::string v = ServiceRead(path, "Settings", "AutoDefragAccount");
      if (v != a && v != b) ++bad;
      ++reads;
    }
  });
  int failed = 0;
  for (int i = 0; i < 100; ++i)
    if (!writer.SetString("AutoDefragAccount", i % 2 ? a : b)) ++failed;
  done = true;
  reader.join();
  EXPECT_EQ(failed, 0) << writer.LastError();
  EXPECT_EQ(bad.load(), 0) << "of " << reads.load() << " reads";
  EXPECT_EQ(folder.EntryCount(), 1u);
}

}  // namespace
}  // namespace vt
