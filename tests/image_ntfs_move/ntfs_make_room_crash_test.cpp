// A drive pass that makes room on the nearly full NTFS volume of
// tests/tools/make_full_ntfs.py (small), cut by a power loss: after every
// one of the writes of its first make-room moves, and at points spread over
// the rest. Whatever the cut, ntfsfix -n must accept the volume and an
// ntfs-3g mount read every file with its checksum from before.
#ifndef _WIN32

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <string>

#include "engine/globals.h"
#include "platform/recording.h"
#include "tests/image_ntfs_move/ntfs_move_support.h"
#include "tests/support/drive_pass_run.h"

namespace vt {
namespace test {
namespace {

// Notes how many writes the volume had been asked for when the first
// "Making room" text came; stops the pass (as a cancel would) once the
// writes are past `stopAfter`: after a power cut the rest is lost anyway.
class CRoomWatch : public CRecordingSink {
 public:
  CRoomWatch(const CFaultPlan& plan, uint64_t stopAfter) : m_plan(plan), m_nStopAfter(stopAfter) {}
  LRESULT Send(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) override {
    if (m_plan.m_nWrites > m_nStopAfter) SetCancel(true);
    if (msg == UM_PROGRESS && wParam == PROGRESS_TEXT && !m_bSeen &&
        std::string(reinterpret_cast<const char*>(lParam)).rfind("Making room: ", 0) == 0) {
      m_bSeen = true;
      m_nWrites = m_plan.m_nWrites;
    }
    return CRecordingSink::Send(wnd, msg, wParam, lParam);
  }
  bool m_bSeen = false;
  uint64_t m_nWrites = 0;

 private:
  const CFaultPlan& m_plan;
  uint64_t m_nStopAfter;
};

TEST(NtfsMakeRoomCrash, APowerCutDuringMakingRoomLosesNothing) {
  std::string why;
  if (!NtfsToolsUsable(&why)) GTEST_SKIP() << why;
  const char* source = std::getenv("VT_SOURCE_DIR");
  const std::string base = "/tmp/vt-make-room-ntfs-" + std::to_string(::getpid());
  const std::string image = base + ".img";
  const std::string maker = std::string(source ? source : ".") + "/tests/tools/make_full_ntfs.py";
  const int made =
      std::system(("python3 '" + maker + "' '" + image + "' small >/dev/null").c_str());
  if (WIFEXITED(made) && WEXITSTATUS(made) == 77) GTEST_SKIP() << "no ntfs-3g mount (needs root)";
  ASSERT_EQ(made, 0) << maker;
  std::map<std::string, std::string> before;
  ASSERT_TRUE(MountedChecksums(image, &before, &why)) << why;
  const std::vector<uint8_t> bytes = ReadWholeFile(image);
  std::remove(image.c_str());

  auto judge = [&](const std::vector<uint8_t>& now, const std::string& where) {
    const std::string cut = base + ".cut.img";
    ASSERT_TRUE(WriteWholeFile(cut, now));
    std::string output;
    EXPECT_EQ(0, NtfsfixCheck(cut, &output)) << where << ": " << output;
    std::map<std::string, std::string> sha;
    std::string error;
    EXPECT_TRUE(MountedChecksums(cut, &sha, &error)) << where << ": " << error;
    EXPECT_TRUE(sha == before) << where;
    std::remove(cut.c_str());
  };

  // Uncut: the database ends whole.
  CNtfsMovable whole(bytes);
  CRoomWatch watch(*whole.m_pPlan, ~0ull);
  const CDrivePassRun done = RunMakeRoomPass(whole.m_set, watch, "data.db");
  ASSERT_TRUE(done.m_bRan);
  EXPECT_TRUE(done.m_errors.empty()) << done.m_errors[0];
  EXPECT_EQ(done.m_nFragments, 1u);
  ASSERT_TRUE(watch.m_bSeen);
  judge(whole.Bytes(), "uncut");
  const uint64_t writes = whole.m_pPlan->m_nWrites;
  const uint64_t from = watch.m_nWrites;
  ASSERT_GT(writes, from + 8);

  // Every write of the first make-room move, then five points spread over
  // the rest of the pass.
  std::vector<uint64_t> cuts;
  for (uint64_t n = from; n < from + 8; ++n) cuts.push_back(n);
  for (uint64_t k = 1; k <= 5; ++k) cuts.push_back(from + 8 + (writes - from - 8) * k / 6);
  for (uint64_t n : cuts) {
    CNtfsMovable cut(bytes);
    cut.m_pPlan->m_eMode = CFaultPlan::kCrashAfter;
    cut.m_pPlan->m_nAt = n;
    CRoomWatch stop(*cut.m_pPlan, n + 64);
    RunMakeRoomPass(cut.m_set, stop, "data.db");
    judge(cut.Bytes(),
          "power cut after write " + std::to_string(n) + " of " + std::to_string(writes));
  }
}

}  // namespace
}  // namespace test
}  // namespace vt

#endif  // _WIN32
