// The Windows hosts behind the settings: process priority and affinity, the
// real window's placement, the class registry's extensions, the user's folder.
#include <gtest/gtest.h>

#include <string>

#include "../settings/settings_test_util.h"
#include "app/settings_file.h"
#include "pages/custom_defrag_options.h"
#include "platform/win32/win32_window_placement.h"

namespace vt {
namespace {

using testing_util::CScratchFolder;

TEST(Win32Hosts, ProcessPriorityAndAffinity) {
  CScratchFolder folder;
  SettingsFile settings(folder.File("Vantrel.ini"));
  ASSERT_TRUE(settings.SetInt("ProcessorPriority", 16384));
  ASSERT_TRUE(settings.SetInt("Processors", 1));
  settings.ApplyProcessSettings();
  EXPECT_EQ(::GetPriorityClass(::GetCurrentProcess()),
            static_cast<DWORD>(BELOW_NORMAL_PRIORITY_CLASS));
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  ASSERT_TRUE(::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system));
  EXPECT_EQ(process, static_cast<DWORD_PTR>(1));

  SettingsFile::ResetProcessSettings();
  EXPECT_EQ(::GetPriorityClass(::GetCurrentProcess()), static_cast<DWORD>(NORMAL_PRIORITY_CLASS));
  ASSERT_TRUE(::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system));
  EXPECT_EQ(process, system);
}

TEST(Win32Hosts, RealWindowPlacement) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = ::DefWindowProcA;
  wc.hInstance = ::GetModuleHandleA(nullptr);
  wc.lpszClassName = "VantrelSettingsTestWindow";
  ::RegisterClassA(&wc);
  HWND window = ::CreateWindowA(wc.lpszClassName, "test", WS_OVERLAPPEDWINDOW, 50, 60, 400, 300,
                                nullptr, nullptr, wc.hInstance, nullptr);
  if (!window) GTEST_SKIP() << "no window could be made here";

  CScratchFolder folder;
  SettingsFile settings(folder.File("Vantrel.ini"));
  CWin32WindowPlacement host(window);
  ASSERT_TRUE(settings.SaveWindowPosition(host));
  std::string stored;
  ASSERT_TRUE(settings.ReadValue(kPositionSection, kPositionKey, kPositionBufferChars, &stored));
  EXPECT_EQ(stored, "50,60,450,360");

  CWindowRect screen;
  ASSERT_TRUE(host.GetScreenRect(&screen));
  EXPECT_GT(screen.right - screen.left, 0);
  ASSERT_TRUE(settings.WriteValue(
      kPositionSection, kPositionKey,
      FormatWindowRect({screen.left + 10, screen.top + 20, screen.left + 210, screen.top + 170})));
  ASSERT_TRUE(settings.RestoreWindowPosition(host));
  EXPECT_FALSE(::IsWindowVisible(window));  // restoring does not show it
  WINDOWPLACEMENT wp = {};
  wp.length = sizeof(wp);
  ASSERT_TRUE(::GetWindowPlacement(window, &wp));
  EXPECT_EQ(wp.rcNormalPosition.left, screen.left + 10);
  EXPECT_EQ(wp.rcNormalPosition.bottom, screen.top + 170);

  ASSERT_TRUE(settings.WriteValue(
      kPositionSection, kPositionKey,
      FormatWindowRect({screen.left, screen.top, screen.right + 1, screen.bottom})));
  EXPECT_FALSE(settings.RestoreWindowPosition(host));
  ::DestroyWindow(window);
}

TEST(Win32Hosts, KnownExtensionsFromTheClassRegistry) {
  const std::vector<std::string> extensions = KnownExtensions(HostClassKeys());
  ASSERT_FALSE(extensions.empty());
  bool ini = false;
  for (const auto& e : extensions) {
    EXPECT_EQ(e[0], '.') << e;
    if (e == ".ini") ini = true;
  }
  EXPECT_TRUE(ini);
}

TEST(Win32Hosts, UserFileInTheApplicationDataFolder) {
  SettingsFile settings;
  const std::string suffix = "\\Norvane Utilities\\Vantrel\\Vantrel.ini";
  ASSERT_GT(settings.Path().size(), suffix.size());
  EXPECT_EQ(settings.Path().substr(settings.Path().size() - suffix.size()), suffix);
  const std::string folder = settings.Path().substr(0, settings.Path().size() - 12);
  const DWORD attributes = ::GetFileAttributesA(folder.c_str());
  EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));
}

}  // namespace
}  // namespace vt
