// An Explorer "/defrag " request on an NTFS volume made by mkntfs and
// ntfs-3g, carried out by the operations the fragmented-file page runs:
// read the request file, analyse exactly its paths, take the fragmented
// rows, defragment them. Judged by the NTFS tools: ntfsinfo's runs, ntfsfix -n
// and every file read back through an ntfs-3g mount.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <string>

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include "engine/globals.h"
#include "pages/file_page.h"
#include "platform/image/volume_set.h"
#include "platform/recording.h"
#include "tests/image_ntfs_move/ntfs_move_support.h"

namespace vt {
namespace {

const char* const kCafe = "Café crème.bin";
const char* const kGreek = "Ελληνικά/Αρχείο δεδομένων.dat";
const char* const kFolder = "Документы";
const std::set<std::string> kInFolder = {"Документы/отчёт.txt", "Документы/日本語のファイル.bin",
                                         "Документы/子フォルダ/深い.bin"};
const char* const kWhole = "Документы/малый.txt";
const char* const kNotNamed = "Other fragmented.bin";

[[maybe_unused]] std::string Windows(const std::string& rel) {
  std::string out = "V:\\" + rel;
  for (char& c : out)
    if (c == '/') c = '\\';
  return out;
}

[[maybe_unused]] size_t Fragments(const std::string& image, const std::string& rel) {
  size_t n = 0;
  int64_t end = -2;
  for (const auto& run : test::NtfsinfoRuns(image, rel)) {
    if (run[1] < 0) continue;
    if (run[1] != end) ++n;
    end = run[1] + run[2];
  }
  return n;
}

TEST(NtfsRequest, NamedFilesAndAFolderEndInOneFragmentEach) {
#ifdef _WIN32
  GTEST_SKIP() << "the NTFS tools are not run under Wine";
#else
  std::string why;
  if (!test::NtfsToolsUsable(&why)) GTEST_SKIP() << why;
  const char* source = std::getenv("VT_SOURCE_DIR");
  const std::string image = ::testing::TempDir() + "vt-request-ntfs.img";
  const std::string script = std::string(source ? source : ".") +
                             "/tests/tools/make_request_ntfs_image.sh '" + image + "'";
  const int made = std::system(("bash " + script + " >/dev/null").c_str());
  if (WIFEXITED(made) && WEXITSTATUS(made) == 77) GTEST_SKIP() << "no mkntfs or ntfs-3g mount";
  ASSERT_EQ(made, 0) << script;

  std::map<std::string, std::string> before;
  ASSERT_TRUE(test::MountedChecksums(image, &before, &why)) << why;
  ASSERT_EQ(before.size(), 7u);
  for (const char* rel : {kCafe, kGreek, kNotNamed}) ASSERT_GT(Fragments(image, rel), 1u) << rel;
  for (const auto& rel : kInFolder) ASSERT_GT(Fragments(image, rel), 1u) << rel;

  {
    CImageVolumeSet set;
    ASSERT_EQ(set.Mount('V', image, false, &why), ERROR_SUCCESS) << why;
    CRecordingSink sink;
    CScriptedPrompt prompt;
    CEngineServices services;
    services.volume = &set;
    services.system = &HostSystem();
    services.messages = &sink;
    services.prompt = &prompt;
    CDefrag engine(services);
    CDriveData drive;
    SetCancel(false);
    SetCurrentDrive(&drive);

    const std::string requestFile = ::testing::TempDir() + "vt-request-ntfs.txt";
    std::ofstream(requestFile, std::ios::binary)
        << "Vantrel\r\n"
        << Windows(kCafe) << "\r\n"
        << Windows(kGreek) << "\r\n"
        << Windows(kFolder) << "\r\n";
    std::string file;
    ASSERT_EQ(ParseRequestCommand("/defrag " + requestFile, &file), RequestMode::Defrag);
    const CFileRequest request = ReadRequestFile(file);
    ASSERT_TRUE(request.m_bOpened && !request.m_bMixedVolumes);
    ASSERT_TRUE(AnalyzeRequestPaths(engine, drive, request));
    EXPECT_TRUE(drive.m_bNtfs);

    // Every file of the request is listed with its real path (the folder's
    // files and its sub-folder's included), nothing else; folders whose
    // index lies in their record hold no clusters and are not listed.
    const std::vector<CFileRow> rows = CollectFileRows(engine, drive.m_bNtfs, true, "");
    std::set<std::string> listed;
    for (const auto& row : rows) listed.insert(engine.GetItemPath(engine.m_files[row.m_nItem]));
    std::set<std::string> expected = {Windows(kCafe), Windows(kGreek), Windows(kWhole)};
    for (const auto& rel : kInFolder) expected.insert(Windows(rel));
    EXPECT_EQ(listed, expected);
    EXPECT_TRUE(engine.m_errors.IsEmpty());

    std::vector<size_t> items;
    for (size_t i : FragmentedRowIndexes(engine, rows)) items.push_back(rows[i].m_nItem);
    EXPECT_GE(items.size(), 5u);
    size_t done = 0;
    DefragFileItems(engine, items, BestFit, nullptr, [&](size_t) { ++done; });
    EXPECT_EQ(done, items.size());
    for (size_t item : items)
      EXPECT_EQ(engine.m_files[item].m_fragments.GetSize(), 1u)
          << engine.GetItemPath(engine.m_files[item]);
    EXPECT_TRUE(prompt.Texts().empty()) << prompt.Texts().front();
    EXPECT_GT(engine.m_nMovedClusters, 0u);
    SetCurrentDrive(nullptr);
    engine.CloseVolume();
    set.Unmount('V');
  }

  std::string out;
  EXPECT_EQ(test::NtfsfixCheck(image, &out), 0) << out;
  EXPECT_EQ(out.find("rror"), std::string::npos) << out;
  for (const char* rel : {kCafe, kGreek, kWhole}) EXPECT_EQ(Fragments(image, rel), 1u) << rel;
  for (const auto& rel : kInFolder) EXPECT_EQ(Fragments(image, rel), 1u) << rel;
  EXPECT_GT(Fragments(image, kNotNamed), 1u);  // not named: not touched
  std::map<std::string, std::string> after;
  ASSERT_TRUE(test::MountedChecksums(image, &after, &why)) << why;
  EXPECT_EQ(after, before);
  std::remove(image.c_str());
#endif
}

}  // namespace
}  // namespace vt
