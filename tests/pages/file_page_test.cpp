// The fragmented-file page's logic: every sort key, the request file (one
// volume, UTF-8 names, deleted after reading) and the analysis of exactly
// the files a request names, over a hand-built FAT16 volume.
#include "pages/file_page.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "engine/globals.h"
#include "platform/image/volume_set.h"
#include "platform/recording.h"
#include "tests/image/fat_builder.h"

namespace vt {
namespace {

using test::CFatImageBuilder;
using test::EBuildType;

std::string TempRequest(const std::string& body) {
  static int s_count = 0;
  const std::string path =
      ::testing::TempDir() + "vt-request-" + std::to_string(++s_count) + ".txt";
  std::ofstream(path, std::ios::binary) << body;
  return path;
}

bool Exists(const std::string& path) { return std::ifstream(path).good(); }

TEST(FileRequest, TakesOneVolumeAndIsDeletedAfterReading) {
  std::string file;
  EXPECT_EQ(ParseRequestCommand("/defrag C:\\t\\r.txt", &file), RequestMode::Defrag);
  EXPECT_EQ(file, "C:\\t\\r.txt");
  EXPECT_EQ(ParseRequestCommand("/analyze x", &file), RequestMode::Analyze);
  EXPECT_EQ(ParseRequestCommand("/auto", &file), RequestMode::None);

  // UTF-8 names come through byte for byte, CR LF or not; the first line
  // is the writer's and blank lines are no paths.
  const std::string cyrillic = "V:\\\xD0\x94\xD0\xB0\xD0\xBD\xD0\xBD\xD1\x8B\xD0\xB5.bin";
  std::string path = TempRequest("Vantrel\r\nV:\\a.bin\r\n\r\n" + cyrillic + "\nv:\\Data\n");
  CFileRequest r = ReadRequestFile(path);
  EXPECT_TRUE(r.m_bOpened);
  EXPECT_FALSE(r.m_bMixedVolumes);
  EXPECT_EQ(r.m_strVolume, "V:\\");
  EXPECT_EQ(r.m_paths, (std::vector<std::string>{"V:\\a.bin", cyrillic, "v:\\Data"}));
  EXPECT_FALSE(Exists(path));

  // Two volumes, or a bare root before the volume is known: refused, and
  // the file is gone all the same.
  for (const char* body : {"Vantrel\nC:\\a.txt\nD:\\b.txt\n", "Vantrel\nC:\\\nC:\\a.txt\n"}) {
    path = TempRequest(body);
    r = ReadRequestFile(path);
    EXPECT_TRUE(r.m_bOpened && r.m_bMixedVolumes) << body;
    EXPECT_TRUE(r.m_paths.empty());
    EXPECT_FALSE(Exists(path));
  }
  // A file that is not there: nothing.
  EXPECT_FALSE(ReadRequestFile(path).m_bOpened);
}

TEST(FileSort, HeaderClicksAndTheFirstRefresh) {
  CFileSort s;
  s.BeforeRefresh();
  EXPECT_EQ(s.Column(), FCOL_FRAGMENTS);
  EXPECT_FALSE(s.Ascending());
  s.OnHeaderClick(FCOL_NAME);
  EXPECT_TRUE(s.Ascending());
  s.OnHeaderClick(FCOL_NAME);
  EXPECT_FALSE(s.Ascending());
  s.BeforeRefresh();  // a chosen column stays
  EXPECT_EQ(s.Column(), FCOL_NAME);
}

class FilePageVolume : public ::testing::Test {
 protected:
  void SetUp() override {
    CFatImageBuilder b(EBuildType::kFat16);
    const uint32_t cb = b.ClusterBytes();
    b.AddFile(0, u"Split.bin", "SPLIT   BIN", {40, 41, 60, 61, 80}, std::string(cb * 5, 's'));
    b.AddFile(0, u"\u0414\u0430\u043d\u043d\u044b\u0435.bin", "DANNYE  BIN", {90, 95},
              std::string(cb * 2, 't'));
    b.AddFile(0, u"whole.txt", "WHOLE   TXT", {100}, std::string(cb / 2, 'w'));
    b.AddFile(0, u"Other.bin", "OTHER   BIN", {110, 120}, std::string(cb * 2, 'o'));
    ASSERT_EQ(ERROR_SUCCESS, m_set.MountDevice('V', b.Device(), "mem-file-page", false));
    CEngineServices services;
    services.volume = &m_set;
    services.system = &HostSystem();
    services.messages = &m_sink;
    services.prompt = &m_prompt;
    m_engine = std::make_unique<CDefrag>(services);
    SetCancel(false);
  }
  CImageVolumeSet m_set;
  CRecordingSink m_sink;
  CScriptedPrompt m_prompt;
  std::unique_ptr<CDefrag> m_engine;
  CDriveData m_drive;
};

TEST_F(FilePageVolume, RequestAnalysesExactlyItsFilesAndTheyDefragment) {
  CFileRequest request;
  request.m_strVolume = "V:\\";
  request.m_paths = {"V:\\split.bin", "V:\\\xD0\x94\xD0\xB0\xD0\xBD\xD0\xBD\xD1\x8B\xD0\xB5.bin",
                     "V:\\whole.txt"};
  ASSERT_TRUE(AnalyzeRequestPaths(*m_engine, m_drive, request));
  EXPECT_EQ(m_drive.m_strFileSystem.substr(0, 3), "FAT");
  EXPECT_GT(m_drive.m_dwBytesPerCluster, 0u);
  ASSERT_EQ(m_engine->m_files.GetSize(), 3u);  // not Other.bin
  std::vector<CFileRow> rows = CollectFileRows(*m_engine, false, true, "");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(FragmentedCountText(*m_engine, rows), "Total fragmented files: 2 out of 3");
  EXPECT_EQ(FragmentedRowIndexes(*m_engine, rows).size(), 2u);

  // Every key orders the rows; descending is the reverse.
  auto names = [&](int column, bool ascending) {
    SortFileRows(*m_engine, rows, column, ascending);
    std::string s;
    for (const auto& r : rows) s += r.m_strName.substr(0, 1);
    return s;
  };
  EXPECT_EQ(names(FCOL_NAME, true), "Sw\xD0");
  EXPECT_EQ(names(FCOL_FRAGMENTS, false), "S\xD0w");
  EXPECT_EQ(names(FCOL_CLUSTERS, true), "w\xD0S");
  EXPECT_EQ(names(FCOL_SIZE, false), "S\xD0w");
  EXPECT_EQ(names(FCOL_DEGREE, false).substr(2), "w");
  for (int c : {FCOL_LAST_WRITE, FCOL_FOLDER}) EXPECT_EQ(names(c, true).size(), 3u);

  for (size_t i : FragmentedRowIndexes(*m_engine, rows))
    EXPECT_TRUE(m_engine->DefragFile(m_engine->m_files[rows[i].m_nItem], BestFit, false));
  for (const CFileItem& f : m_engine->m_files) EXPECT_EQ(f.m_fragments.GetSize(), 1u);
}

TEST_F(FilePageVolume, RequestOnAVolumeThatIsNotThereFails) {
  CFileRequest request;
  request.m_strVolume = "Q:\\";
  request.m_paths = {"Q:\\a.bin"};
  EXPECT_FALSE(AnalyzeRequestPaths(*m_engine, m_drive, request));
}

}  // namespace
}  // namespace vt
