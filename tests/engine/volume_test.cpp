#include <gtest/gtest.h>

#include "engine/defrag.h"
#include "engine/drive_info.h"
#include "tests/support/engine_fixture.h"

namespace vt {
namespace test {
namespace {

using VolumeOpen = EngineTest;

TEST_F(VolumeOpen, FatVolumeOpensWithoutReservedRanges) {
  volume.totalClusters = 5000;
  ASSERT_TRUE(Open());
  EXPECT_EQ(engine->m_strRoot, "C:");
  EXPECT_EQ(engine->m_strDrive, "C:\\");
  EXPECT_EQ(engine->m_strVolume, "\\\\?\\Volume{fake-C}");
  EXPECT_EQ(engine->m_nTotalClusters, 5000u);
  EXPECT_FALSE(engine->m_bNtfs);
  EXPECT_FALSE(engine->m_mftRange.IsPresent());
  EXPECT_FALSE(engine->m_mftZoneRange.IsPresent());
  EXPECT_FALSE(engine->m_mftMirrorRange.IsPresent());
  EXPECT_TRUE(engine->m_hVolume.IsValid());
  EXPECT_TRUE(prompt.Prompts().empty());
  // The volume is opened for reading with read and write sharing, nothing more.
  ASSERT_FALSE(volume.opens.empty());
  EXPECT_EQ(volume.opens[0].access, GENERIC_READ);
  EXPECT_EQ(volume.opens[0].share, static_cast<DWORD>(FILE_SHARE_READ | FILE_SHARE_WRITE));
  EXPECT_EQ(volume.opens[0].flags, 0u);
}

TEST_F(VolumeOpen, ClusterLimitIsInclusive) {
  volume.totalClusters = 0x7FFFFFFF;
  volume.used.clear();
  EXPECT_TRUE(Open());
  EXPECT_TRUE(prompt.Prompts().empty());

  volume.totalClusters = 0x80000000ull;
  EXPECT_FALSE(Open());
  ASSERT_EQ(prompt.Prompts().size(), 1u);
  EXPECT_EQ(prompt.Prompts()[0].text,
            "You will need the 64-bit version of this utility to support this drive.");
  EXPECT_EQ(prompt.Prompts()[0].type & MB_ICONERROR, static_cast<UINT>(MB_ICONERROR));
  // The handle stays open until the next reset.
  EXPECT_TRUE(engine->m_hVolume.IsValid());
  engine->Reset();
  EXPECT_FALSE(engine->m_hVolume.IsValid());
  EXPECT_EQ(volume.openHandles(), 0u);
}

TEST_F(VolumeOpen, FailuresShowTheirMessages) {
  {
    volume.fsFlags |= FILE_READ_ONLY_VOLUME;
    EXPECT_FALSE(Open());
    EXPECT_EQ(prompt.Texts().back(), "Drive is read-only.");
    volume.fsFlags &= ~static_cast<DWORD>(FILE_READ_ONLY_VOLUME);
  }
  {
    volume.volumeNameError = ERROR_FILE_NOT_FOUND;
    EXPECT_FALSE(Open());
    // The system text with its line end turned into a blank.
    EXPECT_EQ(prompt.Texts().back(), "The system cannot find the file specified. ");
    volume.volumeNameError = 0;
  }
  {
    volume.volumeOpenError = 99;
    EXPECT_FALSE(Open());
    EXPECT_EQ(prompt.Texts().back(), "Error 99. Second line. ");
    volume.volumeOpenError = 0;
  }
  {
    volume.notMounted = true;
    EXPECT_FALSE(Open());
    EXPECT_EQ(prompt.Texts().back(), "Volume is not mounted.");
    EXPECT_FALSE(engine->m_hVolume.IsValid());
    volume.notMounted = false;
  }
  {
    volume.bitmapError = ERROR_ACCESS_DENIED;
    EXPECT_FALSE(Open());
    EXPECT_EQ(prompt.Texts().back(), "Cannot defragment drive C:");
    EXPECT_FALSE(engine->m_hVolume.IsValid());
    volume.bitmapError = 0;
  }
  EXPECT_EQ(volume.openHandles(), 0u);
  EXPECT_TRUE(Open());
}

TEST_F(VolumeOpen, NtfsReservedRanges) {
  volume.fsName = "NTFS";
  volume.hasNtfsData = true;
  volume.ntfsData.BytesPerCluster = 4096;
  volume.ntfsData.MftValidDataLength.QuadPart = 4096 * 64 + 100;
  volume.ntfsData.MftStartLcn.QuadPart = 300;
  volume.ntfsData.Mft2StartLcn.QuadPart = 500;
  volume.ntfsData.MftZoneStart.QuadPart = 364;
  volume.ntfsData.MftZoneEnd.QuadPart = 400;
  ASSERT_TRUE(Open());
  EXPECT_TRUE(engine->m_bNtfs);
  EXPECT_EQ(engine->m_mftRange.m_nFirst, 300u);
  EXPECT_EQ(engine->m_mftRange.m_nLast, 364u);
  EXPECT_EQ(engine->m_mftZoneRange.m_nFirst, 364u);
  EXPECT_EQ(engine->m_mftZoneRange.m_nLast, 400u);
  EXPECT_EQ(engine->m_mftMirrorRange.m_nFirst, 500u);
  EXPECT_EQ(engine->m_mftMirrorRange.m_nLast, 564u);
}

TEST_F(VolumeOpen, VolumeClusters) {
  ASSERT_TRUE(Open());
  volume.totalClusters = 777;
  EXPECT_EQ(engine->GetVolumeClusters(), 777u);
  EXPECT_EQ(engine->m_dwBytesPerCluster, 4096u);

  volume.diskFreeSpaceError = ERROR_ACCESS_DENIED;
  EXPECT_EQ(engine->GetVolumeClusters(), 0u);
  EXPECT_EQ(prompt.Texts().back(), "Error in call to GetDiskFreeSpace");

  size_t shown = prompt.Prompts().size();
  engine->m_strRoot = "\\\\server";
  EXPECT_EQ(engine->GetVolumeClusters(), 0u);
  EXPECT_EQ(prompt.Prompts().size(), shown);
}

TEST_F(VolumeOpen, OpenFileForMoveTriesFourWaysWithBackupSemantics) {
  FakeNode* folder = volume.root.AddFolder("Data");
  ASSERT_TRUE(Open());
  volume.opens.clear();
  HANDLE h = engine->OpenFileForMove("C:\\Data");
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  volume.CloseHandle(h);
  ASSERT_EQ(volume.opens.size(), 1u);
  EXPECT_EQ(volume.opens[0].access, 0x20u);
  EXPECT_EQ(volume.opens[0].share, 0u);

  folder->openError = ERROR_SHARING_VIOLATION;
  volume.opens.clear();
  EXPECT_EQ(engine->OpenFileForMove("C:\\Data"), INVALID_HANDLE_VALUE);
  ASSERT_EQ(volume.opens.size(), 4u);
  const DWORD access[] = {0x20, 0x87, GENERIC_READ, 0x80};
  const DWORD share[] = {0, 7, 7, 3};
  const DWORD flags[] = {FILE_FLAG_BACKUP_SEMANTICS, FILE_FLAG_BACKUP_SEMANTICS,
                         FILE_FLAG_BACKUP_SEMANTICS, 0xAA000000u};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(volume.opens[i].access, access[i]) << i;
    EXPECT_EQ(volume.opens[i].share, share[i]) << i;
    EXPECT_EQ(volume.opens[i].flags, flags[i]) << i;
    EXPECT_NE(volume.opens[i].flags & FILE_FLAG_BACKUP_SEMANTICS, 0u) << i;
  }
  EXPECT_EQ(volume.GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
}

TEST_F(VolumeOpen, OpeningAnotherDriveDropsTheFirstOnesFiles) {
  volume.root.AddFile("a.txt", 100, {{1, 10}});
  ASSERT_TRUE(Analyze());
  ASSERT_EQ(engine->m_files.GetSize(), 1u);
  ASSERT_FALSE(engine->m_freeRuns.IsEmpty());

  CDriveData other;
  other.m_strDrive = "C:\\";
  SetCurrentDrive(&other);
  ASSERT_TRUE(engine->OpenVolume(&other));
  EXPECT_EQ(engine->m_files.GetSize(), 0u);
  EXPECT_TRUE(engine->m_freeRuns.IsEmpty());
  EXPECT_EQ(engine->m_files.GetGrowBy(), 32768u);
}

TEST_F(VolumeOpen, ResetClearsCountersOfTheCurrentDrive) {
  volume.root.AddFile("a.txt", 100, {{1, 10}});
  ASSERT_TRUE(Analyze());
  EXPECT_EQ(drive.m_nFiles, 1u);
  EXPECT_EQ(drive.m_nFolders, 1u);
  engine->Reset();
  EXPECT_EQ(drive.m_nFiles, 0u);
  EXPECT_EQ(drive.m_nFolders, 0u);
  EXPECT_EQ(engine->m_nTotalClusters, 0u);
  EXPECT_EQ(engine->m_hNotifyWnd, nullptr);
}

TEST_F(VolumeOpen, VersionRule) {
  struct Case {
    DWORD major, minor;
    bool xp;
  } cases[] = {{5, 0, false}, {5, 1, true}, {5, 2, true}, {6, 0, true}, {6, 3, true},
               {10, 0, true},  {11, 0, true}, {5, 3, true}, {4, 9, false}};
  for (const Case& c : cases) {
    system.major = c.major;
    system.minor = c.minor;
    MakeEngine();
    EXPECT_EQ(engine->m_bXPOrLater, c.xp) << c.major << "." << c.minor;
  }
}

TEST_F(VolumeOpen, EnablePrivilege) {
  system.adjustCalls = 0;
  EXPECT_EQ(engine->EnablePrivilege("SeBackupPrivilege", true), 0u);
  EXPECT_EQ(system.adjustCalls, 2);
  EXPECT_EQ(system.lastAttributes, static_cast<DWORD>(SE_PRIVILEGE_ENABLED));
  EXPECT_EQ(engine->EnablePrivilege("SeBackupPrivilege", false), 0u);
  EXPECT_EQ(system.lastAttributes, 0u);

  for (DWORD step = 1; step <= 4; ++step) {
    system.failStep = step;
    system.adjustCalls = 0;
    system.failError = ERROR_NO_SUCH_PRIVILEGE;
    EXPECT_EQ(engine->EnablePrivilege("SeBackupPrivilege", true), 0x80070000u | 1313u) << step;
  }
  system.failStep = 1;
  system.failError = 0;
  EXPECT_EQ(engine->EnablePrivilege("SeBackupPrivilege", true), 0u);
}

TEST(DriveInfo, ReadsGeometryAndFileSystem) {
  CFakeVolume volume('D');
  volume.fsName = "NTFS";
  volume.totalClusters = 100;
  volume.used.assign(100, 0);
  volume.SetUsed(0, 40);
  CDriveData drive;
  std::string error;
  ASSERT_TRUE(ReadDriveData(volume, "D:\\", drive, &error));
  EXPECT_TRUE(drive.m_bNtfs);
  EXPECT_EQ(drive.m_strDrive, "D:\\");
  EXPECT_EQ(drive.m_nDriveIndex, 3u);
  EXPECT_EQ(drive.m_dwBytesPerCluster, 4096u);
  EXPECT_EQ(drive.m_nDiskSize, 100u * 4096);
  EXPECT_EQ(drive.m_nFreeBytes, 60u * 4096);

  volume.fsName = "ntfs";
  ASSERT_TRUE(ReadDriveData(volume, "D:\\", drive, &error));
  EXPECT_FALSE(drive.m_bNtfs);  // the comparison is exact

  volume.diskFreeSpaceError = ERROR_ACCESS_DENIED;
  EXPECT_FALSE(ReadDriveData(volume, "D:\\", drive, &error));
  // The system's own text, line ends turned into blanks.
  std::string expected;
  for (char c : HostSystem().FormatSystemMessage(ERROR_ACCESS_DENIED))
    if (c != '\r') expected += c == '\n' ? ' ' : c;
  EXPECT_EQ(error, expected);
  EXPECT_EQ(error.find('\n'), std::string::npos);
}

}  // namespace
}  // namespace test
}  // namespace vt
