#include "report/log_files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/recording.h"
#include "report/report_document.h"
#include "report/rtf_text.h"
#include "platform/settings_folder.h"
#include "report_test_util.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vt {
namespace {

size_t Count(const std::string& s, const std::string& what) {
  size_t n = 0;
  for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1)) ++n;
  return n;
}

class LogFilesTest : public ::testing::Test {
 protected:
  std::string Report(const std::string& action) {
    CReportDocument doc(clock);
    doc.AddHeading(action);
    doc.AddLine("Total time:", "00:00:07");
    return doc.Rtf();
  }
  CLogSave Save(const std::string& action) {
    CReportDocument doc(clock);
    doc.AddHeading(action);
    doc.AddLine("Total time:", "00:00:07");
    return logs.SaveReport(doc);
  }
  CFixedClock clock;
  CScratchFolder folder;
  CLogFiles logs{folder.Path(), clock};
};

TEST_F(LogFilesTest, FirstSaveOfTheDayHoldsExactlyTheDocument) {
  EXPECT_EQ(logs.TodaysLogName(), "2009-03-05.rtf");
  const CLogSave r = Save("Analyze Drive C:");
  EXPECT_EQ(r.m_result, LogSaveResult::Created);
  EXPECT_EQ(r.m_strPath, folder.File("2009-03-05.rtf"));
  EXPECT_EQ(r.m_strPath, logs.TodaysLogPath());
  EXPECT_EQ(ReadAll(r.m_strPath), Report("Analyze Drive C:"));
}

TEST_F(LogFilesTest, SecondSaveWritesTheBodyOverTheClosingBrace) {
  Save("Analyze Drive C:");
  const std::string first = ReadAll(logs.TodaysLogPath());
  const CLogSave r = Save("Defrag Drive C:");
  EXPECT_EQ(r.m_result, LogSaveResult::Appended);
  const std::string second = Report("Defrag Drive C:");
  const std::string body = second.substr(FindRtfControlWord(second, "cf1") - 1);
  const std::string stored = ReadAll(logs.TodaysLogPath());
  EXPECT_EQ(stored, first.substr(0, first.size() - 3) + body);
  // Still one document, reading as both reports.
  EXPECT_EQ(Count(stored, "{\\rtf1"), 1u);
  const std::string text = RtfToText(stored);
  EXPECT_NE(text.find("Action: Analyze Drive C:"), std::string::npos);
  EXPECT_NE(text.find("Action: Defrag Drive C:"), std::string::npos);
  EXPECT_EQ(Count(text, "Total time:\t00:00:07\n"), 2u);
  EXPECT_EQ(stored.substr(stored.size() - 3), "}\r\n");
}

TEST_F(LogFilesTest, ALogCutShortKeepsItsTextAndTheDayStaysOneFile) {
  // A log cut short (say by a crash while an older version wrote it).
  const std::string damaged = "{\\rtf1\\ansi cut short \\par\r\n";
  WriteAll(logs.TodaysLogPath(), damaged);
  CLogSave r = Save("Defrag Drive C:");
  EXPECT_EQ(r.m_result, LogSaveResult::Appended);
  EXPECT_EQ(r.m_strPath, logs.TodaysLogPath());
  const std::string stored = ReadAll(logs.TodaysLogPath());
  EXPECT_EQ(stored.compare(0, damaged.size(), damaged), 0);
  const std::string text = RtfToText(stored);
  EXPECT_NE(text.find("cut short"), std::string::npos);
  EXPECT_NE(text.find("Action: Defrag Drive C:"), std::string::npos);
  EXPECT_EQ(stored.substr(stored.size() - 3), "}\r\n");
  EXPECT_EQ(logs.ListLogs(), (std::vector<std::string>{"2009-03-05.rtf"}));
}

TEST_F(LogFilesTest, SplitFilesOfTheDayAreMergedInOrderAndRemoved) {
  WriteAll(logs.TodaysLogPath(), "{\\rtf1\\ansi first \\par\r\n");
  WriteAll(folder.File("2009-03-05_2.rtf"), Report("Analyze Drive V:"));
  WriteAll(folder.File("2009-03-05_3.rtf"), Report("Defrag Drive V:"));
  WriteAll(folder.File("2009-03-04.rtf"), "{\\rtf1 yesterday}\r\n");
  EXPECT_EQ(Save("Defrag free space V:").m_result, LogSaveResult::Appended);
  EXPECT_EQ(logs.ListLogs(), (std::vector<std::string>{"2009-03-04.rtf", "2009-03-05.rtf"}));
  const std::string stored = ReadAll(logs.TodaysLogPath());
  EXPECT_EQ(Count(stored, "{\\rtf1"), 1u);
  const std::string text = RtfToText(stored);
  const size_t a = text.find("first"), b = text.find("Analyze Drive V:"),
               c = text.find("Defrag Drive V:"), d = text.find("Defrag free space V:");
  ASSERT_NE(d, std::string::npos);
  EXPECT_TRUE(a < b && b < c && c < d) << text;
  EXPECT_EQ(ReadAll(folder.File("2009-03-04.rtf")), "{\\rtf1 yesterday}\r\n");
}

TEST_F(LogFilesTest, AFailedSaveLeavesTheLogAsItWas) {
  Save("Analyze Drive C:");
  const std::string before = ReadAll(logs.TodaysLogPath());
  // The temporary file cannot be made: a folder stands in its way.
  std::filesystem::create_directory(logs.TodaysLogPath() + ".tmp");
  EXPECT_EQ(Save("Defrag Drive C:").m_result, LogSaveResult::Failed);
  EXPECT_EQ(ReadAll(logs.TodaysLogPath()), before);
  std::filesystem::remove(logs.TodaysLogPath() + ".tmp");
  EXPECT_EQ(Save("Defrag Drive C:").m_result, LogSaveResult::Appended);
  EXPECT_FALSE(std::filesystem::exists(logs.TodaysLogPath() + ".tmp"));
}

TEST_F(LogFilesTest, ABraceWithABareLineFeedIsReplacedWhole) {
  WriteAll(logs.TodaysLogPath(), "{\\rtf1 old\\par\n}\n");
  EXPECT_EQ(Save("Defrag file").m_result, LogSaveResult::Appended);
  const std::string stored = ReadAll(logs.TodaysLogPath());
  EXPECT_EQ(stored.compare(0, 16, "{\\rtf1 old\\par\n\n"), 0);
  EXPECT_EQ(Count(stored, "}"), 1u);
}

TEST_F(LogFilesTest, EmptyReportsAndEmptyFiles) {
  CReportDocument empty(clock);
  EXPECT_EQ(logs.SaveReport(empty).m_result, LogSaveResult::Nothing);
  EXPECT_TRUE(logs.ListLogs().empty());
  WriteAll(logs.TodaysLogPath(), "");
  EXPECT_EQ(Save("Analyze Drive C:").m_result, LogSaveResult::Created);
  EXPECT_EQ(ReadAll(logs.TodaysLogPath()), Report("Analyze Drive C:"));
}

TEST_F(LogFilesTest, ALogThatCannotBeOpenedIsSkipped) {
  std::filesystem::create_directory(logs.TodaysLogPath());  // in the way of the file
  EXPECT_EQ(Save("Analyze Drive C:").m_result, LogSaveResult::Failed);
  EXPECT_FALSE(std::filesystem::exists(folder.File("2009-03-05_2.rtf")));
}

TEST_F(LogFilesTest, ListHoldsOnlyRtfFilesSorted) {
  WriteAll(folder.File("2009-03-05.rtf"), "x");
  WriteAll(folder.File("2008-12-31.rtf"), "x");
  WriteAll(folder.File("OLD.RTF"), "x");
  WriteAll(folder.File("notes.txt"), "x");
  WriteAll(folder.File("a.rtfx"), "x");
  std::filesystem::create_directory(folder.File("folder.rtf"));
  EXPECT_EQ(logs.ListLogs(),
            (std::vector<std::string>{"2008-12-31.rtf", "2009-03-05.rtf", "OLD.RTF"}));
  EXPECT_TRUE(logs.IsTodaysLog("2009-03-05.RTF"));
  EXPECT_FALSE(logs.IsTodaysLog("2008-12-31.rtf"));
  EXPECT_TRUE(CLogFiles(folder.File("missing"), clock).ListLogs().empty());
}

TEST_F(LogFilesTest, ReadingALogForViewing) {
  WriteAll(folder.File("2009-03-01.rtf"), "{\\rtf1 old}\r\n");
  WriteAll(folder.File("2009-03-02.rtf"), "");
  CScriptedPrompt prompt;
  std::string bytes;
  EXPECT_EQ(logs.ReadLogForViewing("2009-03-01.rtf", prompt, &bytes), LogReadResult::Ok);
  EXPECT_EQ(bytes, "{\\rtf1 old}\r\n");
  EXPECT_TRUE(IsRtfData(bytes));
  EXPECT_TRUE(prompt.Prompts().empty());
  EXPECT_EQ(logs.ReadLogForViewing("2009-03-02.rtf", prompt, &bytes), LogReadResult::Empty);
  ASSERT_EQ(prompt.Prompts().size(), 1u);
  EXPECT_EQ(prompt.Prompts()[0].text, folder.File("2009-03-02.rtf") + " is empty.");
  EXPECT_TRUE(prompt.Prompts()[0].type & MB_ICONERROR);
  // Missing files are skipped without a message; names must stay in the folder.
  EXPECT_EQ(logs.ReadLogForViewing("2009-03-03.rtf", prompt, &bytes), LogReadResult::Unreadable);
  EXPECT_EQ(logs.ReadLog("../2009-03-01.rtf", &bytes, nullptr), LogReadResult::BadName);
  EXPECT_EQ(logs.ReadLog("sub\\x.rtf", &bytes, nullptr), LogReadResult::BadName);
  EXPECT_EQ(logs.ReadLog("..", &bytes, nullptr), LogReadResult::BadName);
  EXPECT_EQ(prompt.Prompts().size(), 1u);
}

TEST_F(LogFilesTest, DeletingAllLogsAsksFirst) {
  WriteAll(folder.File("2009-03-01.rtf"), "a");
  WriteAll(folder.File("2009-03-02.rtf"), "b");
  WriteAll(folder.File("keep.txt"), "c");
  CScriptedPrompt prompt;
  prompt.Script(IDNO);
  EXPECT_EQ(logs.DeleteAllLogs(prompt), LogDeleteResult::Cancelled);
  EXPECT_EQ(logs.ListLogs().size(), 2u);
  ASSERT_EQ(prompt.Prompts().size(), 1u);
  EXPECT_EQ(prompt.Prompts()[0].text, "Delete all log files?");
  EXPECT_EQ(prompt.Prompts()[0].type, static_cast<UINT>(MB_YESNO));
  prompt.Script(IDYES);
  EXPECT_EQ(logs.DeleteAllLogs(prompt), LogDeleteResult::Deleted);
  EXPECT_TRUE(logs.ListLogs().empty());
  EXPECT_TRUE(std::filesystem::exists(folder.File("keep.txt")));
}

class RefusingLogs : public CLogFiles {
 public:
  using CLogFiles::CLogFiles;
  std::vector<std::string> attempts;

 protected:
  bool RemoveFile(const std::string& path) override {
    attempts.push_back(path);
    return false;
  }
};

TEST_F(LogFilesTest, AFailedDeletionNamesTheFileAndEndsTheLoop) {
  WriteAll(folder.File("2009-03-01.rtf"), "a");
  WriteAll(folder.File("2009-03-02.rtf"), "b");
  RefusingLogs refusing(folder.Path(), clock);
  CScriptedPrompt prompt;
  prompt.SetDefault(IDYES);
  EXPECT_EQ(refusing.DeleteAllLogs(prompt), LogDeleteResult::Failed);
  EXPECT_EQ(refusing.attempts.size(), 1u);
  ASSERT_EQ(prompt.Prompts().size(), 2u);
  EXPECT_EQ(prompt.Prompts()[1].text, "Could not delete file 2009-03-01.rtf");
  EXPECT_TRUE(prompt.Prompts()[1].type & MB_ICONERROR);
  EXPECT_EQ(logs.ListLogs().size(), 2u);
}

TEST_F(LogFilesTest, AReadOnlyLogStopsTheDeletion) {
  WriteAll(folder.File("2009-03-01.rtf"), "a");
  WriteAll(folder.File("2009-03-02.rtf"), "b");
#ifdef _WIN32
  ASSERT_TRUE(::SetFileAttributesA(folder.File("2009-03-01.rtf").c_str(), FILE_ATTRIBUTE_READONLY));
#else
  if (::geteuid() == 0) GTEST_SKIP() << "root deletes files in read-only folders";
  ASSERT_EQ(::chmod(folder.Path().c_str(), 0500), 0);
#endif
  CScriptedPrompt prompt;
  prompt.SetDefault(IDYES);
  EXPECT_EQ(logs.DeleteAllLogs(prompt), LogDeleteResult::Failed);
  EXPECT_EQ(prompt.Texts().back(), "Could not delete file 2009-03-01.rtf");
  EXPECT_EQ(logs.ListLogs().size(), 2u);
#ifdef _WIN32
  ::SetFileAttributesA(folder.File("2009-03-01.rtf").c_str(), FILE_ATTRIBUTE_NORMAL);
#else
  ::chmod(folder.Path().c_str(), 0700);
#endif
}

TEST_F(LogFilesTest, ClearReportDeletesTodaysLog) {
  Save("Analyze Drive C:");
  WriteAll(folder.File("2009-03-01.rtf"), "a");
  EXPECT_TRUE(logs.DeleteTodaysLog());
  EXPECT_EQ(logs.ListLogs(), std::vector<std::string>{"2009-03-01.rtf"});
  EXPECT_TRUE(logs.DeleteTodaysLog());  // nothing to delete
}

TEST(SettingsFolder, JoinsWithOneSeparator) {
#ifdef _WIN32
  EXPECT_EQ(JoinPath("C:\\Data", "a.rtf"), "C:\\Data\\a.rtf");
#else
  EXPECT_EQ(JoinPath("/data", "a.rtf"), "/data/a.rtf");
#endif
  EXPECT_EQ(JoinPath("C:\\Data\\", "a.rtf"), "C:\\Data\\a.rtf");
  EXPECT_EQ(JoinPath("/data/", "a.rtf"), "/data/a.rtf");
}

TEST(SettingsFolder, IsCreatedUnderTheUsersFolder) {
#ifdef _WIN32
  const std::string path = SettingsFolder();
  ASSERT_FALSE(path.empty());
  const std::string tail = "\\Norvane Utilities\\Vantrel";
  ASSERT_GT(path.size(), tail.size());
  EXPECT_EQ(path.substr(path.size() - tail.size()), tail);
  EXPECT_TRUE(std::filesystem::is_directory(path));
#else
  CScratchFolder scratch;
  const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
  const std::string savedXdg = oldXdg ? oldXdg : "";
  const char* oldHome = std::getenv("HOME");
  const std::string savedHome = oldHome ? oldHome : "";
  ::setenv("XDG_CONFIG_HOME", scratch.File("config").c_str(), 1);
  EXPECT_EQ(SettingsFolder(), scratch.File("config") + "/Norvane Utilities/Vantrel");
  EXPECT_TRUE(std::filesystem::is_directory(scratch.File("config") + "/Norvane Utilities/Vantrel"));
  // A relative XDG_CONFIG_HOME is ignored in favour of ~/.config.
  ::setenv("XDG_CONFIG_HOME", "relative", 1);
  ::setenv("HOME", scratch.File("home").c_str(), 1);
  std::filesystem::create_directory(scratch.File("home"));
  EXPECT_EQ(SettingsFolder(), scratch.File("home") + "/.config/Norvane Utilities/Vantrel");
  EXPECT_TRUE(std::filesystem::is_directory(SettingsFolder()));
  if (oldXdg)
    ::setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1);
  else
    ::unsetenv("XDG_CONFIG_HOME");
  if (oldHome)
    ::setenv("HOME", savedHome.c_str(), 1);
  else
    ::unsetenv("HOME");
#endif
}

}  // namespace
}  // namespace vt
