// FSCTL_MOVE_FILE on hand-built FAT images: the refusals and their codes,
// chains relinked in both FAT copies, the folder entry's first cluster, the
// dirty marks, handles that follow their file, and a read-back that does
// not match.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/image/fs_volume.h"
#include "tests/image/fat_builder.h"
#include "tests/image_move/move_support.h"

namespace vt {
namespace test {
namespace {

const EBuildType kTypes[] = {EBuildType::kFat12, EBuildType::kFat16, EBuildType::kFat32};

std::string Pattern(size_t size, char seed) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>(seed + i * 7 + i / 511);
  return s;
}

// Fragmented.bin on clusters 10 11 20 21 30 (three fragments, a partial last
// cluster), Other.bin on 12, an empty file, a folder on 40 holding Inner.txt
// on 41. Everything from 42 on is free.
struct CScene {
  explicit CScene(EBuildType type) : builder(type) {
    frag = Pattern(5 * 512 - 100, 'a');
    builder.AddFile(0, u"Fragmented.bin", "FRAGMENTBIN", {10, 11, 20, 21, 30}, frag);
    builder.AddFile(0, u"Other.bin", "OTHER   BIN", {12}, Pattern(300, 'o'));
    builder.AddFile(0, u"Empty.txt", "EMPTY   TXT", {}, "");
    uint32_t dir = builder.AddFolder(0, u"Folder", "FOLDER     ", {40});
    builder.AddFile(dir, u"Inner.txt", "INNER   TXT", {41}, Pattern(200, 'i'));
  }
  CFatImageBuilder builder;
  std::string frag;
};

struct COpened {
  explicit COpened(CScene& scene, bool readOnly = false)
      : volume(scene.builder.Bytes(), scene.builder.VolumeBytes(), readOnly) {
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), volume.m_dwMount);
    vol = volume.m_set.CreateFileA("\\\\.\\V:", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   OPEN_EXISTING, 0);
    file = Open("V:\\Fragmented.bin");
  }
  HANDLE Open(const char* path) {
    return volume.m_set.CreateFileA(path, FILE_READ_ATTRIBUTES | FILE_READ_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS);
  }
  DWORD Move(uint64_t vcn, uint64_t lcn, uint32_t count, HANDLE which = nullptr) {
    return MoveFile(volume.m_set, vol, which ? which : file, vcn, lcn, count);
  }
  std::string ReadAll(HANDLE h) {
    LARGE_INTEGER zero = {};
    volume.m_set.SetFilePointerEx(h, zero, nullptr, FILE_BEGIN);
    std::string data(8192, '\0');
    DWORD got = 0;
    volume.m_set.ReadFile(h, &data[0], static_cast<DWORD>(data.size()), &got);
    data.resize(got);
    return data;
  }
  CMovableVolume volume;
  HANDLE vol = INVALID_HANDLE_VALUE;
  HANDLE file = INVALID_HANDLE_VALUE;
};

uint32_t FatEntry(const std::vector<uint8_t>& bytes, EBuildType type, int copy, uint32_t cluster) {
  CFatRegions r = Regions(bytes);
  const uint8_t* fat = bytes.data() + (copy == 0 ? r.m_nFat0 : r.m_nFat1);
  switch (type) {
    case EBuildType::kFat12: {
      size_t at = cluster + cluster / 2;
      uint32_t pair = fat[at] | (fat[at + 1] << 8);
      return (cluster & 1) ? pair >> 4 : pair & 0xFFF;
    }
    case EBuildType::kFat16:
      return fat[cluster * 2] | (fat[cluster * 2 + 1] << 8);
    case EBuildType::kFat32:
      return (fat[cluster * 4] | (fat[cluster * 4 + 1] << 8) | (fat[cluster * 4 + 2] << 16) |
              (static_cast<uint32_t>(fat[cluster * 4 + 3]) << 24)) &
             0x0FFFFFFF;
  }
  return 0;
}

// Follows a chain in one FAT copy of the raw image.
std::vector<uint32_t> Chain(const std::vector<uint8_t>& bytes, EBuildType type, int copy,
                            uint32_t first) {
  std::vector<uint32_t> out;
  for (uint32_t c = first; c >= 2 && c < 0x0FFFFFF0 && out.size() < 100;) {
    out.push_back(c);
    c = FatEntry(bytes, type, copy, c);
    if ((type == EBuildType::kFat12 && c >= 0xFF8) || (type == EBuildType::kFat16 && c >= 0xFFF8))
      break;
  }
  return out;
}

TEST(MoveFile, RefusalsUseWindowsCodesAndWriteNothing) {
  for (EBuildType type : kTypes) {
    CScene scene(type);
    COpened o(scene);
    ASSERT_NE(INVALID_HANDLE_VALUE, o.file);
    HANDLE folder = o.Open("V:\\Folder");
    HANDLE empty = o.Open("V:\\Empty.txt");
    HANDLE root = o.Open("V:\\");
    ASSERT_NE(INVALID_HANDLE_VALUE, folder);
    const std::vector<uint8_t> before = o.volume.Bytes();
    const uint64_t total = scene.builder.TotalClusters();
    IVolumeOps& ops = o.volume.m_set;

    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), o.Move(0, 60, 0)) << "count 0";
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), o.Move(0, 9, 2)) << "target partly used";
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), o.Move(0, 18, 1)) << "own cluster 20";
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), o.Move(3, 60, 3)) << "past the end";
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), o.Move(5, 60, 1)) << "VCN at the end";
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), o.Move(0, total - 1, 2))
        << "target past the volume";
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), o.Move(0, 60, 1, empty));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), o.Move(0, 60, 1, folder))
        << "a folder's first cluster";
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), o.Move(1, 60, 1, folder))
        << "past the end of a folder of one cluster";
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), o.Move(0, 60, 1, root));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), o.Move(0, 60, 1, o.vol))
        << "the volume handle as the file";
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE),
              o.Move(0, 60, 1, reinterpret_cast<HANDLE>(0x7777)));

    // Issued on the file handle instead of the volume.
    MOVE_FILE_DATA move = {};
    move.FileHandle = o.file;
    move.StartingLcn.QuadPart = 60;
    move.ClusterCount = 1;
    EXPECT_FALSE(
        ops.DeviceIoControl(o.file, FSCTL_MOVE_FILE, &move, sizeof(move), nullptr, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), ops.GetLastError());
    EXPECT_FALSE(
        ops.DeviceIoControl(o.vol, FSCTL_MOVE_FILE, &move, sizeof(move) - 1, nullptr, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), ops.GetLastError());
    move.StartingLcn.QuadPart = -1;
    EXPECT_FALSE(
        ops.DeviceIoControl(o.vol, FSCTL_MOVE_FILE, &move, sizeof(move), nullptr, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), ops.GetLastError());

    // A file of another volume.
    CScene other(type);
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              o.volume.m_set.MountDevice('W', other.builder.Device(), "other", false));
    HANDLE foreign = o.Open("W:\\Fragmented.bin");
    ASSERT_NE(INVALID_HANDLE_VALUE, foreign);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), o.Move(0, 60, 1, foreign));
    ops.CloseHandle(foreign);

    HANDLE closed = o.Open("V:\\Other.bin");
    ops.CloseHandle(closed);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), o.Move(0, 60, 1, closed));

    ops.CloseHandle(o.vol);
    EXPECT_EQ(0u, o.volume.m_pPlan->m_nWrites);
    EXPECT_TRUE(before == o.volume.Bytes());
  }
}

TEST(MoveFile, DamagedVolumesAreRefusedWithoutWriting) {
  // A loop, a free cluster, a reserved value, another file's cluster: the
  // whole volume is refused, the healthy files on it too.
  for (uint32_t next : {50u, 90u, 0x0FFFFFF0u, 12u}) {
    CScene scene(EBuildType::kFat16);
    scene.builder.AddFile(0, u"Damaged.bin", "DAMAGED BIN", {50, 51}, Pattern(1000, 'd'));
    scene.builder.SetFat(51, next);
    COpened o(scene);
    HANDLE damaged = o.Open("V:\\Damaged.bin");
    ASSERT_NE(INVALID_HANDLE_VALUE, damaged);
    EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_CORRUPT), o.Move(1, 60, 1, damaged)) << next;
    EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_CORRUPT), o.Move(0, 60, 1)) << next;
    CAllocationCheck check;
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), o.volume.m_set.CheckAllocation('V', &check));
    EXPECT_NE(std::string::npos, check.m_strProblem.find("Damaged.bin")) << check.m_strProblem;
    o.volume.m_set.CloseHandle(o.vol);
    EXPECT_EQ(0u, o.volume.m_pPlan->m_nWrites) << next;
  }
}

TEST(MoveFile, LostClustersDoNotStopWrites) {
  // What an interrupted move leaves: clusters in use that no file owns.
  CScene scene(EBuildType::kFat32);
  scene.builder.SetFat(70, 71);
  scene.builder.SetFat(71, 0x0FFFFFFF);
  COpened o(scene);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), o.Move(0, 60, 5));
  CAllocationCheck check;
  o.volume.m_set.CheckAllocation('V', &check);
  EXPECT_TRUE(check.IsConsistent()) << check.m_strProblem;
  EXPECT_EQ(2u, check.m_nLostClusters);
}

TEST(MoveFile, ReadOnlyMountsAreWriteProtected) {
  CScene scene(EBuildType::kFat16);
  COpened o(scene, true);
  ASSERT_NE(INVALID_HANDLE_VALUE, o.vol);
  EXPECT_EQ(static_cast<DWORD>(ERROR_WRITE_PROTECT), o.Move(0, 60, 1));
  EXPECT_EQ(0u, o.volume.m_pPlan->m_nWrites);
}

TEST(MoveFile, OpensAfterAMoveSeeTheFileWhereItNowIs) {
  // Opens remember the folders of the last path; the file itself is always
  // looked up afresh, and paths that leave the remembered folders, or name
  // what is not there, are answered as before.
  for (EBuildType type : kTypes) {
    CScene scene(type);
    COpened o(scene);
    HANDLE inner = o.Open("V:\\Folder\\Inner.txt");
    ASSERT_NE(inner, INVALID_HANDLE_VALUE);
    ASSERT_EQ(o.Move(0, 50 - 2, 1, inner), static_cast<DWORD>(ERROR_SUCCESS));
    o.volume.m_set.CloseHandle(inner);
    inner = o.Open("V:\\FOLDER\\inner.txt");
    ASSERT_NE(inner, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Extents(o.volume.m_set, inner),
              (std::vector<std::pair<uint64_t, uint64_t>>{{48, 1}}));
    EXPECT_EQ(o.ReadAll(inner), Pattern(200, 'i'));
    o.volume.m_set.CloseHandle(inner);
    HANDLE other = o.Open("V:\\Other.bin");
    EXPECT_NE(other, INVALID_HANDLE_VALUE);
    o.volume.m_set.CloseHandle(other);
    EXPECT_EQ(o.Open("V:\\Folder\\Missing.txt"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(o.volume.m_set.GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(o.Open("V:\\Other.bin\\x"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(o.volume.m_set.GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  }
}

TEST(MoveFile, RelinksBothFatCopiesAndKeepsTheContent) {
  struct Case {
    const char* what;
    uint64_t vcn;
    uint32_t count;
    std::vector<uint32_t> chain;  // the file's clusters afterwards (target at 60)
  };
  const Case cases[] = {
      {"first fragment", 0, 2, {62, 63, 20, 21, 30}},
      {"middle fragment", 2, 2, {10, 11, 62, 63, 30}},
      {"last cluster", 4, 1, {10, 11, 20, 21, 62}},
      {"across fragments", 1, 3, {10, 62, 63, 64, 30}},
      {"whole file", 0, 5, {62, 63, 64, 65, 66}},
  };
  for (EBuildType type : kTypes) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.what);
      CScene scene(type);
      COpened o(scene);
      ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), o.Move(c.vcn, 60, c.count));
      EXPECT_EQ(scene.frag, o.ReadAll(o.file));
      o.volume.m_set.CloseHandle(o.file);
      o.volume.m_set.CloseHandle(o.vol);
      const std::vector<uint8_t> after = o.volume.Bytes();
      for (int copy = 0; copy < 2; ++copy) {
        EXPECT_EQ(c.chain, Chain(after, type, copy, c.chain[0])) << "copy " << copy;
      }
      CFatRegions r = Regions(after);
      EXPECT_EQ(0, std::memcmp(&after[r.m_nFat0], &after[r.m_nFat1], r.m_nFatBytes));
      CImageSurvey survey = Survey(after, scene.builder.VolumeBytes());
      EXPECT_EQ("", survey.m_strProblem);
      EXPECT_EQ(0u, survey.m_nLostClusters) << "old clusters freed";
      EXPECT_EQ(scene.frag, survey.m_files["\\Fragmented.bin"]);
      EXPECT_EQ(Pattern(200, 'i'), survey.m_files["\\Folder\\Inner.txt"]);
    }
  }
}

TEST(MoveFile, FirstClusterAbove65535FillsBothHalvesOfTheEntry) {
  CScene scene(EBuildType::kFat32);
  COpened o(scene);
  const uint64_t lcn = 0x10000 + 40;  // cluster 0x1002A
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), o.Move(0, lcn, 2));
  auto extents = Extents(o.volume.m_set, o.file);
  ASSERT_FALSE(extents.empty());
  EXPECT_EQ(lcn, extents[0].first);
  o.volume.m_set.CloseHandle(o.vol);
  CImageSurvey survey = Survey(o.volume.Bytes(), scene.builder.VolumeBytes());
  EXPECT_EQ("", survey.m_strProblem);
  EXPECT_EQ(scene.frag, survey.m_files["\\Fragmented.bin"]);
}

TEST(MoveFile, OtherHandlesOfTheFileFollowItsNewStart) {
  for (EBuildType type : kTypes) {
    CScene scene(type);
    COpened o(scene);
    HANDLE second = o.Open("V:\\Fragmented.bin");
    ASSERT_NE(INVALID_HANDLE_VALUE, second);
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), o.Move(0, 80, 5));
    auto extents = Extents(o.volume.m_set, second);
    ASSERT_EQ(1u, extents.size());
    EXPECT_EQ(80u, extents[0].first);
    EXPECT_EQ(5u, extents[0].second);
    EXPECT_EQ(scene.frag, o.ReadAll(second));
    // And a further move through the second handle finds the file.
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), o.Move(0, 100, 5, second));
    EXPECT_EQ(scene.frag, o.ReadAll(o.file));
  }
}

// Moves are gathered into a group: until it is committed the storage keeps
// every FAT and folder byte and the clean marks, while the volume already
// answers with the moved file. The commit marks the volume dirty only while
// it writes, so the marks are clean again the moment it is done.
TEST(MoveFile, DirtyMarksOnlyWhileAGroupIsCommitted) {
  for (EBuildType type : kTypes) {
    CScene scene(type);
    const std::vector<uint8_t> original = scene.builder.Bytes();
    const size_t flag = type == EBuildType::kFat32 ? 0x41 : 0x25;
    COpened o(scene);
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), o.Move(0, 60, 2));
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), o.Move(2, 70, 2));
    EXPECT_EQ(scene.frag, o.ReadAll(o.file));
    auto extents = Extents(o.volume.m_set, o.file);
    ASSERT_FALSE(extents.empty());
    EXPECT_EQ(60u, extents[0].first);
    const std::vector<uint8_t> during = o.volume.Bytes();
    CFatRegions r = Regions(during);
    if (type != EBuildType::kFat12) {  // FAT12 commits each move at once
      EXPECT_EQ(0, std::memcmp(&original[r.m_nFat0], &during[r.m_nFat0], 2 * r.m_nFatBytes));
    }
    EXPECT_EQ(original[flag], during[flag]);
    o.volume.m_set.CloseHandle(o.file);
    o.volume.m_set.CloseHandle(o.vol);
    const std::vector<uint8_t> after = o.volume.Bytes();
    EXPECT_EQ(original[flag], after[flag]);
    EXPECT_EQ(FatEntry(original, type, 0, 1), FatEntry(after, type, 0, 1));
    EXPECT_EQ(FatEntry(original, type, 1, 1), FatEntry(after, type, 1, 1));
    // The flag was set on the way, and cleared by a later write.
    bool set = false;
    for (const auto& w : o.volume.m_pPlan->m_log) {
      if (w.m_nOffset == flag && w.m_data.size() == 1) set = set || (w.m_data[0] & 1) != 0;
    }
    EXPECT_TRUE(set);
    CImageSurvey survey = Survey(after, scene.builder.VolumeBytes());
    EXPECT_EQ("", survey.m_strProblem);
    EXPECT_EQ(0u, survey.m_nLostClusters);
    EXPECT_EQ(scene.frag, survey.m_files["\\Fragmented.bin"]);
  }
}

// The end of an operation reads the volume bitmap with every handle still
// open (the program keeps them between operations). From then on nothing
// waits for a later flush: the storage as of the last flush is the volume,
// clean and with every cluster owned, as a power cut could leave it.
TEST(MoveFile, ReadingTheBitmapLeavesNothingUnflushed) {
  for (EBuildType type : kTypes) {
    CScene scene(type);
    const size_t flag = type == EBuildType::kFat32 ? 0x41 : 0x25;
    COpened o(scene);
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), o.Move(0, 60, 2));
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), o.Move(2, 70, 2));
    STARTING_LCN_INPUT_BUFFER in = {};
    std::vector<uint8_t> bits(4096);
    DWORD returned = 0;
    const BOOL read = o.volume.m_set.DeviceIoControl(o.vol, FSCTL_GET_VOLUME_BITMAP, &in, sizeof(in),
                                                     bits.data(), static_cast<DWORD>(bits.size()),
                                                     &returned);
    ASSERT_TRUE(read || o.volume.m_set.GetLastError() == ERROR_MORE_DATA);
    const CFaultPlan& plan = *o.volume.m_pPlan;
    for (const auto& w : plan.m_log) {
      EXPECT_LT(w.m_nEpoch, plan.m_nFlushes) << "a write at " << w.m_nOffset << " not flushed";
    }
    const std::vector<uint8_t> stored = o.volume.Bytes();
    EXPECT_EQ(0, stored[flag] & 1);
    CImageSurvey survey = Survey(stored, scene.builder.VolumeBytes());
    EXPECT_EQ("", survey.m_strProblem);
    EXPECT_EQ(0u, survey.m_nLostClusters);
    EXPECT_EQ(scene.frag, survey.m_files["\\Fragmented.bin"]);
    o.volume.m_set.CloseHandle(o.file);
    o.volume.m_set.CloseHandle(o.vol);
  }
}

// fsck.fat rejects a volume with either mark: nothing is moved on it.
TEST(MoveFile, AVolumeDirtyWhenMountedIsNotWritten) {
  for (EBuildType type : kTypes) {
    for (bool bootFlag : {true, false}) {
      if (!bootFlag && type == EBuildType::kFat12) continue;  // FAT12 has no clean bit
      CScene scene(type);
      if (bootFlag)
        scene.builder.Boot()[type == EBuildType::kFat32 ? 0x41 : 0x25] |= 1;
      else
        scene.builder.SetFat(1, 0x07FF7FFF);  // clean bit off
      const std::vector<uint8_t> original = scene.builder.Bytes();
      COpened o(scene);
      EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_CORRUPT), o.Move(0, 60, 2));
      CAllocationCheck check;
      ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), o.volume.m_set.CheckAllocation('V', &check));
      EXPECT_NE(std::string::npos, check.m_strProblem.find("not cleanly unmounted"))
          << check.m_strProblem;
      o.volume.m_set.Unmount('V');
      EXPECT_TRUE(original == o.volume.Bytes());
    }
  }
}

// The copies are read back when the group is committed: one that reads
// back wrong abandons the group, which only wrote free clusters.
TEST(MoveFile, ATargetThatReadsBackWrongAbandonsTheGroupAndChangesNothing) {
  for (EBuildType type : kTypes) {
    CScene scene(type);
    COpened o(scene);
    const std::vector<uint8_t> before = o.volume.Bytes();
    o.volume.m_pPlan->m_nBadFrom = scene.builder.ClusterOffset(62) + 100;
    o.volume.m_pPlan->m_nBadTo = o.volume.m_pPlan->m_nBadFrom + 1;
    const DWORD moved = o.Move(0, 60, 2);
    // FAT12 commits at once and says so; elsewhere the volume bitmap, read
    // next, commits the group.
    if (type == EBuildType::kFat12) {
      EXPECT_EQ(static_cast<DWORD>(ERROR_CRC), moved);
    } else {
      EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), moved);
      STARTING_LCN_INPUT_BUFFER in = {};
      std::vector<uint8_t> bits(4096);
      DWORD returned = 0;
      o.volume.m_set.DeviceIoControl(o.vol, FSCTL_GET_VOLUME_BITMAP, &in, sizeof(in), bits.data(),
                                     static_cast<DWORD>(bits.size()), &returned);
    }
    o.volume.m_pPlan->m_nBadTo = 0;
    // A handle opened now finds the file where it was.
    HANDLE again = o.Open("V:\\Fragmented.bin");
    ASSERT_NE(INVALID_HANDLE_VALUE, again);
    EXPECT_EQ(scene.frag, o.ReadAll(again));
    o.volume.m_set.CloseHandle(o.vol);
    std::vector<uint8_t> after = o.volume.Bytes();
    CFatRegions r = Regions(after);
    // FATs and folders as they were; only free clusters took the copy.
    EXPECT_EQ(0, std::memcmp(&before[r.m_nFat0], &after[r.m_nFat0], 2 * r.m_nFatBytes));
    CImageSurvey survey = Survey(after, scene.builder.VolumeBytes());
    EXPECT_EQ("", survey.m_strProblem);
    EXPECT_EQ(0u, survey.m_nLostClusters);
    EXPECT_EQ(scene.frag, survey.m_files["\\Fragmented.bin"]);
  }
}

}  // namespace
}  // namespace test
}  // namespace vt
