// The unattended run over two hand-built FAT16 volumes: the drives named by
// "AutoDefragDrives" in their order, the tray's tips, the report sections,
// and "Cancel Defrag" stopping after the current drive.
#include "pages/scheduled_run.h"

#include <gtest/gtest.h>

#include "engine/globals.h"
#include "pages/drive_page.h"
#include "platform/image/volume_set.h"
#include "platform/recording.h"
#include "report/report_document.h"
#include "tests/image/fat_builder.h"
#include "tests/settings/settings_test_util.h"
#include "tests/support/engine_fixture.h"

namespace vt {
namespace {

using test::CFatImageBuilder;
using test::EBuildType;
using testing_util::CScratchFolder;

class CTipRecorder : public IScheduledRunView {
 public:
  void SetTip(const std::string& text) override {
    m_tips.push_back(text);
    if (m_bCancelOnFirst) SetCancel(true);
  }
  std::vector<std::string> m_tips;
  bool m_bCancelOnFirst = false;
};

class ScheduledRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (char letter : {'V', 'W'}) {
      CFatImageBuilder b(EBuildType::kFat16);
      const uint32_t cb = b.ClusterBytes();
      b.AddFile(0, u"Split.bin", "SPLIT   BIN", {40, 41, 60, 61, 80}, std::string(cb * 5, 's'));
      ASSERT_EQ(ERROR_SUCCESS,
                m_set.MountDevice(letter, b.Device(), std::string("mem-run-") + letter, false));
    }
    CEngineServices services;
    services.volume = &m_set;
    services.system = &HostSystem();
    services.messages = &m_sink;
    services.prompt = &m_prompt;
    m_engine = std::make_unique<CDefrag>(services);
    m_drives = EnumerateDrives(m_set, CEnumerateOptions(), m_prompt);
    ASSERT_EQ(m_drives.size(), 2u);
  }
  void TearDown() override {
    m_engine.reset();
    SetCancel(false);
  }
  CScheduledRunResult Run(const std::string& list) {
    m_settings.SetString("AutoDefragDrives", list);
    return RunScheduledDefrag(*m_engine, m_settings, m_drives, m_view, &m_report);
  }

  CScratchFolder m_dir;
  SettingsFile m_settings{m_dir.File("Vantrel.ini")};
  CImageVolumeSet m_set;
  CRecordingSink m_sink;
  CScriptedPrompt m_prompt;
  std::unique_ptr<CDefrag> m_engine;
  std::vector<CDriveData> m_drives;
  CTipRecorder m_view;
  CReportDocument m_report;
};

TEST_F(ScheduledRunTest, DefragmentsTheListedDrivesInOrderWithTheirReports) {
  SetCancel(true);  // a stop left over: the run starts afresh
  const CScheduledRunResult r = Run("22,4,21,");
  EXPECT_EQ(r.m_done, (std::vector<std::string>{"W:\\", "V:\\"}));
  EXPECT_FALSE(r.m_bCancelled);
  EXPECT_EQ(m_view.m_tips,
            (std::vector<std::string>{"Vantrel - Defragging W:\\", "Vantrel - Defragging V:\\"}));
  for (const CDriveData& drive : m_drives) EXPECT_EQ(drive.m_nFragmentedFiles, 0u);
  const std::string text = m_report.PlainText();
  const size_t w = text.find("Action: Scheduled Defrag Drive W:\\");
  const size_t v = text.find("Action: Scheduled Defrag Drive V:\\");
  ASSERT_NE(w, std::string::npos);
  ASSERT_NE(v, std::string::npos);
  EXPECT_LT(w, v);
  EXPECT_NE(text.find("Bytes processed:\t"), std::string::npos);
  EXPECT_EQ(text.find("Analyze Drive"), std::string::npos);
  EXPECT_EQ(BusyCounter().load(), 0);
  EXPECT_EQ(CurrentDrive(), nullptr);
}

TEST_F(ScheduledRunTest, ALastIndexWithoutItsCommaAndAnEmptyListRunNothingMore) {
  EXPECT_EQ(Run("21,22").m_done, (std::vector<std::string>{"V:\\"}));
  m_report.ClearReport();
  EXPECT_TRUE(Run("").m_done.empty());
  EXPECT_TRUE(m_report.IsEmpty());
  // A gone volume is skipped.
  m_set.Unmount('V');
  EXPECT_EQ(Run("21,22,").m_done, (std::vector<std::string>{"W:\\"}));
}

TEST_F(ScheduledRunTest, CancelStopsAfterTheCurrentDriveWhoseReportIsStillWritten) {
  m_view.m_bCancelOnFirst = true;
  const CScheduledRunResult r = Run("21,22,");
  EXPECT_TRUE(r.m_bCancelled);
  EXPECT_EQ(r.m_done, (std::vector<std::string>{"V:\\"}));
  EXPECT_EQ(m_view.m_tips.size(), 1u);
  const std::string text = m_report.PlainText();
  EXPECT_NE(text.find("Scheduled Defrag Drive V:\\"), std::string::npos);
  EXPECT_EQ(text.find("W:\\"), std::string::npos);
}

// An analysis that takes two hours by the clock.
class CSlowAnalysis : public CRecordingSink {
 public:
  explicit CSlowAnalysis(test::CFakeSystem& clock) : m_clock(clock) {}
  LRESULT Send(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) override {
    if (msg == UM_PROGRESS && wParam == PROGRESS_TEXT &&
        std::string(reinterpret_cast<const char*>(lParam)).rfind("Analyzing: ", 0) == 0)
      m_clock.tick += 2 * 3600 * 1000;
    return CRecordingSink::Send(wnd, msg, wParam, lParam);
  }

 private:
  test::CFakeSystem& m_clock;
};

TEST_F(ScheduledRunTest, TotalTimeCountsTheDrivesAnalysis) {
  test::CFakeSystem clock;
  CSlowAnalysis sink(clock);
  CEngineServices services;
  services.volume = &m_set;
  services.system = &clock;
  services.messages = &sink;
  services.prompt = &m_prompt;
  m_engine = std::make_unique<CDefrag>(services);
  Run("21,");
  EXPECT_NE(m_report.PlainText().find("Total time:\t02:00:00"), std::string::npos)
      << m_report.PlainText();
}

}  // namespace
}  // namespace vt
