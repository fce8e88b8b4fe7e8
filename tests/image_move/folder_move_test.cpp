// FSCTL_MOVE_FILE on a FAT folder: its first cluster stays, the clusters
// after it move as a file's do, and every handle (and the image's own maps)
// whose entry lay in a moved cluster finds it at its new place. A handle
// left on the old offset would write its file's next move into a freed
// cluster, and the file would be lost: the survey after each case says so.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/image/fat_builder.h"
#include "tests/image_move/move_support.h"

namespace vt {
namespace test {
namespace {

using CExtents = std::vector<std::pair<uint64_t, uint64_t>>;

const EBuildType kTypes[] = {EBuildType::kFat12, EBuildType::kFat16, EBuildType::kFat32};

std::string Content(int i) { return std::string(300, static_cast<char>('A' + i)) + "#"; }

std::string ShortName(int i) {
  char name[12];
  std::snprintf(name, sizeof(name), "FILE%02d  BIN", i);
  return name;
}

std::string PathOf(int i) {
  char path[32];
  std::snprintf(path, sizeof(path), "V:\\Big\\FILE%02d.BIN", i);
  return path;
}

// Big on clusters 40 and 45, 16 entries a cluster: ".", "..", FILE00 to
// FILE13 in the first, FILE14 to FILE19 in the second; FILEnn on 50 + nn.
// Sub, a folder inside Big, on 46 (its ".." names 40).
struct CFolderScene {
  explicit CFolderScene(EBuildType type) : builder(type) {
    big = builder.AddFolder(0, u"", "BIG        ", {40, 45});
    for (int i = 0; i < kFiles; ++i)
      builder.AddFile(big, u"", ShortName(i), {static_cast<uint32_t>(50 + i)}, Content(i));
    uint32_t sub = builder.AddFolder(big, u"", "SUB        ", {46});
    builder.AddFile(sub, u"", "INNER   TXT", {47}, "inner");
  }
  static constexpr int kFiles = 20;
  CFatImageBuilder builder;
  uint32_t big = 0;
};

struct COpenedScene {
  explicit COpenedScene(CFolderScene& scene)
      : volume(scene.builder.Bytes(), scene.builder.VolumeBytes()) {
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), volume.m_dwMount);
    vol = volume.m_set.CreateFileA("\\\\.\\V:", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   OPEN_EXISTING, 0);
  }
  HANDLE Open(const std::string& path) {
    return volume.m_set.CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES | FILE_READ_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS);
  }
  DWORD Move(HANDLE which, uint64_t vcn, uint64_t lcn, uint32_t count) {
    return MoveFile(volume.m_set, vol, which, vcn, lcn, count);
  }
  std::string ReadAll(HANDLE h) {
    LARGE_INTEGER zero = {};
    volume.m_set.SetFilePointerEx(h, zero, nullptr, FILE_BEGIN);
    std::string data(4096, '\0');
    DWORD got = 0;
    volume.m_set.ReadFile(h, &data[0], static_cast<DWORD>(data.size()), &got);
    data.resize(got);
    return data;
  }
  // Closes the volume (storing the last group) and surveys what is stored.
  CImageSurvey Close(const CFolderScene& scene) {
    volume.m_set.CloseHandle(vol);
    return Survey(volume.Bytes(), scene.builder.VolumeBytes());
  }
  CMovableVolume volume;
  HANDLE vol = INVALID_HANDLE_VALUE;
};

#ifndef _WIN32
// fsck.fat -n on the image: "" when it has nothing to say, its words else;
// "skipped" where it is not installed. Its check of each subfolder's ".."
// against its parent's first cluster is the one that matters here.
std::string FsckSays(std::vector<uint8_t> bytes, uint64_t volumeBytes) {
  // The builder's image ends after its last written byte.
  if (bytes.size() < volumeBytes) bytes.resize(static_cast<size_t>(volumeBytes), 0);
  if (std::system("command -v fsck.fat >/dev/null 2>&1 || test -x /usr/sbin/fsck.fat") != 0)
    return "skipped";
  const std::string path = ::testing::TempDir() + "vt-folder-move.img";
  FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) return "cannot write " + path;
  std::fwrite(bytes.data(), 1, bytes.size(), out);
  std::fclose(out);
  FILE* pipe = ::popen(("PATH=$PATH:/usr/sbin:/sbin fsck.fat -n '" + path + "' 2>&1").c_str(), "r");
  std::string said;
  char line[512];
  while (pipe && std::fgets(line, sizeof(line), pipe)) {
    const std::string text(line);
    if (text.rfind("fsck.fat ", 0) == 0 || text.find(" files, ") != std::string::npos) continue;
    said += text;
  }
  const int status = pipe ? ::pclose(pipe) : -1;
  std::remove(path.c_str());
  return status == 0 ? said : said + "exit " + std::to_string(status);
}
#endif

void ExpectEveryFile(CImageSurvey& survey) {
  EXPECT_EQ("", survey.m_strProblem);
  EXPECT_EQ(0u, survey.m_nLostClusters);
  for (int i = 0; i < CFolderScene::kFiles; ++i)
    EXPECT_EQ(Content(i), survey.m_files["\\BIG\\" + ShortName(i).substr(0, 6) + ".BIN"]) << i;
  EXPECT_EQ("inner", survey.m_files["\\BIG\\SUB\\INNER.TXT"]);
}

TEST(MoveFolder, LaterClustersMoveAndOpenHandlesFollowTheirEntries) {
  for (EBuildType type : kTypes) {
    SCOPED_TRACE(static_cast<int>(type));
    CFolderScene scene(type);
    COpenedScene o(scene);
    // FILE17's entry lies in Big's second cluster, FILE03's in its first.
    HANDLE moved = o.Open(PathOf(17));
    HANDLE stays = o.Open(PathOf(3));
    HANDLE claimed = o.Open(PathOf(18));
    HANDLE big = o.Open("V:\\Big");
    ASSERT_NE(INVALID_HANDLE_VALUE, moved);
    ASSERT_NE(INVALID_HANDLE_VALUE, big);
    // Read once, so the image knows which entry owns FILE18's clusters.
    ASSERT_EQ((CExtents{{66, 1}}), Extents(o.volume.m_set, claimed));

    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), o.Move(big, 1, 80, 1));
    EXPECT_EQ((CExtents{{38, 1}, {80, 1}}), Extents(o.volume.m_set, big));
    // A fresh open finds the entry where it now is, and the file's
    // clusters are still its own.
    HANDLE fresh = o.Open(PathOf(18));
    ASSERT_NE(INVALID_HANDLE_VALUE, fresh);
    EXPECT_EQ((CExtents{{66, 1}}), Extents(o.volume.m_set, fresh));
    EXPECT_EQ(Content(18), o.ReadAll(fresh));

    // The handle opened before the folder moved moves its file's start:
    // the entry written is the one in the folder's new cluster.
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), o.Move(moved, 0, 85, 1));
    EXPECT_EQ((CExtents{{85, 1}}), Extents(o.volume.m_set, moved));
    EXPECT_EQ(Content(17), o.ReadAll(moved));
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), o.Move(stays, 0, 86, 1));
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), o.Move(fresh, 0, 87, 1));
    // Both handles of FILE18 are the same file: the older one follows too.
    EXPECT_EQ((CExtents{{87, 1}}), Extents(o.volume.m_set, claimed));
    for (HANDLE h : {moved, stays, claimed, fresh, big}) o.volume.m_set.CloseHandle(h);

    CImageSurvey survey = o.Close(scene);
    ExpectEveryFile(survey);
    const std::vector<uint8_t> bytes = o.volume.Bytes();
#ifndef _WIN32
    // Sub's entry moved with Big's second cluster; its ".." still names 40.
    // fsck.fat says of the moved image what it says of the built one (the
    // FAT32 builder writes no backup boot sector or free count).
    const std::string built = FsckSays(scene.builder.Bytes(), scene.builder.VolumeBytes());
    if (built != "skipped") {
      EXPECT_EQ(built.find("exit"), std::string::npos) << built;
      EXPECT_EQ(built, FsckSays(bytes, scene.builder.VolumeBytes()));
    }
#endif
    // The folder keeps its first cluster; its second is the moved one.
    CFatImageBuilder probe(type);
    const uint64_t second = probe.ClusterOffset(82);
    EXPECT_EQ(0, std::memcmp(&bytes[second], "FILE14  BIN", 11));
  }
}

TEST(MoveFolder, TheFirstClusterAndTheFixedRootStay) {
  for (EBuildType type : kTypes) {
    SCOPED_TRACE(static_cast<int>(type));
    CFolderScene scene(type);
    COpenedScene o(scene);
    HANDLE big = o.Open("V:\\Big");
    HANDLE sub = o.Open("V:\\Big\\Sub");
    HANDLE root = o.Open("V:\\");
    const std::vector<uint8_t> before = o.volume.Bytes();
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), o.Move(big, 0, 80, 1));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), o.Move(big, 0, 80, 2));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), o.Move(sub, 0, 80, 1));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), o.Move(big, 2, 80, 1)) << "past its end";
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), o.Move(root, 0, 80, 1));
    // FAT12/16: the root is no chain; FAT32: its one cluster is its first.
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), o.Move(root, 1, 80, 1));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), o.Move(big, 1, 66 - 2, 1)) << "onto FILE16";
    for (HANDLE h : {big, sub, root}) o.volume.m_set.CloseHandle(h);
    o.volume.m_set.CloseHandle(o.vol);
    EXPECT_EQ(0u, o.volume.m_pPlan->m_nWrites);
    EXPECT_TRUE(before == o.volume.Bytes());
  }
}

// A folder move commits the group gathered before it first (whose held
// entry writes may lie in the folder's clusters), then itself.
TEST(MoveFolder, TheGroupBeforeIsStoredFirstAndTheFolderMoveOnItsOwn) {
  for (EBuildType type : {EBuildType::kFat16, EBuildType::kFat32}) {
    SCOPED_TRACE(static_cast<int>(type));
    CFolderScene scene(type);
    COpenedScene o(scene);
    HANDLE file = o.Open(PathOf(15));
    HANDLE big = o.Open("V:\\Big");
    // Held: FILE15's entry, in the cluster about to move, names 90.
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), o.Move(file, 0, 90, 1));
    const uint64_t flushes = o.volume.m_pPlan->m_nFlushes;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), o.Move(big, 1, 80, 1));
    // Two groups of three flushes each.
    EXPECT_EQ(flushes + 6, o.volume.m_pPlan->m_nFlushes);
    // Stored already: nothing is left held once the folder move returns.
    CImageSurvey now = Survey(o.volume.Bytes(), scene.builder.VolumeBytes());
    EXPECT_EQ(0u, now.m_nLostClusters);
    ExpectEveryFile(now);
    EXPECT_EQ((CExtents{{90, 1}}), Extents(o.volume.m_set, file));
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), o.Move(file, 0, 91, 1));
    for (HANDLE h : {file, big}) o.volume.m_set.CloseHandle(h);
    CImageSurvey survey = o.Close(scene);
    ExpectEveryFile(survey);
    EXPECT_EQ(Content(15), survey.m_files["\\BIG\\FILE15.BIN"]);
  }
}

// A folder copy that reads back wrong abandons the move: the entries stay
// where they were, and so do the handles that find their files by them.
TEST(MoveFolder, AnAbandonedMoveLeavesTheEntriesAndHandlesWhereTheyWere) {
  for (EBuildType type : kTypes) {
    SCOPED_TRACE(static_cast<int>(type));
    CFolderScene scene(type);
    COpenedScene o(scene);
    HANDLE file = o.Open(PathOf(16));
    HANDLE big = o.Open("V:\\Big");
    o.volume.m_pPlan->m_nBadFrom = scene.builder.ClusterOffset(82) + 40;
    o.volume.m_pPlan->m_nBadTo = o.volume.m_pPlan->m_nBadFrom + 1;
    EXPECT_EQ(static_cast<DWORD>(ERROR_CRC), o.Move(big, 1, 80, 1));
    o.volume.m_pPlan->m_nBadTo = 0;
    EXPECT_EQ((CExtents{{38, 1}, {43, 1}}), Extents(o.volume.m_set, big));
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), o.Move(file, 0, 85, 1));
    EXPECT_EQ(Content(16), o.ReadAll(file));
    for (HANDLE h : {file, big}) o.volume.m_set.CloseHandle(h);
    CImageSurvey survey = o.Close(scene);
    ExpectEveryFile(survey);
  }
}

// A group abandoned before the folder moved gave a file its old start back
// under its entry's id; the id moves with the folder, and so must that.
TEST(MoveFolder, AStartGivenBackBeforeTheFolderMovedStaysGivenBack) {
  for (EBuildType type : kTypes) {
    SCOPED_TRACE(static_cast<int>(type));
    CFolderScene scene(type);
    COpenedScene o(scene);
    HANDLE file = o.Open(PathOf(17));
    HANDLE big = o.Open("V:\\Big");
    o.volume.m_pPlan->m_nBadFrom = scene.builder.ClusterOffset(90) + 10;
    o.volume.m_pPlan->m_nBadTo = o.volume.m_pPlan->m_nBadFrom + 1;
    // FAT12 stores (and so abandons) it at once; elsewhere the folder
    // move's commit of the group before does, and fails with it.
    const DWORD first = o.Move(file, 0, 88, 1);
    const DWORD folder = o.Move(big, 1, 80, 1);
    EXPECT_EQ(static_cast<DWORD>(ERROR_CRC), type == EBuildType::kFat12 ? first : folder);
    o.volume.m_pPlan->m_nBadTo = 0;
    if (type == EBuildType::kFat12)
      EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), folder);
    else
      ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), o.Move(big, 1, 80, 1));
    EXPECT_EQ((CExtents{{38, 1}, {80, 1}}), Extents(o.volume.m_set, big));
    EXPECT_EQ((CExtents{{65, 1}}), Extents(o.volume.m_set, file));
    EXPECT_EQ(Content(17), o.ReadAll(file));
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), o.Move(file, 0, 85, 1));
    for (HANDLE h : {file, big}) o.volume.m_set.CloseHandle(h);
    CImageSurvey survey = o.Close(scene);
    ExpectEveryFile(survey);
  }
}

}  // namespace
}  // namespace test
}  // namespace vt
