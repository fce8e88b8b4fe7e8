// The Windows media query and retrim: every drive answers (unknown where the
// storage does not say), and where the system has no Storage Management API
// a retrim fails with ERROR_OLD_WIN_VERSION and does nothing. The retrim is
// only asked under Wine, which has no such API: on Windows it would retrim
// the machine's own drive.
#include <gtest/gtest.h>

#include "platform/win32/win32_volume_ops.h"

namespace vt {
namespace {

bool UnderWine() {
  HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

TEST(Win32Media, EveryDriveAnswersAndNoApiMeansNoRetrim) {
  CWin32VolumeOps ops;
  VOLUME_MEDIA_INFO media{-1, -1};
  ASSERT_TRUE(ops.GetVolumeMediaA("C:\\", &media));
  EXPECT_TRUE(media.SeekPenalty == SEEK_PENALTY_UNKNOWN || media.SeekPenalty == SEEK_PENALTY_YES ||
              media.SeekPenalty == SEEK_PENALTY_NO);
  EXPECT_TRUE(media.TrimSupported == TRUE || media.TrimSupported == FALSE);
  EXPECT_FALSE(ops.GetVolumeMediaA(nullptr, &media));
  ULONGLONG trimmed = 1;
  EXPECT_FALSE(ops.RetrimVolumeA("", &trimmed));
  EXPECT_EQ(ops.GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  if (!UnderWine()) GTEST_SKIP() << "a retrim here would retrim this machine's drive";
  trimmed = 1;
  EXPECT_FALSE(ops.RetrimVolumeA("C:\\", &trimmed));
  EXPECT_EQ(ops.GetLastError(), static_cast<DWORD>(ERROR_OLD_WIN_VERSION));
  EXPECT_EQ(trimmed, 0u);
}

}  // namespace
}  // namespace vt
