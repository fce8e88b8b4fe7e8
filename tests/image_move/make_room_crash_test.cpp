// A drive pass that makes room, cut by a power loss after each of its
// writes: a small file moves out of the way, then the fragmented file is
// put together around its first piece. Whatever the cut, the image must
// hold every file's bytes as before, nothing owned twice, whichever FAT
// copy is believed, and fsck.fat -n (where installed) must find nothing
// but what an unfinished move may leave (the dirty flag, lost clusters,
// FAT copies differing at a cut between the two writes of one update:
// both copies are surveyed).
#ifndef _WIN32

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/recording.h"
#include "tests/image/fat_builder.h"
#include "tests/image_move/move_support.h"
#include "tests/support/drive_pass_run.h"

namespace vt {
namespace test {
namespace {

// Bytes that differ from cluster to cluster and from file to file.
std::string Bytes(size_t size, char seed) {
  std::string s;
  while (s.size() < size) s += std::to_string(s.size() * 31 + static_cast<size_t>(seed)) + seed;
  s.resize(size);
  return s;
}

// Frag.bin in three pieces of two clusters (10, 20, 30), free runs of two
// after each, small files of two clusters between them, and fillers (too
// large for any free run) before and after: the cheapest room is 10..15,
// where only S1.bin is in the way.
CFatImageBuilder NearlyFull() {
  CFatImageBuilder b(EBuildType::kFat16);
  const uint32_t cb = b.ClusterBytes();
  auto run = [](uint32_t first, uint32_t n) {
    std::vector<uint32_t> c;
    for (uint32_t k = 0; k < n; ++k) c.push_back(first + k);
    return c;
  };
  b.AddFile(0, u"Filler1.bin", "FILLER1 BIN", run(2, 8), Bytes(8 * cb, 'a'));
  b.AddFile(0, u"Frag.bin", "FRAG    BIN", {10, 11, 20, 21, 30, 31}, Bytes(6 * cb - 100, 'f'));
  const uint32_t small[] = {14, 16, 18, 24, 26, 28, 34, 36, 38};
  for (size_t i = 0; i < sizeof(small) / sizeof(small[0]); ++i) {
    const std::string n = std::to_string(i + 1);
    b.AddFile(0, u"S" + std::u16string(n.begin(), n.end()) + u".bin", "S" + n + "      BIN",
              run(small[i], 2), Bytes(2 * cb - 3, static_cast<char>('0' + i)));
  }
  const uint32_t last = b.TotalClusters() + 1;
  b.AddFile(0, u"Filler2.bin", "FILLER2 BIN", run(40, last - 40 + 1), Bytes((last - 39) * cb, 'z'));
  return b;
}

CDrivePassRun RunPass(CMovableVolume& v) {
  CRecordingSink sink;
  return RunMakeRoomPass(v.m_set, sink, "Frag.bin");
}

// fsck.fat -n on the image: "" when it finds nothing an unfinished move
// may not leave, else its output. Skipped ("") without fsck.fat.
std::string FsckFat(const std::vector<uint8_t>& bytes) {
  static const bool have = std::system("command -v fsck.fat >/dev/null 2>&1") == 0;
  if (!have) return std::string();
  const std::string image = ::testing::TempDir() + "vt-make-room-cut.img";
  std::ofstream(image, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  FILE* pipe = ::popen(("fsck.fat -n '" + image + "' 2>&1").c_str(), "r");
  std::string output;
  char buffer[4096];
  size_t n;
  while (pipe && (n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) output.append(buffer, n);
  const int status = pipe ? ::pclose(pipe) : -1;
  std::remove(image.c_str());
  static const std::regex kAccepted(
      "^(fsck\\.fat .*|Leaving filesystem unchanged\\.|Dirty bit is set\\..*| Automatically "
      "removing dirty bit\\.|Reclaimed \\d+ unused clusters? \\(\\d+ bytes\\)\\.|.*: \\d+ files, "
      "\\d+/\\d+ clusters|FATs differ but appear to be intact\\.|  Using first FAT\\.|)$");
  std::istringstream lines(output);
  std::string line;
  std::string problems;
  while (std::getline(lines, line))
    if (!std::regex_match(line, kAccepted)) problems += line + "\n";
  if (!WIFEXITED(status) || WEXITSTATUS(status) > 1) problems += "exit status\n";
  return problems;
}

TEST(MakeRoomCrash, APowerCutAfterAnyWriteOfTheMakeRoomPassLosesNothing) {
  CFatImageBuilder b = NearlyFull();
  const uint64_t size = b.VolumeBytes();
  const std::map<std::string, std::string> files = Survey(b.Bytes(), size).m_files;
  ASSERT_EQ(files.size(), 12u);

  // Uncut: room made, the file whole, 2 + 4 clusters moved (S1 out, Frag's
  // second and third pieces in; the first stays).
  CMovableVolume whole(b.Bytes(), size);
  const CDrivePassRun done = RunPass(whole);
  EXPECT_TRUE(done.m_errors.empty()) << done.m_errors[0];
  EXPECT_EQ(done.m_nFragments, 1u);
  EXPECT_EQ(done.m_nMoved, 6u);
  const CImageSurvey after = Survey(whole.Bytes(), size);
  EXPECT_EQ("", after.m_strProblem);
  EXPECT_EQ(0u, after.m_nLostClusters);
  EXPECT_TRUE(after.m_files == files);
  EXPECT_EQ("", FsckFat(whole.Bytes()));
  const uint64_t writes = whole.m_pPlan->m_nWrites;
  ASSERT_GT(writes, 6u);

  for (uint64_t n = 0; n < writes; ++n) {
    CMovableVolume cut(b.Bytes(), size);
    cut.m_pPlan->m_eMode = CFaultPlan::kCrashAfter;
    cut.m_pPlan->m_nAt = n;
    RunPass(cut);
    const std::string where = "power cut after write " + std::to_string(n);
    const std::vector<uint8_t> bytes = cut.Bytes();
    for (int variant = 0; variant < 2; ++variant) {
      const CImageSurvey s = Survey(variant == 0 ? bytes : WithSecondFat(bytes), size);
      EXPECT_EQ("", s.m_strProblem) << where << (variant ? ", second FAT" : "");
      EXPECT_TRUE(s.m_files == files) << where << (variant ? ", second FAT" : "");
    }
    EXPECT_EQ("", FsckFat(bytes)) << where;
  }
}

}  // namespace
}  // namespace test
}  // namespace vt

#endif  // _WIN32
