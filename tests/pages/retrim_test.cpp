// Solid-state drives on the drive page and in the scheduled run: the media
// column, the question before defragmenting one and what each answer does,
// the Retrim operation, and a system without retrim.
#include "pages/retrim.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/settings_file.h"
#include "engine/globals.h"
#include "pages/drive_page.h"
#include "pages/scheduled_run.h"
#include "platform/image/volume_set.h"
#include "platform/recording.h"
#include "report/report_document.h"
#include "tests/image/fat_builder.h"
#include "tests/support/discard_device.h"

namespace vt {
namespace {

using test::CDiscardDevice;
using test::CFatImageBuilder;
using test::EBuildType;

void SetEnv(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value ? value : "");
#else
  if (value)
    ::setenv(name, value, 1);
  else
    ::unsetenv(name);
#endif
}

class CView : public IDrivePageView {
 public:
  std::vector<bool> checked{true, true};
  int completions = 0;
  std::string caption, message;
  int RowCount() override { return 2; }
  bool IsRowChecked(int row) override { return checked[static_cast<size_t>(row)]; }
  size_t RowDrive(int row) override { return static_cast<size_t>(row); }
  void SelectRow(int) override {}
  void UpdateRow(int) override {}
  void SetTitleText(const std::string&) override {}
  void EnableControls(bool) override {}
  void SetStatus(const std::string&) override {}
  void Notify(UINT, WPARAM, bool) override {}
  bool RefreshMap() override { return true; }
  void EmptyFileList() override {}
  int ShowCompletion(const std::string& c, const std::string& m) override {
    ++completions;
    caption = c;
    message = m;
    return IDCANCEL;
  }
};

class CTip : public IScheduledRunView {
 public:
  void SetTip(const std::string&) override {}
};

class RetrimPageTest : public ::testing::Test {
 protected:
  void SetUp() override { Start("V=ssd;W=hdd"); }
  void Start(const char* media) {
    m_page.reset();
    m_engine.reset();
    m_set = std::make_unique<CImageVolumeSet>();
    m_home = std::filesystem::temp_directory_path() /
             ("vt-retrim-" +
              std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::create_directories(m_home);
    // Settings and analysis caches of this test only.
    for (const char* name : {"XDG_CONFIG_HOME", "TMPDIR", "TMP", "TEMP"}) {
      if (m_saved.size() < 4) {
        const char* value = std::getenv(name);
        m_saved.push_back({name, value ? value : ""});
      }
      SetEnv(name, m_home.string().c_str());
    }
    SetEnv("VANTREL_MEDIA", media);
    for (char letter : {'V', 'W'}) {
      CFatImageBuilder b(EBuildType::kFat16);
      const std::string data(b.ClusterBytes() * 2 + 5, letter);
      b.AddFile(0, u"Split.bin", "SPLIT   BIN", {40, 60, 80}, data);
      auto device = std::make_unique<CDiscardDevice>(b.Bytes(), b.VolumeBytes(), 512,
                                                     &m_discards[letter - 'V']);
      m_devices[letter - 'V'] = device.get();
      ASSERT_EQ(ERROR_SUCCESS,
                m_set->MountDevice(letter, std::move(device), std::string("mem-") + letter, false));
    }
    CEngineServices services;
    services.volume = m_set.get();
    services.system = &HostSystem();
    services.messages = &m_sink;
    services.prompt = &m_prompt;
    m_engine = std::make_unique<CDefrag>(services);
    m_page = std::make_unique<CDrivePage>(*m_engine, m_view, &m_report);
    m_page->Enumerate(CEnumerateOptions());
    SetCancel(false);
  }
  void TearDown() override {
    m_page.reset();
    m_engine.reset();
    SetCurrentDrive(nullptr);
    SetEnv("VANTREL_MEDIA", nullptr);
    for (const auto& v : m_saved) SetEnv(v.first, v.second.empty() ? nullptr : v.second.c_str());
    std::error_code ec;
    std::filesystem::remove_all(m_home, ec);
  }
  bool Reported(const std::string& text) const {
    return m_report.PlainText().find(text) != std::string::npos;
  }
  std::string Question() const {
    return "V:\\ is a solid-state drive. Defragmenting it adds wear and does not make it "
           "faster. Retrim it instead?";
  }

  std::vector<std::pair<const char*, std::string>> m_saved;
  std::filesystem::path m_home;
  std::unique_ptr<CImageVolumeSet> m_set;
  CDiscardDevice::Ranges m_discards[2];
  CDiscardDevice* m_devices[2] = {};
  CRecordingSink m_sink;
  CScriptedPrompt m_prompt;
  CReportDocument m_report;
  CView m_view;
  std::unique_ptr<CDefrag> m_engine;
  std::unique_ptr<CDrivePage> m_page;
};

TEST_F(RetrimPageTest, TheMediaColumnNamesEachDrivesStorage) {
  ASSERT_EQ(m_page->Drives().size(), 2u);
  EXPECT_EQ(DriveCellText(m_page->Drives()[0], COL_MEDIA), "Solid state drive");
  EXPECT_EQ(DriveCellText(m_page->Drives()[1], COL_MEDIA), "Hard disk drive");
  EXPECT_FALSE(IsNumericColumn(COL_MEDIA));
  Start("V=unknown");
  EXPECT_EQ(DriveCellText(m_page->Drives()[0], COL_MEDIA), "");
}

TEST_F(RetrimPageTest, YesRetrimsTheSolidStateDriveAndDefragmentsTheOther) {
  m_prompt.Script(IDYES);
  EXPECT_EQ(m_page->RunOperation(OP_DEFRAG_DRIVE), "V:\\, W:\\");
  ASSERT_EQ(m_prompt.Prompts().size(), 1u);  // W: is a hard disk: no question
  EXPECT_EQ(m_prompt.Prompts()[0].text, Question());
  EXPECT_EQ(m_prompt.Prompts()[0].type, MB_YESNOCANCEL | MB_ICONQUESTION);
  EXPECT_TRUE(Reported("Action: Retrim Drive V:\\"));
  EXPECT_TRUE(Reported("Bytes trimmed:\t"));
  EXPECT_FALSE(Reported("Action: Defrag Drive V:\\"));
  EXPECT_TRUE(Reported("Action: Defrag Drive W:\\"));
  EXPECT_FALSE(m_discards[0].empty());
  EXPECT_TRUE(m_discards[1].empty());
  EXPECT_EQ(m_view.completions, 1);
  EXPECT_EQ(BusyCounter().load(), 0);
}

TEST_F(RetrimPageTest, NoDefragmentsAnywayAndCancelStopsTheRun) {
  m_prompt.Script(IDNO);
  m_page->RunOperation(OP_DEFRAG_FREE);
  EXPECT_TRUE(Reported("Action: Defrag free space V:\\"));
  EXPECT_FALSE(Reported("Retrim Drive"));
  EXPECT_TRUE(m_discards[0].empty());

  m_report.ClearReport();
  m_prompt.Script(IDCANCEL);
  m_view.completions = 0;
  EXPECT_EQ(m_page->RunOperation(OP_DEFRAG_DRIVE), "");
  EXPECT_FALSE(Reported("Action:"));  // neither V: nor W: touched
  EXPECT_EQ(m_view.completions, 0);
  EXPECT_TRUE(m_discards[0].empty());
}

TEST_F(RetrimPageTest, RetrimRunsOnEveryCheckedDriveWithoutAsking) {
  m_view.checked = {false, true};
  EXPECT_EQ(m_page->RunOperation(OP_RETRIM), "W:\\");
  EXPECT_TRUE(m_prompt.Prompts().empty());
  EXPECT_TRUE(Reported("Action: Retrim Drive W:\\"));
  EXPECT_TRUE(Reported("Total time:\t"));
  EXPECT_EQ(m_view.caption, "Retrim");
  EXPECT_EQ(m_view.message, "Retrim is complete for drive(s):\nW:\\ ");
}

// The report of a retrim the storage refused says so in its heading too.
TEST_F(RetrimPageTest, AFailedRetrimIsNotReportedAsCompleted) {
  m_view.checked = {false, true};
  m_devices[1]->m_dwRefuse = ERROR_WRITE_FAULT;
  m_page->RunOperation(OP_RETRIM);
  EXPECT_TRUE(Reported("Action: Retrim Drive W:\\ Failed at ")) << m_report.PlainText();
  EXPECT_FALSE(Reported("Completed at")) << m_report.PlainText();
  EXPECT_TRUE(Reported("Retrim failed:\t"));
}

TEST_F(RetrimPageTest, WithoutRetrimOnTheSystemOnlyTheMessageIsShown) {
  Start("V=ssd+noretrim;W=hdd");
  m_prompt.Script(IDYES);
  EXPECT_EQ(m_page->RunOperation(OP_DEFRAG_DRIVE), "");
  ASSERT_EQ(m_prompt.Prompts().size(), 2u);
  EXPECT_EQ(m_prompt.Prompts()[1].text, kRetrimUnavailable);
  EXPECT_EQ(m_report.PlainText().find("Action:"), std::string::npos);
  EXPECT_EQ(m_view.completions, 0);
}

TEST_F(RetrimPageTest, TheScheduledRunRetrimsSolidStateDrivesInsteadOfDefragmentingThem) {
  const std::string ini = (m_home / "sched.ini").string();
  SettingsFile settings(ini);
  settings.SetString("AutoDefragDrives", "21,22,");
  std::vector<CDriveData> candidates = m_page->Drives();
  CTip tip;
  const CScheduledRunResult result =
      RunScheduledDefrag(*m_engine, settings, candidates, tip, &m_report);
  ASSERT_EQ(result.m_done.size(), 2u);
  ASSERT_EQ(result.m_retrimmed.size(), 1u);
  EXPECT_EQ(result.m_retrimmed[0], "V:\\");
  EXPECT_TRUE(Reported("Action: Retrim Drive V:\\"));
  EXPECT_FALSE(Reported("Scheduled Defrag Drive V:\\"));
  EXPECT_TRUE(Reported("Action: Scheduled Defrag Drive W:\\"));
  EXPECT_FALSE(m_discards[0].empty());
  EXPECT_TRUE(m_prompt.Prompts().empty());
}

}  // namespace
}  // namespace vt
