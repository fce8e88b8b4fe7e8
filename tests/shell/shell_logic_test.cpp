// Start-up and main-window rules that do not need a window: start modes,
// the hand-off block both ways, the running copy's answers, progress,
// range and view labels, the slider and the tab rule.
#include <gtest/gtest.h>

#include <cstring>

#include "app/main_window_logic.h"
#include "app/startup.h"

namespace vt {
namespace {

TEST(StartupTest, ModesFollowTheSwitchesAnywhereAndCaseSensitively) {
  EXPECT_EQ(ChooseStartMode("", false), StartMode::Normal);
  EXPECT_EQ(ChooseStartMode("x /uninstall", false), StartMode::Uninstall);
  EXPECT_EQ(ChooseStartMode("/auto", false), StartMode::Auto);
  EXPECT_EQ(ChooseStartMode("/AUTO", false), StartMode::Normal);
  // A running copy takes every command line, "/uninstall" too.
  EXPECT_EQ(ChooseStartMode("/uninstall", true), StartMode::HandOff);
}

TEST(StartupTest, TheHandOffBlockHoldsAtMost519CharactersAndTheReceiverEndsTheText) {
  const std::string longLine(600, 'x');
  const auto block = MakeHandOffBlock(longLine);
  static_assert(sizeof(block) == 520, "block");
  EXPECT_EQ(block[518], 'x');
  EXPECT_EQ(block[519], '\0');
  EXPECT_EQ(ReadHandOffBlock(block.data(), block.size()), std::string(519, 'x'));
  const auto small = MakeHandOffBlock("/defrag C:\\req.txt");
  EXPECT_EQ(ReadHandOffBlock(small.data(), small.size()), "/defrag C:\\req.txt");
  // A sender that filled every byte: the text still ends at 519.
  std::array<char, 520> full;
  full.fill('y');
  EXPECT_EQ(ReadHandOffBlock(full.data(), full.size()).size(), 519u);
  EXPECT_EQ(ReadHandOffBlock(full.data(), 10), std::string(10, 'y'));
  EXPECT_EQ(ReadHandOffBlock(nullptr, 520), "");
}

TEST(StartupTest, TheRunningCopyRefusesSchedulerAndBusyHandOffs) {
  EXPECT_EQ(ChooseHandOffAction("/auto", 0), HandOffAction::SchedulerMessage);
  EXPECT_EQ(ChooseHandOffAction("/auto", 2), HandOffAction::SchedulerMessage);
  EXPECT_EQ(ChooseHandOffAction("/defrag x", 1), HandOffAction::BusyMessage);
  EXPECT_EQ(ChooseHandOffAction("/defrag x", 0), HandOffAction::OpenFilesPage);
  EXPECT_EQ(ChooseHandOffAction("", 0), HandOffAction::Nothing);
  EXPECT_TRUE(IsRunningCopyWindow("Vantrel - C:\\", "#32770"));
  EXPECT_FALSE(IsRunningCopyWindow("vantrel", "#32770"));
  EXPECT_FALSE(IsRunningCopyWindow("Vantrel", "VantrelTray"));
  EXPECT_EQ(HelpFilePath("C:\\Program Files\\Vantrel\\Vantrel.exe"),
            "C:\\Program Files\\Vantrel\\Vantrel.chm");
  EXPECT_EQ(HelpFilePath("C:\\a.b\\Vantrel"), "C:\\a.b\\Vantrel.chm");
}

TEST(MainWindowLogicTest, ProgressPercentAndThroughput) {
  std::string text = "unchanged";
  EXPECT_FALSE(ProgressPercent(5, 0, &text));
  EXPECT_EQ(text, "unchanged");
  ASSERT_TRUE(ProgressPercent(50, 200, &text));
  EXPECT_EQ(text, "25.0%");
  ASSERT_TRUE(ProgressPercent(300, 200, &text));
  EXPECT_EQ(text, "100.0%");
  EXPECT_EQ(ThroughputText(false, 10, 4096, 0, 0), "");
  // 2,048 clusters of 4 KB in 1.5 s: 8 MB over 2 whole seconds.
  EXPECT_EQ(ThroughputText(true, 2048, 4096, 1000, 2500), "4.00 MB / sec");
  // The tick count wraps.
  EXPECT_EQ(ThroughputText(true, 256, 4096, 0xFFFFFF00u, 0x100u), "1.00 MB / sec");
}

TEST(MainWindowLogicTest, RangeAndViewLabels) {
  const CRangeLabels none = MakeRangeLabels(0, 0, 100, 5);
  EXPECT_EQ(none.m_nTopLeft + none.m_nTopRight + none.m_nBottomLeft + none.m_nBottomRight, 0u);
  const CRangeLabels r = MakeRangeLabels(1000, 1499, 100, 5);
  EXPECT_EQ(r.m_nTopRight, 1099u);
  EXPECT_EQ(r.m_nBottomLeft, 1400u);
  EXPECT_EQ(r.m_nBottomRight, 1499u);
  // The volume ends in the third of ten rows, or inside the first: no label
  // names a cluster past its end.
  const CRangeLabels shortMap = MakeRangeLabels(0, 249, 100, 10);
  EXPECT_EQ(shortMap.m_nTopRight, 99u);
  EXPECT_EQ(shortMap.m_nBottomLeft, 200u);
  EXPECT_EQ(shortMap.m_nBottomRight, 249u);
  const CRangeLabels tiny = MakeRangeLabels(0, 49, 100, 10);
  EXPECT_EQ(tiny.m_nTopRight, 49u);
  EXPECT_EQ(tiny.m_nBottomLeft, 0u);
  EXPECT_EQ(BlockSizeLabel(7), "Block size (7): ");
  EXPECT_EQ(ViewDescription(true, 4, 0, 0, 1 << 20, 512), "");
  EXPECT_EQ(ViewDescription(true, 4, 0, 99, 1 << 20, 512),
            "Compressed view (1 Block = 4 Clusters)   1.00 MB viewable");
  EXPECT_EQ(ViewDescription(false, 1, 0, 2048, 1 << 20, 512),
            "Uncompressed view (1 Block = 1 Cluster)   1.00 MB viewable");
  EXPECT_EQ(ViewDescription(false, 1, 0, 2048, 0, 0), "Uncompressed view (1 Block = 1 Cluster)");
}

TEST(MainWindowLogicTest, SliderTabsAndLayout) {
  EXPECT_EQ(SliderPosition(7, 0, 3), 10);  // End key: to the bottom
  EXPECT_EQ(SliderPosition(6, 0, 3), 1);
  EXPECT_EQ(SliderPosition(0, 0, 1), 1);
  EXPECT_EQ(SliderPosition(3, 0, 10), 10);
  EXPECT_EQ(SliderPosition(5, 4, 9), 4);
  EXPECT_EQ(TabAfterChange(TAB_REPORT, TAB_DRIVES, 1), TAB_DRIVES);
  EXPECT_EQ(TabAfterChange(TAB_REPORT, TAB_DRIVES, 0), TAB_REPORT);
  int edges[3];
  StatusPaneEdges(1000, 17, edges);
  EXPECT_EQ(edges[0], 767);
  EXPECT_EQ(edges[1], 867);
  EXPECT_EQ(edges[2], -1);
  EXPECT_EQ(MapFrameWidth(1000, 17, 5, 7), 973);
  EXPECT_EQ(MapFrameWidth(10, 17, 5, 7), 0);
  // A middle pane text of 130 pixels ("60.0 KB / 38.0 MB") widens it at
  // pane 0's cost, and pane 0 never goes below 0.
  StatusPaneEdges(1000, 17, edges, 130);
  EXPECT_EQ(edges[0], 737);
  EXPECT_EQ(edges[1], 867);
  StatusPaneEdges(200, 17, edges, 130);
  EXPECT_EQ(edges[0], 0);
  EXPECT_EQ(edges[1], 130);
  EXPECT_EQ(CentredRowLeft(1000, 600, 5), 200);
  EXPECT_EQ(CentredRowLeft(500, 600, 5), 5);
}

TEST(MainWindowLogicTest, TheMinimumHeightIsTheCurrentOneWhileTheMapHas200PixelsOrLess) {
  EXPECT_EQ(MinTrackHeight(201, 650), kMinWindowHeight);
  EXPECT_EQ(MinTrackHeight(200, 650), 650);
  EXPECT_EQ(MinTrackHeight(0, 350), kMinWindowHeight);
}

// The saved position is restored while the dialog is set up: that resize
// must not stretch the controls by the whole width.
TEST(MainWindowLogicTest, ResizesBeforeTheLayoutStartsMoveNothing) {
  CLayoutSize size;
  int dx = 7, dy = 7;
  EXPECT_FALSE(size.Resize(1500, 900, &dx, &dy));
  EXPECT_EQ(dx, 0);
  EXPECT_EQ(dy, 0);
  size.Start(824, 560);
  EXPECT_TRUE(size.Resize(1264, 860, &dx, &dy));  // maximised
  EXPECT_EQ(dx, 440);
  EXPECT_EQ(dy, 300);
  EXPECT_TRUE(size.Resize(824, 560, &dx, &dy));  // restored
  EXPECT_EQ(dx, -440);
  EXPECT_EQ(dy, -300);
}

// A start-up request selects Fragmented Files before the window is shown:
// the Drives page, shown first, must still be hidden.
TEST(MainWindowLogicTest, SelectingATabHidesThePageShownBeforeWhateverTheWindowsSay) {
  CTabPages pages;
  bool hide[4];
  EXPECT_TRUE(pages.Select(TAB_DRIVES, hide));
  EXPECT_TRUE(pages.Select(TAB_FILES, hide));
  EXPECT_TRUE(hide[TAB_DRIVES]);
  EXPECT_FALSE(hide[TAB_FILES] || hide[TAB_REPORT] || hide[TAB_HELP]);
  EXPECT_FALSE(pages.Select(TAB_FILES, hide));  // already shown
  EXPECT_FALSE(hide[TAB_DRIVES]);
  EXPECT_EQ(pages.Current(), TAB_FILES);
}

// "Would you like to do this now?" is answered while the file defrag still
// holds the busy counter: the pass waits for it instead of being refused.
TEST(MainWindowLogicTest, AFreeSpacePassAskedForWhileBusyStartsOnceIdle) {
  CDeferredStart start;
  EXPECT_FALSE(start.Poll(0));
  start.Request();
  EXPECT_FALSE(start.Poll(1));
  EXPECT_TRUE(start.Pending());
  EXPECT_TRUE(start.Poll(0));
  EXPECT_FALSE(start.Poll(0));
}

TEST(StartupTest, UninstallTellsOnlyOfATaskThatCouldNotBeRemoved) {
  EXPECT_EQ(UninstallTaskMessage(0, "x"), "");
  EXPECT_EQ(UninstallTaskMessage(static_cast<int32_t>(0x80070002u), "not there"), "");
  EXPECT_EQ(UninstallTaskMessage(static_cast<int32_t>(0x80070003u), "no folder"), "");
  // The failure's own code, never a stale 0.
  EXPECT_EQ(UninstallTaskMessage(static_cast<int32_t>(0x80070005u), ""),
            std::string(kUninstallTaskFailedText) + "\n\nError code: 0x80070005");
  EXPECT_EQ(
      UninstallTaskMessage(static_cast<int32_t>(0x80070005u), "Access is denied."),
      std::string(kUninstallTaskFailedText) + "\n\nAccess is denied.\n\nError code: 0x80070005");
}

}  // namespace
}  // namespace vt
