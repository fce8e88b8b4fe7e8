#include "report/report_page.h"

#include <gtest/gtest.h>

#include "platform/recording.h"
#include "report/log_files.h"
#include "report/rtf_text.h"
#include "report_test_util.h"

namespace vt {
namespace {

class CTestHost : public IReportPageHost {
 public:
  explicit CTestHost(std::string folder) : m_folder(std::move(folder)) {}
  IPrompt& Prompt() override { return prompt; }
  std::string LogFolder() override { return m_folder; }
  bool LoggingOn() override { return logging; }
  void SetLoggingOn(bool on) override { logging = on; }
  CScriptedPrompt prompt;
  bool logging = true;

 private:
  std::string m_folder;
};

class ReportPageTest : public ::testing::Test {
 protected:
  void Write(const std::string& action) {
    page.Document().AddHeading(action);
    page.Document().AddLine("Total time:", "00:00:07");
    page.OnReportChanged();
  }
  std::string Today() { return ReadAll(folder.File("2009-03-05.rtf")); }
  size_t Count(const std::string& s, const std::string& what) {
    size_t n = 0;
    for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1)) ++n;
    return n;
  }
  CFixedClock clock;
  CScratchFolder folder;
  CTestHost host{folder.Path()};
  CReportPage page{host, clock};
};

TEST_F(ReportPageTest, ShowingThePageSavesTheReportOnceAndShowsTodaysLog) {
  Write("Analyze Drive C:");
  page.OnShowPage(true);
  EXPECT_TRUE(page.LogLoaded());
  EXPECT_TRUE(page.Document().IsEmpty());
  EXPECT_EQ(page.PaneBytes(), Today());
  EXPECT_EQ(Count(RtfToText(Today()), "Analyze Drive C:"), 1u);
  EXPECT_EQ(page.Logs(), (std::vector<std::string>{"2009-03-05.rtf"}));
  EXPECT_EQ(page.SelectedLog(), 0);
  EXPECT_TRUE(page.LogButtonsEnabled());
  // Hidden, shown again, closed: the loaded log is never saved into itself.
  page.OnShowPage(false);
  EXPECT_FALSE(page.LogLoaded());
  EXPECT_EQ(page.PaneBytes(), "");
  page.OnShowPage(true);
  page.SaveLog();
  EXPECT_EQ(Count(RtfToText(Today()), "Analyze Drive C:"), 1u);
}

TEST_F(ReportPageTest, AReportWrittenWhileTheLogIsShownIsSavedOnItsOwn) {
  Write("Analyze Drive C:");
  page.OnShowPage(true);
  const unsigned version = page.PaneVersion();
  Write("Defrag Drive C:");
  EXPECT_NE(page.PaneVersion(), version);
  EXPECT_FALSE(page.LogLoaded());
  EXPECT_EQ(page.PaneBytes(), page.Document().Rtf());
  page.SaveLog();  // the main window closes
  const std::string text = RtfToText(Today());
  EXPECT_EQ(Count(text, "Analyze Drive C:"), 1u);
  EXPECT_EQ(Count(text, "Defrag Drive C:"), 1u);
}

TEST_F(ReportPageTest, WithLoggingOffNothingIsWrittenOrLoaded) {
  host.logging = false;
  Write("Analyze Drive C:");
  page.OnShowPage(true);
  page.SaveLog();
  EXPECT_FALSE(page.LogLoaded());
  EXPECT_FALSE(page.Document().IsEmpty());
  EXPECT_TRUE(page.Logs().empty());
  EXPECT_FALSE(page.LogButtonsEnabled());
  // "Clear report" still deletes today's file.
  WriteAll(folder.File("2009-03-05.rtf"), "{\\rtf1 today}\r\n");
  page.ClearReportCommand();
  EXPECT_TRUE(page.Document().IsEmpty());
  EXPECT_FALSE(std::filesystem::exists(folder.File("2009-03-05.rtf")));
  page.SetLoggingOn(true);
  EXPECT_TRUE(host.logging);
}

TEST_F(ReportPageTest, ViewAndCloseAnOlderLog) {
  WriteAll(folder.File("2009-03-01.rtf"), "{\\rtf1 first of march}\r\n");
  WriteAll(folder.File("2009-03-05.rtf"), "{\\rtf1 today}\r\n");
  page.Init();
  EXPECT_EQ(page.Logs().size(), 2u);
  EXPECT_EQ(page.SelectedLog(), 1);  // the newest date, last
  // Today's entry: the pane shows it already.
  page.ViewOrCloseLog();
  EXPECT_FALSE(page.ViewerShown());
  EXPECT_STREQ(page.ViewButtonText(), "View log");
  page.OnLogSelected(0);
  EXPECT_TRUE(page.ViewerShown());
  EXPECT_EQ(page.ViewerBytes(), "{\\rtf1 first of march}\r\n");
  EXPECT_STREQ(page.ViewButtonText(), "Close log");
  EXPECT_FALSE(page.ClearReportEnabled());
  page.ClearReportCommand();  // grey while the viewer is shown
  EXPECT_TRUE(std::filesystem::exists(folder.File("2009-03-05.rtf")));
  const unsigned list = page.ListVersion();
  page.ViewOrCloseLog();
  EXPECT_FALSE(page.ViewerShown());
  EXPECT_EQ(page.SelectedLog(), 1);
  EXPECT_NE(page.ListVersion(), list);
  EXPECT_TRUE(page.ClearReportEnabled());
  // Showing or hiding the page closes a viewer, logging on or off.
  page.OnLogSelected(0);
  host.logging = false;
  page.OnShowPage(false);
  EXPECT_FALSE(page.ViewerShown());
}

TEST_F(ReportPageTest, AnEmptyLogSaysSoAndOpensNoViewer) {
  WriteAll(folder.File("2009-03-01.rtf"), "");
  page.Init();
  page.ViewOrCloseLog();
  EXPECT_FALSE(page.ViewerShown());
  ASSERT_EQ(host.prompt.Prompts().size(), 1u);
  EXPECT_EQ(host.prompt.Prompts()[0].text, folder.File("2009-03-01.rtf") + " is empty.");
  EXPECT_EQ(host.prompt.Prompts()[0].type, static_cast<UINT>(MB_OK | MB_ICONERROR));
}

TEST_F(ReportPageTest, DeleteLogsAsksEmptiesTheListAndLeavesThePane) {
  WriteAll(folder.File("2009-03-01.rtf"), "{\\rtf1 a}\r\n");
  WriteAll(folder.File("2009-03-05.rtf"), "{\\rtf1 b}\r\n");
  page.OnShowPage(true);
  const std::string pane = page.PaneBytes();
  host.prompt.Script(IDNO);
  page.DeleteLogs();
  EXPECT_EQ(page.Logs().size(), 2u);
  host.prompt.Script(IDYES);
  page.DeleteLogs();
  EXPECT_EQ(host.prompt.Texts(),
            (std::vector<std::string>{"Delete all log files?", "Delete all log files?"}));
  EXPECT_TRUE(page.Logs().empty());
  EXPECT_EQ(page.SelectedLog(), -1);
  EXPECT_FALSE(page.LogButtonsEnabled());
  EXPECT_TRUE(CLogFiles(folder.Path(), clock).ListLogs().empty());
  EXPECT_EQ(page.PaneBytes(), pane);
}

}  // namespace
}  // namespace vt
