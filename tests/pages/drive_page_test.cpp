// The drive page's workers over two image volumes, with the windows
// replaced by a recording view: row order, the completion text, Stop, the
// cache, the report sections and the moved data.
#include "pages/drive_page.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "app/settings_file.h"
#include "engine/globals.h"
#include "platform/image/volume_set.h"
#include "platform/recording.h"
#include "report/report_document.h"
#include "tests/image/fat_builder.h"

namespace vt {
namespace {

using test::CFatImageBuilder;
using test::EBuildType;

std::string Pattern(size_t size, char seed) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>(seed + i * 7 % 251);
  return s;
}

// A FAT16 volume with a file in three fragments and a file in one.
std::unique_ptr<CBlockDevice> MakeVolume(char seed, CFatImageBuilder** keep = nullptr) {
  static std::vector<std::unique_ptr<CFatImageBuilder>> builders;
  builders.push_back(std::make_unique<CFatImageBuilder>(EBuildType::kFat16));
  CFatImageBuilder& b = *builders.back();
  const uint32_t cb = b.ClusterBytes();
  b.AddFile(0, u"Split.bin", "SPLIT   BIN", {40, 41, 60, 61, 80}, Pattern(cb * 5 - 3, seed));
  b.AddFile(0, u"", "WHOLE   TXT", {100}, Pattern(cb / 2, seed + 1));
  if (keep) *keep = &b;
  return b.Device();
}

void SetEnv(const char* name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());
#else
  if (value.empty())
    ::unsetenv(name);
  else
    ::setenv(name, value.c_str(), 1);
#endif
}

class CFakeView : public IDrivePageView {
 public:
  std::vector<bool> checked;
  std::vector<size_t> order;
  std::vector<std::string> events;
  int completionAnswer = IDCANCEL;
  std::string completionCaption, completionMessage;
  // Called when the view is told a status: lets a test press Stop.
  std::function<void(const std::string&)> onStatus;
  std::function<void(const std::string&)> onTitle;
  std::function<void()> onCompletion;

  int RowCount() override { return static_cast<int>(order.size()); }
  bool IsRowChecked(int row) override { return checked[static_cast<size_t>(row)]; }
  size_t RowDrive(int row) override { return order[static_cast<size_t>(row)]; }
  void SelectRow(int row) override { events.push_back("select " + std::to_string(row)); }
  void UpdateRow(int) override {}
  void SetTitleText(const std::string& text) override {
    if (!text.empty()) events.push_back("title " + text);
    if (onTitle) onTitle(text);
  }
  void EnableControls(bool enable) override { events.push_back(enable ? "enable" : "disable"); }
  void SetStatus(const std::string& text) override {
    events.push_back("status " + text);
    if (onStatus) onStatus(text);
  }
  void Notify(UINT message, WPARAM wParam, bool post) override {
    events.push_back("notify " + std::to_string(message - WM_APP) + "/" + std::to_string(wParam) +
                     (post ? " posted" : ""));
  }
  bool RefreshMap() override { return true; }
  void EmptyFileList() override { events.push_back("empty file list"); }
  int ShowCompletion(const std::string& caption, const std::string& message) override {
    completionCaption = caption;
    completionMessage = message;
    events.push_back("completion");
    if (onCompletion) onCompletion();
    return completionAnswer;
  }
  bool Has(const std::string& event) const {
    for (const auto& e : events)
      if (e == event) return true;
    return false;
  }
};

class DrivePageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Settings and caches of this test only.
    static const std::filesystem::path base = std::filesystem::temp_directory_path();
    m_home =
        base /
        ("vt-pages-" +
         std::to_string(std::hash<std::string>()(base.string() + std::to_string(std::rand()))) +
         "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(m_home);
    for (const char* name : {"XDG_CONFIG_HOME", "TMPDIR", "TMP", "TEMP"}) {
      const char* value = std::getenv(name);
      m_saved.push_back({name, value ? value : ""});
    }
    SetEnv("XDG_CONFIG_HOME", m_home.string());
    SetEnv("TMPDIR", m_home.string());
    SetEnv("TMP", m_home.string());
    SetEnv("TEMP", m_home.string());
    ASSERT_EQ(ERROR_SUCCESS, m_set.MountDevice('W', MakeVolume('w'), "mem-w", false));
    ASSERT_EQ(ERROR_SUCCESS, m_set.MountDevice('V', MakeVolume('v'), "mem-v", false));
    CEngineServices services;
    services.volume = &m_set;
    services.system = &HostSystem();
    services.messages = &m_sink;
    services.prompt = &m_prompt;
    m_engine = std::make_unique<CDefrag>(services);
    m_page = std::make_unique<CDrivePage>(*m_engine, m_view, &m_report);
    m_page->Enumerate(CEnumerateOptions());
    m_view.order = {0, 1};
    m_view.checked = {false, false};
    SetCancel(false);
  }
  void TearDown() override {
    m_page.reset();
    m_engine.reset();
    SetCurrentDrive(nullptr);
    // The next tests keep the folders they started with.
    for (const auto& v : m_saved) SetEnv(v.first, v.second);
    std::error_code ec;
    std::filesystem::remove_all(m_home, ec);
  }

  std::vector<std::pair<const char*, std::string>> m_saved;
  std::filesystem::path m_home;
  CImageVolumeSet m_set;
  CRecordingSink m_sink;
  CScriptedPrompt m_prompt;
  CReportDocument m_report;
  CFakeView m_view;
  std::unique_ptr<CDefrag> m_engine;
  std::unique_ptr<CDrivePage> m_page;
};

TEST_F(DrivePageTest, EnumerationListsTheImageVolumesInLetterOrderWithTheirFigures) {
  auto& drives = m_page->Drives();
  ASSERT_EQ(drives.size(), 2u);
  EXPECT_EQ(drives[0].m_strDrive, "V:\\");
  EXPECT_EQ(drives[1].m_strDrive, "W:\\");
  EXPECT_EQ(DriveCellText(drives[0], COL_FILE_SYSTEM), "FAT");
  EXPECT_NE(DriveCellText(drives[0], COL_DISK_SIZE), "");
  // Statistics stay empty until the drive is analysed.
  EXPECT_EQ(DriveCellText(drives[0], COL_FILES), "");
  EXPECT_EQ(DriveCellText(drives[0], COL_PERCENT), "");
  EXPECT_EQ(m_page->Current(), -1);
}

TEST_F(DrivePageTest, AnalysingTheCurrentDriveFillsItsRowAndWritesTheReport) {
  m_page->MakeCurrent(0, true);
  const CDriveData& v = m_page->Drives()[0];
  EXPECT_EQ(v.m_nState, DRIVE_STATE_ANALYZED);
  EXPECT_EQ(DriveCellText(v, COL_FILES), "3");  // two files and the root folder
  EXPECT_EQ(DriveCellText(v, COL_FRAGMENTED), "1");
  EXPECT_TRUE(m_view.Has("status Analysis complete."));
  EXPECT_TRUE(m_view.Has("title Analyzing Volume"));
  EXPECT_TRUE(m_view.Has("notify 8/1"));  // the compressed view at the start
  const std::string text = m_report.PlainText();
  EXPECT_NE(text.find("Action: Analyze Drive V:\\"), std::string::npos);
  EXPECT_NE(text.find("Fragmented files:\t1"), std::string::npos);
  EXPECT_EQ(BusyCounter().load(), 0);
  EXPECT_EQ(CurrentDrive(), &m_page->Drives()[0]);
}

TEST_F(DrivePageTest, DefragDriveRunsTheCheckedDrivesInRowOrderAndNamesBothWhenDone) {
  // Rows sorted descending: W first.
  m_view.order = {1, 0};
  m_view.checked = {true, true};
  m_view.completionAnswer = IDOK;
  // What reaches the status bar after the last closing status, up to the
  // completion dialog: nothing may empty it (the cache save did).
  size_t sinkAtStatus = 0;
  std::vector<RecordedMessage> afterStatus;
  m_view.onStatus = [&](const std::string& text) {
    if (text == "Defrag drive complete") sinkAtStatus = m_sink.Messages().size();
  };
  m_view.onCompletion = [&]() {
    const auto all = m_sink.Messages();
    afterStatus.assign(all.begin() + static_cast<std::ptrdiff_t>(sinkAtStatus), all.end());
  };
  const std::string done = m_page->RunOperation(OP_DEFRAG_DRIVE);
  EXPECT_EQ(done, "W:\\, V:\\");
  ASSERT_GT(sinkAtStatus, 0u);
  for (const RecordedMessage& m : afterStatus)
    EXPECT_FALSE(m.msg == UM_PROGRESS && m.wParam == PROGRESS_RESET) << "the bar was emptied";
  // Each drive's pass left a fresh cache.
  for (const CDriveData& d : m_page->Drives())
    EXPECT_TRUE(std::filesystem::exists(m_engine->GetCachePath(d))) << d.m_strDrive;
  EXPECT_EQ(m_view.completionCaption, "Defrag Drive ");
  EXPECT_EQ(m_view.completionMessage, "Defragmentation is complete for drive(s):\nW:\\, V:\\ ");
  EXPECT_TRUE(m_view.Has("notify 5/0 posted"));  // View Report
  for (const CDriveData& d : m_page->Drives()) {
    EXPECT_EQ(d.m_nFragmentedFiles, 0u) << d.m_strDrive;
    EXPECT_EQ(d.m_nState, DRIVE_STATE_ANALYZED);
  }
  const std::string text = m_report.PlainText();
  const size_t w = text.find("Action: Defrag Drive W:\\"),
               v = text.find("Action: Defrag Drive V:\\");
  ASSERT_NE(w, std::string::npos);
  ASSERT_NE(v, std::string::npos);
  EXPECT_LT(w, v);
  EXPECT_TRUE(m_view.Has("title Defragging Drive"));
  EXPECT_TRUE(m_view.Has("status Defrag drive complete"));
  EXPECT_EQ(BusyCounter().load(), 0);
  // The file list is filled (sent, so done) before the closing status, and
  // nothing changes the status between it and the completion dialog.
  const auto& ev = m_view.events;
  const auto doneAt = std::find(ev.begin(), ev.end(), "completion");
  ASSERT_NE(doneAt, ev.end());
  const auto lastStatus =
      std::find_if(std::make_reverse_iterator(doneAt), ev.rend(),
                   [](const std::string& e) { return e.rfind("status ", 0) == 0; });
  ASSERT_NE(lastStatus, ev.rend());
  EXPECT_EQ(*lastStatus, "status Defrag drive complete");
  EXPECT_EQ(*std::next(lastStatus), "notify 1/0");

  // The moved file reads back the same from a fresh analysis.
  HANDLE h = m_set.CreateFileA("V:\\Split.bin", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CFatImageBuilder probe(EBuildType::kFat16);
  std::string data(probe.ClusterBytes() * 5 - 3, '\0');
  DWORD read = 0;
  ASSERT_TRUE(m_set.ReadFile(h, &data[0], static_cast<DWORD>(data.size()), &read));
  m_set.CloseHandle(h);
  EXPECT_EQ(read, data.size());
  EXPECT_EQ(data, Pattern(data.size(), 'v'));
}

// Each checked drive is defragmented from its own analysis, even when
// another drive was analysed last and the engine still holds its files.
TEST_F(DrivePageTest, DefragDriveWorksOnEachDrivesOwnFilesAfterAnotherWasAnalysed) {
  m_page->MakeCurrent(0, true);
  m_page->MakeCurrent(1, true);  // W analysed last
  m_report.ClearReport();
  m_view.checked = {true, true};
  m_page->RunOperation(OP_DEFRAG_DRIVE);
  const std::string text = m_report.PlainText();
  const size_t v = text.find("Action: Defrag Drive V:\\"),
               w = text.find("Action: Defrag Drive W:\\");
  ASSERT_NE(v, std::string::npos);
  ASSERT_NE(w, std::string::npos);
  EXPECT_EQ(text.substr(v, w - v).find("W:\\Split"), std::string::npos);
  // Judged by the volumes, not the engine: each Split.bin is one extent.
  for (const char* path : {"V:\\Split.bin", "W:\\Split.bin"}) {
    HANDLE h = m_set.CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    STARTING_VCN_INPUT_BUFFER in = {};
    uint8_t out[256] = {};
    DWORD returned = 0;
    ASSERT_TRUE(m_set.DeviceIoControl(h, FSCTL_GET_RETRIEVAL_POINTERS, &in, sizeof(in), out,
                                      sizeof(out), &returned));
    m_set.CloseHandle(h);
    EXPECT_EQ(reinterpret_cast<RETRIEVAL_POINTERS_BUFFER*>(out)->ExtentCount, 1u) << path;
  }
}

TEST_F(DrivePageTest, StopDuringTheFirstDriveEndsTheRunAfterIt) {
  m_view.checked = {true, true};
  // Stop pressed as the first drive's pass ends.
  bool pressed = false;
  m_view.onStatus = [&](const std::string& text) {
    if (text == "Defrag drive complete" && !pressed) {
      pressed = true;
      SetCancel(true);
    }
  };
  const std::string done = m_page->RunOperation(OP_DEFRAG_DRIVE);
  EXPECT_EQ(done, "V:\\");
  // The dialog's caption says " Cancelled"; its text agrees.
  EXPECT_EQ(m_view.completionMessage, "Defragmentation was stopped for drive(s):\nV:\\ ");
  EXPECT_EQ(m_page->Drives()[1].m_nState, DRIVE_STATE_NOT_ANALYZED);
}

// Stop pressed as the pass begins, after the drive's analysis: the pass
// moves nothing and the next drive is not started.
TEST_F(DrivePageTest, AStopAsThePassBeginsIsKept) {
  m_view.checked = {true, true};
  m_view.onTitle = [](const std::string& text) {
    if (text == "Defragging Drive") SetCancel(true);
  };
  EXPECT_EQ(m_page->RunOperation(OP_DEFRAG_DRIVE), "V:\\");
  EXPECT_EQ(m_page->Drives()[0].m_nFragmentedFiles, 1u);
  EXPECT_EQ(m_page->Drives()[1].m_nState, DRIVE_STATE_NOT_ANALYZED);
  EXPECT_EQ(m_view.completionMessage, "Defragmentation was stopped for drive(s):\nV:\\ ");
  // The status bar and the report agree with the dialog.
  EXPECT_TRUE(m_view.Has("status Defrag drive stopped"));
  EXPECT_FALSE(m_view.Has("status Defrag drive complete"));
  EXPECT_NE(m_report.PlainText().find("Action: Defrag Drive V:\\ Stopped at "), std::string::npos);
  EXPECT_EQ(BusyCounter().load(), 0);
}

// A custom filter that leaves every fragmented file out says so.
TEST_F(DrivePageTest, ACustomFilterThatSkipsEverythingSaysSo) {
  SettingsFile settings;
  settings.SetInt("CustomDefragByFileType", 2169);
  settings.SetString("CustomFileTypeInclude", ".avi,.mdb,");
  m_view.checked = {true, false};
  m_page->RunOperation(OP_DEFRAG_DRIVE);
  EXPECT_TRUE(m_view.Has("title Custom Defragging Drive"));
  EXPECT_EQ(m_page->Drives()[0].m_nFragmentedFiles, 1u);
  EXPECT_NE(m_report.PlainText().find("Custom filter:\ton, 1 fragmented file left out"),
            std::string::npos);
}

TEST_F(DrivePageTest, NoCheckedDriveShowsTheMessageRunsNothingAndLeavesTheButtonsUsable) {
  EXPECT_EQ(m_page->RunOperation(OP_DEFRAG_FREE), "");
  EXPECT_EQ(m_prompt.Texts(), std::vector<std::string>{kNoDriveChecked});
  EXPECT_EQ(m_view.completionCaption, "");
  EXPECT_EQ(m_report.PlainText(), "");
  // The window disabled its buttons when asked; they come back.
  ASSERT_FALSE(m_view.events.empty());
  EXPECT_EQ(m_view.events.back(), "enable");
  // The window asks before it starts anything.
  m_prompt.Clear();
  EXPECT_FALSE(m_page->ConfirmChecked());
  EXPECT_EQ(m_prompt.Texts(), std::vector<std::string>{kNoDriveChecked});
  m_view.checked = {false, true};
  m_prompt.Clear();
  EXPECT_TRUE(m_page->ConfirmChecked());
  EXPECT_TRUE(m_prompt.Texts().empty());
}

// "The current drive needs to be analyzed" answered Yes: the current drive,
// else the first checked one, else a hint.
TEST_F(DrivePageTest, AnalysingForTheFilePageTakesTheCurrentOrFirstCheckedDriveElseHints) {
  EXPECT_EQ(m_page->FilePageAnalysisRow(), -1);
  EXPECT_EQ(m_prompt.Texts(), std::vector<std::string>{kNoDriveChecked});
  m_view.checked = {false, true};
  const int row = m_page->FilePageAnalysisRow();
  ASSERT_EQ(row, 1);
  m_page->AnalyzeForFilePage(row);
  EXPECT_EQ(CurrentDrive(), &m_page->Drives()[1]);
  EXPECT_EQ(m_page->Drives()[1].m_nState, DRIVE_STATE_ANALYZED);
  EXPECT_EQ(m_page->FilePageAnalysisRow(), CDrivePage::kAnalyzeCurrentRow);
  EXPECT_EQ(m_prompt.Texts().size(), 1u);
  // Another drive made current empties the file list first.
  m_view.events.clear();
  m_page->MakeCurrent(0, true);
  ASSERT_FALSE(m_view.events.empty());
  EXPECT_EQ(m_view.events[1], "empty file list");
}

TEST_F(DrivePageTest, AnalyzeDeletesTheCacheAndAnalysesFromTheDisk) {
  m_view.checked = {true, false};
  m_page->MakeCurrent(0, true);
  CDriveData& v = m_page->Drives()[0];
  m_engine->SaveDriveData(v);
  ASSERT_TRUE(m_engine->CacheExists(v));
  // A cache that lies: the analysis from the disk must not trust it.
  v.m_nState = DRIVE_STATE_NOT_ANALYZED;
  m_report.ClearReport();
  m_page->RunOperation(OP_ANALYZE);
  EXPECT_NE(m_report.PlainText().find("Action: Analyze Drive V:\\"), std::string::npos);
  EXPECT_EQ(v.m_nState, DRIVE_STATE_ANALYZED);
  // Analyze shows no completion dialog.
  EXPECT_EQ(m_view.completionCaption, "");
}

TEST_F(DrivePageTest, FreeSpaceTakesItsModeAndNamesItsCaption) {
  m_view.checked = {false, true};
  m_page->RunOperation(OP_DEFRAG_FREE);
  EXPECT_EQ(m_view.completionCaption, "Defrag Free Space");
  EXPECT_EQ(m_view.completionMessage, "Defragmentation is complete for drive(s):\nW:\\ ");
  EXPECT_NE(m_report.PlainText().find("Action: Defrag free space W:\\"), std::string::npos);
  EXPECT_NE(m_report.PlainText().find("Largest free block:"), std::string::npos);
  EXPECT_TRUE(m_view.Has("status Defrag free space complete"));
  EXPECT_FALSE(m_view.Has("notify 5/0 posted"));  // closed with "Close"
}

TEST(DriveListTest, SortingSelectionAndTitles) {
  CDriveData a, b;
  a.m_strDrive = "C:\\";
  b.m_strDrive = "D:\\";
  a.m_nFreeBytes = 5;
  b.m_nFreeBytes = 3;
  a.m_dPercentFragmented = 1.5;
  b.m_dPercentFragmented = 12.25;
  CDriveSort sort;
  EXPECT_TRUE(sort.Before(a, b));
  sort.Click(COL_DRIVE);  // the same column again reverses
  EXPECT_TRUE(sort.Before(b, a));
  sort.Click(COL_FREE_SPACE);  // another column sorts ascending
  EXPECT_TRUE(sort.Before(b, a));
  sort.Click(COL_PERCENT);
  EXPECT_TRUE(sort.Before(a, b));
  b.m_nState = DRIVE_STATE_ANALYZED;
  EXPECT_EQ(DriveCellText(b, COL_PERCENT), "12.25%");

  EXPECT_TRUE(IsDriveSelected("C:\\", "C:\\,"));
  EXPECT_TRUE(IsDriveSelected("D:\\", "C:\\,D:\\,"));
  EXPECT_FALSE(IsDriveSelected("E:\\", "C:\\,D:\\,"));
  EXPECT_EQ(SelectedDrivesText({"C:\\", "E:\\"}), "C:\\,E:\\,");

  EXPECT_EQ(BaseTitle(nullptr), "Vantrel");
  EXPECT_EQ(OperationTitle(&a, "Defragging Drive"), "Vantrel - C:\\ - Defragging Drive");
  EXPECT_EQ(CompletionCaption(OP_DEFRAG_FREE), "Defrag Free Space");
}

// Drives as a system reports them: floppies, removable, optical and RAM.
class CDriveKinds : public CImageVolumeSet {
 public:
  DWORD mask = 0;
  std::map<char, UINT> types;
  UINT errorMode = 0x8000;  // the process's own mode
  std::vector<UINT> modesAsked;
  DWORD GetLogicalDrives() override { return mask; }
  UINT SetErrorMode(UINT mode) override {
    const UINT old = errorMode;
    errorMode = mode;
    return old;
  }
  UINT GetDriveTypeA(const char* root) override {
    modesAsked.push_back(errorMode);
    auto it = types.find(root[0]);
    return it == types.end() ? DRIVE_NO_ROOT_DIR : it->second;
  }
  // B:'s device cannot be opened, as with an empty floppy drive.
  HANDLE CreateFileA(const char* path, DWORD access, DWORD share, DWORD creation,
                     DWORD flags) override {
    if (std::string(path) == "\\\\.\\B:") {
      SetLastError(ERROR_NOT_READY);
      return INVALID_HANDLE_VALUE;
    }
    return CImageVolumeSet::CreateFileA(path, access, share, creation, flags);
  }
};

TEST(DriveListTest, EnumerationTakesOnlyFixedDrivesUnlessAsked) {
  CDriveKinds set;
  ASSERT_EQ(ERROR_SUCCESS, set.MountDevice('A', MakeVolume('a'), "mem-a", false));
  ASSERT_EQ(ERROR_SUCCESS, set.MountDevice('B', MakeVolume('b'), "mem-b", false));
  ASSERT_EQ(ERROR_SUCCESS, set.MountDevice('E', MakeVolume('e'), "mem-e", false));
  ASSERT_EQ(ERROR_SUCCESS, set.MountDevice('F', MakeVolume('f'), "mem-f", false));
  ASSERT_EQ(ERROR_SUCCESS, set.MountDevice('G', MakeVolume('g'), "mem-g", false));
  set.mask = (1u << 0) | (1u << 1) | (1u << 4) | (1u << 5) | (1u << 6);
  set.types = {{'A', DRIVE_REMOVABLE},
               {'B', DRIVE_REMOVABLE},
               {'E', DRIVE_REMOVABLE},
               {'F', DRIVE_FIXED},
               {'G', DRIVE_CDROM}};
  CScriptedPrompt prompt;
  auto roots = [](const std::vector<CDriveData>& d) {
    std::string s;
    for (const auto& x : d) s += x.m_strDrive;
    return s;
  };
  EXPECT_EQ(roots(EnumerateDrives(set, CEnumerateOptions(), prompt)), "F:\\");
  CEnumerateOptions removable;
  removable.m_bIncludeRemovable = true;
  EXPECT_EQ(roots(EnumerateDrives(set, removable, prompt)), "E:\\F:\\");
  // A: reports its image's geometry; B:'s device does not open.
  CEnumerateOptions floppy;
  floppy.m_bIncludeFloppy = true;
  EXPECT_EQ(roots(EnumerateDrives(set, floppy, prompt)), "A:\\F:\\");
  EXPECT_TRUE(prompt.Texts().empty());
  // A drive without its medium fails quietly while the list is built; the
  // process's own mode comes back after.
  ASSERT_FALSE(set.modesAsked.empty());
  for (UINT mode : set.modesAsked) EXPECT_EQ(mode, static_cast<UINT>(SEM_FAILCRITICALERRORS));
  EXPECT_EQ(set.errorMode, 0x8000u);
}

// An image answers the disk geometry a drive page asks of A: and B:: the
// classic floppy formats by size, anything else as a fixed disk, and the
// letters A: and B: count as removable.
TEST(DriveListTest, ImagesAnswerDiskGeometry) {
  CImageVolumeSet set;
  for (EBuildType type : {EBuildType::kFat12, EBuildType::kFat16}) {
    CFatImageBuilder b(type);
    const uint64_t bytes = b.VolumeBytes();
    ASSERT_EQ(ERROR_SUCCESS, set.MountDevice('A', b.Device(), "mem-geometry", false));
    HANDLE h =
        set.CreateFileA("\\\\.\\A:", 0, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DISK_GEOMETRY g;
    DWORD returned = 0;
    EXPECT_FALSE(
        set.DeviceIoControl(h, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &g, 8, &returned));
    ASSERT_TRUE(set.DeviceIoControl(h, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &g, sizeof(g),
                                    &returned));
    EXPECT_EQ(returned, sizeof(g));
    const uint64_t cylinder = uint64_t(g.TracksPerCylinder) * g.SectorsPerTrack * g.BytesPerSector;
    EXPECT_EQ(uint64_t(g.Cylinders.QuadPart), bytes / cylinder);
    if (bytes == 1474560) {
      EXPECT_EQ(g.MediaType, 2);  // F3_1Pt44_512: 80 cylinders, 2 heads, 18 sectors
      EXPECT_EQ(g.TracksPerCylinder, 2u);
      EXPECT_EQ(g.SectorsPerTrack, 18u);
    } else {
      EXPECT_EQ(g.MediaType, 12);  // FixedMedia
    }
    EXPECT_EQ(set.GetDriveTypeA("A:\\"), static_cast<UINT>(DRIVE_REMOVABLE));
    set.CloseHandle(h);
    set.Unmount('A');
  }
}

}  // namespace
}  // namespace vt
