// The file page's workers without their window: a request as a command line
// carries it, the batch with its "Move file anyway?" question and the map's
// marks, and the letters the filter and the sort fold, over a FAT16 image.
#include <gtest/gtest.h>

#include <deque>
#include <fstream>

#include "engine/globals.h"
#include "pages/defrag_prompt.h"
#include "pages/file_page.h"
#include "platform/image/volume_set.h"
#include "platform/recording.h"
#include "tests/image/fat_builder.h"

namespace vt {
namespace {

using test::CFatImageBuilder;
using test::EBuildType;

// Answers the prompt dialog from a script, with the check box as scripted.
class CDialogScript : public CScriptedPrompt {
 public:
  void Answer(int answer, bool repeat) { m_script.push_back({answer, repeat}); }
  int ShowDefragPrompt(const std::string& text, bool* repeatChecked) override {
    asked.push_back(text);
    if (m_script.empty()) return IDCANCEL;
    const auto next = m_script.front();
    m_script.pop_front();
    *repeatChecked = next.second;
    return next.first;
  }
  std::vector<std::string> asked;

 private:
  std::deque<std::pair<int, bool>> m_script;
};

class CMarksMap : public IClusterMapHost {
 public:
  void RebuildMap(const CDefrag&) override {}
  void MarkMove(uint64_t, uint64_t, uint32_t) override {}
  void ClearMarks() override { ++cleared; }
  int cleared = 0;
};

const char kArmel[] = "\xC3\x84rmel.bin";  // Ärmel.bin
const char kArger[] = "\xC3\xA4rger.bin";  // ärger.bin

class FileWorkers : public ::testing::Test {
 protected:
  void SetUp() override {
    CFatImageBuilder b(EBuildType::kFat16);
    const uint32_t cb = b.ClusterBytes();
    b.AddFile(0, u"Split.bin", "SPLIT   BIN", {40, 41, 60, 61, 80}, std::string(cb * 5, 's'));
    b.AddFile(0, u"\u00C4rmel.bin", "ARMEL   BIN", {100}, std::string(cb, 'a'));
    b.AddFile(0, u"\u00E4rger.bin", "ARGER   BIN", {104}, std::string(cb, 'g'));
    b.AddFile(0, u"\u0414\u0430\u043d\u043d\u044b\u0435.bin", "DANNYE  BIN", {90, 95},
              std::string(cb * 2, 't'));
    ASSERT_EQ(ERROR_SUCCESS, m_set.MountDevice('V', b.Device(), "mem-file-workers", false));
    CEngineServices services;
    services.volume = &m_set;
    services.system = &HostSystem();
    services.messages = &m_sink;
    services.prompt = &m_prompt;
    services.map = &m_map;
    m_engine = std::make_unique<CDefrag>(services);
    SetCancel(false);
  }
  void TearDown() override {
    SetCancel(false);
    SetCurrentDrive(nullptr);
  }
  std::string RequestFile(const std::string& body) {
    const std::string path =
        ::testing::TempDir() + "vt-workers-" + std::to_string(++m_nFiles) + " with blanks.txt";
    std::ofstream(path, std::ios::binary) << "Vantrel\r\n" << body;
    return path;
  }
  size_t Item(const std::string& name) const {
    for (size_t i = 0; i < m_engine->m_files.GetSize(); ++i)
      if (m_engine->m_files[i].m_strName == name) return i;
    return SIZE_MAX;
  }
  uint64_t FirstLcn(const std::string& name) const {
    return m_engine->m_files[Item(name)].m_nFirstLcn;
  }

  CImageVolumeSet m_set;
  CRecordingSink m_sink;
  CDialogScript m_prompt;
  CMarksMap m_map;
  std::unique_ptr<CDefrag> m_engine;
  CDriveData m_drive;
  int m_nFiles = 0;
};

// What the request worker tells its window, in order.
class CRequestLog : public IFileRequestView {
 public:
  explicit CRequestLog(const CDefrag& engine) : m_engine(engine) {}
  void ClearList() override { calls.push_back("clear"); }
  void OnAnalysisStart() override {
    calls.push_back("start " + CurrentDrive()->m_strDrive + Busy());
  }
  void OnVolumeOpened(uint64_t used) override { calls.push_back(used > 0 ? "range" : "no range"); }
  std::vector<size_t> OnAnalyzed(uint64_t) override {
    calls.push_back("analyzed");
    std::vector<size_t> items;
    for (const CFileRow& row : CollectFileRows(m_engine, false, true, ""))
      items.push_back(row.m_nItem);
    return items;
  }
  void SelectRows(const std::vector<size_t>& rows) override {
    calls.push_back("select " + std::to_string(rows.size()));
  }
  void OnAnalysisEnd() override { calls.push_back("end" + Busy()); }
  std::vector<std::string> calls;

 private:
  static std::string Busy() { return BusyCounter().load() > 0 ? " busy" : " idle"; }
  const CDefrag& m_engine;
};

TEST(RequestCommand, QuotesACommandLineCarriesAreNoPartOfThePath) {
  std::string file;
  // One argument, as a launcher that passes one produces it.
  EXPECT_EQ(ParseRequestCommand("\"/defrag C:\\req.txt\"", &file), RequestMode::Defrag);
  EXPECT_EQ(file, "C:\\req.txt");
  EXPECT_EQ(ParseRequestCommand("/analyze \"C:\\my files\\req.txt\" ", &file),
            RequestMode::Analyze);
  EXPECT_EQ(file, "C:\\my files\\req.txt");
  EXPECT_EQ(ParseRequestCommand("\"/analyze\" \"C:\\r.txt\"", &file), RequestMode::Analyze);
  EXPECT_EQ(file, "C:\\r.txt");
  EXPECT_EQ(ParseRequestCommand("\"/auto\"", &file), RequestMode::None);
}

TEST(DefragPrompt, EachButtonGivesItsAnswerAndTheBoxIsKept) {
  CDefragPrompt p("x.bin does not need to be defragmented.\nMove file anyway?");
  EXPECT_FALSE(p.OnButton(2114));  // the check box closes nothing
  EXPECT_EQ(p.Answer(), IDCANCEL);
  EXPECT_TRUE(p.OnButton(IDOK));  // Return: "Defrag file", the default
  EXPECT_EQ(p.Answer(), IDYES);
  EXPECT_TRUE(p.OnButton(IDNO));
  EXPECT_EQ(p.Answer(), IDNO);
  EXPECT_TRUE(p.OnButton(IDCANCEL));
  EXPECT_EQ(p.Answer(), IDCANCEL);
  EXPECT_FALSE(p.Repeat());
  p.OnRepeatClicked(true);
  EXPECT_TRUE(p.Repeat());
}

TEST_F(FileWorkers, ARequestInOneQuotedArgumentIsReadAnalysedAndDefragmented) {
  const std::string path = RequestFile("V:\\split.bin\r\nV:\\" + std::string(kArmel) + "\r\n");
  CRequestLog log(*m_engine);
  const std::vector<size_t> toDefrag =
      RunFileRequest(*m_engine, m_drive, "\"/defrag " + path + "\"", log);
  EXPECT_FALSE(std::ifstream(path).good()) << "the request file is deleted";
  // The title names the volume; the bar has its range before the scan.
  EXPECT_EQ(log.calls, (std::vector<std::string>{"clear", "start V:\\ busy", "range", "analyzed",
                                                 "select 1", "end busy"}));
  EXPECT_EQ(BusyCounter().load(), 0);
  ASSERT_EQ(m_engine->m_files.GetSize(), 2u);
  EXPECT_EQ(toDefrag, std::vector<size_t>{Item("Split.bin")});
  EXPECT_TRUE(m_prompt.Prompts().empty());

  // All of them contiguous: said through the program's box.
  CRequestLog again(*m_engine);
  EXPECT_TRUE(RunFileRequest(*m_engine, m_drive,
                             "/defrag " + RequestFile("V:\\" + std::string(kArger) + "\n"), again)
                  .empty());
  EXPECT_EQ(m_prompt.Texts(), std::vector<std::string>{kNothingToDefragText});
  // Two volumes: the one-volume box, no analysis; a missing file: nothing.
  CRequestLog mixed(*m_engine);
  RunFileRequest(*m_engine, m_drive, "/analyze " + RequestFile("V:\\a.bin\nW:\\b.bin\n"), mixed);
  EXPECT_EQ(mixed.calls, std::vector<std::string>{"clear"});
  EXPECT_EQ(m_prompt.Texts().back(), kOneVolumeText);
  CRequestLog missing(*m_engine);
  RunFileRequest(*m_engine, m_drive, "\"/analyze " + path + "\"", missing);
  EXPECT_EQ(missing.calls, std::vector<std::string>{"clear"});
  EXPECT_EQ(m_prompt.Prompts().size(), 2u);
}

TEST_F(FileWorkers, TheQuestionIsAskedOncePerBatchAndItsAnswerHolds) {
  CFileRequest request;
  request.m_strVolume = "V:\\";
  request.m_paths = {"V:\\Split.bin", std::string("V:\\") + kArmel, std::string("V:\\") + kArger};
  ASSERT_TRUE(AnalyzeRequestPaths(*m_engine, m_drive, request));
  const std::vector<size_t> whole = {Item(kArmel), Item(kArger)};
  const uint64_t armel = FirstLcn(kArmel), arger = FirstLcn(kArger);

  // "Skip file" with the box ticked: neither moves, one question.
  m_prompt.Answer(IDNO, true);
  DefragFileItems(*m_engine, whole, BestFit, nullptr, nullptr);
  EXPECT_EQ(m_prompt.asked, std::vector<std::string>{std::string(kArmel) +
                                                     " does not need to be defragmented.\nMove "
                                                     "file anyway?"});
  EXPECT_EQ(FirstLcn(kArmel), armel);
  EXPECT_EQ(FirstLcn(kArger), arger);
  EXPECT_FALSE(IsCancelled());

  // "Defrag file" with the box left clear: the first answer holds, both move.
  m_prompt.Answer(IDYES, false);
  DefragFileItems(*m_engine, whole, BestFit, nullptr, nullptr);
  EXPECT_EQ(m_prompt.asked.size(), 2u);
  EXPECT_NE(FirstLcn(kArmel), armel);
  EXPECT_NE(FirstLcn(kArger), arger);

  // "Cancel": the batch stops before the fragmented file after it.
  m_prompt.Answer(IDCANCEL, false);
  DefragFileItems(*m_engine, {Item(kArmel), Item("Split.bin")}, BestFit, nullptr, nullptr);
  EXPECT_EQ(m_prompt.asked.size(), 3u);
  EXPECT_TRUE(IsCancelled());
  EXPECT_EQ(m_engine->m_files[Item("Split.bin")].m_fragments.GetSize(), 3u);
  // Every batch starts with the map's marks cleared.
  EXPECT_EQ(m_map.cleared, 3);
}

// What the file defrag worker tells its window, in order.
class CDefragLog : public IFileDefragView {
 public:
  void OnDefragStart() override { calls.push_back(Busy("start")); }
  void BeforeFile(size_t item) override { calls.push_back("before " + std::to_string(item)); }
  void AfterFile(size_t item) override { calls.push_back("after " + std::to_string(item)); }
  void OnDefragEnd() override { calls.push_back("end"); }
  void RebuildMap() override { calls.push_back(Busy("rebuild")); }
  void OnDefragDone() override { calls.push_back(Busy("done")); }
  std::vector<std::string> calls;

 private:
  static std::string Busy(const char* what) {
    return std::string(what) + (BusyCounter().load() > 0 ? " busy" : " idle");
  }
};

TEST_F(FileWorkers, TheDefragWorkerRebuildsTheMapOnceItsBatchIsDone) {
  CFileRequest request;
  request.m_strVolume = "V:\\";
  request.m_paths = {"V:\\Split.bin", "V:\\\xD0\x94\xD0\xB0\xD0\xBD\xD0\xBD\xD1\x8B\xD0\xB5.bin"};
  ASSERT_TRUE(AnalyzeRequestPaths(*m_engine, m_drive, request));
  SetCancel(true);  // left over from a Stop: a new operation starts clear
  CDefragLog log;
  RunFileDefrag(*m_engine, {0, 7, 1}, BestFit, log);
  EXPECT_EQ(log.calls, (std::vector<std::string>{"start busy", "before 0", "after 0", "before 1",
                                                 "after 1", "end", "rebuild busy", "done idle"}));
  for (const CFileItem& f : m_engine->m_files) EXPECT_EQ(f.m_fragments.GetSize(), 1u);
  EXPECT_EQ(m_map.cleared, 1);
}

TEST_F(FileWorkers, FilterAndNameSortFoldLettersBeyondAToZ) {
  CFileRequest request;
  request.m_strVolume = "V:\\";
  request.m_paths = {std::string("V:\\") + kArmel, std::string("V:\\") + kArger,
                     "V:\\\xD0\x94\xD0\xB0\xD0\xBD\xD0\xBD\xD1\x8B\xD0\xB5.bin"};
  ASSERT_TRUE(AnalyzeRequestPaths(*m_engine, m_drive, request));
  // "данные" in lower case finds "Данные.bin"; "ÄR" finds both umlaut names.
  auto names = [&](const std::string& filter) {
    std::string out;
    for (const CFileRow& r : CollectFileRows(*m_engine, false, true, filter))
      out += r.m_strName + ";";
    return out;
  };
  EXPECT_EQ(names("\xD0\xB4\xD0\xB0\xD0\xBD\xD0\xBD\xD1\x8B\xD0\xB5"),
            "\xD0\x94\xD0\xB0\xD0\xBD\xD0\xBD\xD1\x8B\xD0\xB5.bin;");
  EXPECT_EQ(names("\xC3\x84R"), std::string(kArmel) + ";" + kArger + ";");
  // By name: ärger before Ärmel, whatever the case of the first letter.
  std::vector<CFileRow> rows = CollectFileRows(*m_engine, false, true, "\xC3\xA4r");
  SortFileRows(*m_engine, rows, FCOL_NAME, true);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].m_strName, kArger);
  EXPECT_EQ(CompareFileRows(*m_engine, Item(kArmel), Item(kArger), FCOL_NAME, true), 1);
  EXPECT_EQ(CompareFileRows(*m_engine, Item(kArmel), Item(kArger), FCOL_NAME, false), -1);
  EXPECT_EQ(CompareFileRows(*m_engine, Item(kArmel), 99, FCOL_NAME, true), 0);
}

}  // namespace
}  // namespace vt
