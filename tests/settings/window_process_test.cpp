#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/settings_file.h"
#include "settings_test_util.h"

#ifndef _WIN32
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>
#endif

namespace vt {
namespace {

using testing_util::CScratchFolder;
using testing_util::ReadBytes;
using testing_util::WriteBytes;

class CFakeWindow : public IWindowPlacementHost {
 public:
  bool IsMinimized() override { return m_bMinimized; }
  bool IsVisible() override { return m_bVisible; }
  bool GetPlacement(CWindowPlacement* placement) override {
    *placement = m_placement;
    return true;
  }
  bool SetPlacement(const CWindowPlacement& placement) override {
    m_placement = placement;
    ++m_nSets;
    return true;
  }
  bool GetScreenRect(CWindowRect* rect) override {
    *rect = m_screen;
    return true;
  }

  bool m_bMinimized = false;
  bool m_bVisible = false;
  CWindowPlacement m_placement;
  CWindowRect m_screen{0, 0, 1024, 768};
  int m_nSets = 0;
};

CWindowPlacement Placement(int l, int t, int r, int b, int show) {
  CWindowPlacement p;
  p.m_rcNormal = CWindowRect{l, t, r, b};
  p.m_nShowCmd = show;
  return p;
}

TEST(WindowPosition, SavedUnlessMinimised) {
  CScratchFolder folder;
  SettingsFile settings(folder.File("Vantrel.ini"));
  CFakeWindow window;
  window.m_placement = Placement(-5, 10, 600, 400, 1);
  ASSERT_TRUE(settings.SaveWindowPosition(window));
  EXPECT_EQ(ReadBytes(settings.Path()), "[Position]\r\nVantrel=-5,10,600,400\r\n");
  // Minimised and closed: the last normal position stays.
  window.m_bMinimized = true;
  window.m_placement = Placement(1, 2, 3, 4, 2);
  EXPECT_FALSE(settings.SaveWindowPosition(window));
  std::string stored;
  ASSERT_TRUE(settings.ReadValue(kPositionSection, kPositionKey, kPositionBufferChars, &stored));
  EXPECT_EQ(stored, "-5,10,600,400");
}

TEST(WindowPosition, RestoredOnlyWhenCompleteAndOnScreen) {
  CScratchFolder folder;
  const std::string path = folder.File("Vantrel.ini");
  SettingsFile settings(path);
  CFakeWindow window;
  window.m_placement = Placement(0, 0, 10, 10, 5);
  EXPECT_FALSE(settings.RestoreWindowPosition(window));  // nothing stored

  struct Case {
    const char* stored;
    bool applied;
  } cases[] = {
      {"10,20,800,600", true},
      {"0,0,1024,768", true},             // exactly the screen
      {" 10 , 20 , 800 , 600 ,9", true},  // blanks; a fifth number is not read
      {"10,20,800", false},
      {"", false},
      {"10,20,x,600", false},
      {"-1,20,800,600", false},   // left of the screen
      {"10,20,1025,600", false},  // right edge beyond the screen's
      {"10,-1,800,600", false},
      {"10,20,800,769", false},
      {"800,20,10,600", false},   // no width
      {"10,600,800,600", false},  // no height
      {"10,20,99999999999,600", false},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(settings.WriteValue(kPositionSection, kPositionKey, c.stored));
    window.m_nSets = 0;
    window.m_placement = Placement(0, 0, 10, 10, 5);
    EXPECT_EQ(settings.RestoreWindowPosition(window), c.applied) << c.stored;
    EXPECT_EQ(window.m_nSets, c.applied ? 1 : 0) << c.stored;
  }

  // Applied before the window is first shown: it stays hidden.
  ASSERT_TRUE(settings.WriteValue(kPositionSection, kPositionKey, "10,20,800,600"));
  window.m_placement = Placement(0, 0, 10, 10, 1);
  ASSERT_TRUE(settings.RestoreWindowPosition(window));
  EXPECT_EQ(window.m_placement.m_nShowCmd, kShowHidden);
  EXPECT_EQ(window.m_placement.m_rcNormal.left, 10);
  EXPECT_EQ(window.m_placement.m_rcNormal.bottom, 600);
  // A visible window keeps its show state.
  window.m_bVisible = true;
  window.m_placement = Placement(0, 0, 10, 10, 3);
  ASSERT_TRUE(settings.RestoreWindowPosition(window));
  EXPECT_EQ(window.m_placement.m_nShowCmd, 3);

  // A screen that does not start at 0 (a monitor to the left).
  window.m_screen = CWindowRect{-1280, 0, 1024, 768};
  ASSERT_TRUE(settings.WriteValue(kPositionSection, kPositionKey, "-1000,0,-200,500"));
  EXPECT_TRUE(settings.RestoreWindowPosition(window));
}

class CProcessRecorder : public IProcessControl {
 public:
  bool SetPriorityClass(DWORD priorityClass) override {
    m_calls.push_back("priority " + std::to_string(priorityClass));
    return true;
  }
  bool SetAffinityMask(uint64_t mask) override {
    m_calls.push_back("affinity " + std::to_string(mask));
    return true;
  }
  bool GetSystemAffinityMask(uint64_t* mask) override {
    *mask = 0xF;
    return true;
  }
  std::vector<std::string> m_calls;
};

TEST(ProcessSettings, AppliedFromTheKeysAndReset) {
  CScratchFolder folder;
  SettingsFile settings(folder.File("Vantrel.ini"));
  CProcessRecorder process;
  settings.ApplyProcessSettings(process);
  EXPECT_TRUE(process.m_calls.empty());  // defaults: leave the process alone

  ASSERT_TRUE(settings.SetInt("ProcessorPriority", 16384));
  ASSERT_TRUE(settings.SetInt("Processors", 5));
  settings.ApplyProcessSettings(process);
  EXPECT_EQ(process.m_calls, (std::vector<std::string>{"priority 16384", "affinity 5"}));

  // A mask with the top bit names processor 31, not every processor.
  process.m_calls.clear();
  ASSERT_TRUE(settings.SetInt("Processors", INT32_MIN));
  ASSERT_TRUE(settings.SetInt("ProcessorPriority", 0));
  settings.ApplyProcessSettings(process);
  EXPECT_EQ(process.m_calls, (std::vector<std::string>{"affinity 2147483648"}));

  process.m_calls.clear();
  SettingsFile::ResetProcessSettings(process);
  EXPECT_EQ(process.m_calls, (std::vector<std::string>{"affinity 15", "priority 32"}));
}

#ifndef _WIN32

// Runs check in a child process, since nice levels cannot always be raised
// back; returns its exit status.
template <typename F>
int InChild(F check) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(check());
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

TEST(ProcessSettings, HostReachesEveryThread) {
  const int rc = InChild([] {
    std::atomic<bool> stop{false};
    std::atomic<pid_t> tid{0};
    std::thread other([&] {
      tid = static_cast<pid_t>(::syscall(SYS_gettid));
      while (!stop) std::this_thread::yield();
    });
    while (tid == 0) std::this_thread::yield();
    IProcessControl& host = HostProcessControl();
    cpu_set_t initial;
    CPU_ZERO(&initial);
    ::sched_getaffinity(0, sizeof(initial), &initial);
    int result = 0;
    if (!host.SetPriorityClass(kPriorityBelowNormal)) result = 1;
    errno = 0;
    if (::getpriority(PRIO_PROCESS, static_cast<id_t>(tid.load())) != 10) result = 2;
    if (!host.SetAffinityMask(1)) result = 3;
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(tid, sizeof(set), &set) != 0 || CPU_COUNT(&set) != 1 ||
        !CPU_ISSET(0, &set))
      result = 4;
    uint64_t all = 0;
    if (!host.GetSystemAffinityMask(&all) || !host.SetAffinityMask(all)) result = 5;
    if (::sched_getaffinity(tid, sizeof(set), &set) != 0 || CPU_COUNT(&set) < CPU_COUNT(&initial))
      result = 6;
    if (host.SetAffinityMask(0)) result = 7;  // no processor at all is refused
    stop = true;
    other.join();
    return result;
  });
  EXPECT_EQ(rc, 0);
}

#endif

}  // namespace
}  // namespace vt
