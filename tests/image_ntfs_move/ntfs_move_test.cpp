// FSCTL_MOVE_FILE on NTFS images made by mkntfs and ntfs-3g, judged by the
// NTFS tools: after the moves a read-only ntfs-3g mount reads every file
// with the checksum the manifest recorded, ntfsfix -n finds nothing to fix
// and ntfsinfo shows the new runs. Refused moves write nothing; a volume
// that is not clean is read normally but never written.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "base/le.h"
#include "tests/image_ntfs_move/ntfs_move_support.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace vt {
namespace test {
namespace {

using Runs = std::vector<std::vector<int64_t>>;

class NtfsMove : public ::testing::Test {
 protected:
  // Loads IMAGE.img and its manifest; false (and the test skipped) when
  // there are no images.
  bool Load(const std::string& name) {
    std::string why;
    const std::string dir = NtfsImageDir(&why);
    if (dir.empty()) {
      m_strSkip = why;
      return false;
    }
    m_bytes = ReadWholeFile(dir + "/" + name + ".img");
    EXPECT_FALSE(m_bytes.empty()) << dir;
    EXPECT_TRUE(LoadNtfsManifest(dir + "/" + name + ".manifest", &m_manifest));
    return !m_bytes.empty();
  }

  // Writes the image to a scratch file and checks it with the NTFS tools:
  // every file reads as the manifest says, and ntfsfix -n accepts it.
  void ExpectToolsAccept(const std::vector<uint8_t>& bytes, const std::string& where) {
    std::string why;
    if (!NtfsToolsUsable(&why)) return;
    const std::string path = ScratchImage();
    ASSERT_TRUE(WriteWholeFile(path, bytes));
    std::map<std::string, std::string> sha;
    ASSERT_TRUE(MountedChecksums(path, &sha, &why)) << where << ": " << why;
    for (const auto& file : m_manifest.m_sha) {
      if (m_manifest.m_kind[file.first] == "reparse") continue;  // the mount does not read them
      EXPECT_EQ(file.second, sha[file.first]) << where << ": " << file.first;
    }
    std::string output;
    EXPECT_EQ(0, NtfsfixCheck(path, &output)) << where << ": " << output;
  }

  // Moves are stored in groups: reading the volume bitmap stores the group,
  // and says whether that failed.
  static DWORD Commit(CImageVolumeSet& set, HANDLE volume) {
    STARTING_LCN_INPUT_BUFFER in = {};
    std::vector<uint8_t> bits(64);
    DWORD returned = 0;
    if (set.DeviceIoControl(volume, FSCTL_GET_VOLUME_BITMAP, &in, sizeof(in), bits.data(),
                            static_cast<DWORD>(bits.size()), &returned) ||
        set.GetLastError() == ERROR_MORE_DATA) {
      return ERROR_SUCCESS;
    }
    return set.GetLastError();
  }

  // A power cut after each of the first `writes` writes of `move` on a fresh
  // volume over `image`, each judged by the tools; then a failed write at
  // each, after which the same volume must finish the move with the runs
  // `expected` (the tools judge the volume once, after the retry at write
  // `checkAt`).
  using CMove = std::function<std::pair<DWORD, Runs>(CNtfsMovable&)>;
  void ExpectEveryWriteSafe(const std::vector<uint8_t>& image, uint64_t writes, const CMove& move,
                            const Runs& expected, uint64_t checkAt) {
    for (uint64_t n = 0; n < writes; ++n) {
      CNtfsMovable v(image);
      v.m_pPlan->m_eMode = CFaultPlan::kCrashAfter;
      v.m_pPlan->m_nAt = n;
      move(v);
      ExpectToolsAccept(v.Bytes(), "power cut after write " + std::to_string(n));
    }
    for (uint64_t n = 1; n <= writes; ++n) {
      CNtfsMovable v(image);
      v.m_pPlan->m_eMode = CFaultPlan::kFailAt;
      v.m_pPlan->m_nAt = n;
      EXPECT_NE(static_cast<DWORD>(ERROR_SUCCESS), move(v).first) << "write " << n;
      v.m_pPlan->m_eMode = CFaultPlan::kNone;
      const auto retried = move(v);
      EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), retried.first) << "write " << n;
      EXPECT_EQ(expected, retried.second) << "write " << n;
      if (n == checkAt) ExpectToolsAccept(v.Bytes(), "retry after write " + std::to_string(n));
    }
  }

  std::string ScratchImage() const {
#ifdef _WIN32
    return "vantrel-ntfs-move.img";
#else
    return "/tmp/vantrel-ntfs-move-" + std::to_string(::getpid()) + ".img";
#endif
  }
  void TearDown() override { std::remove(ScratchImage().c_str()); }

  std::vector<uint8_t> m_bytes;
  CNtfsManifest m_manifest;
  std::string m_strSkip;
};

// Runs that continue each other on disk merged, as the retrieval pointers
// show them: ntfsinfo lists each record's segment separately.
Runs Merged(const Runs& runs) {
  Runs out;
  for (const auto& r : runs) {
    if (!out.empty() && out.back()[0] + out.back()[2] == r[0] &&
        ((out.back()[1] < 0 && r[1] < 0) ||
         (out.back()[1] >= 0 && out.back()[1] + out.back()[2] == r[1]))) {
      out.back()[2] += r[2];
    } else {
      out.push_back(r);
    }
  }
  return out;
}

// Every extent of a file moved, one FSCTL_MOVE_FILE each as the engine
// issues them, to follow each other from `target`.
DWORD MoveExtentsTo(CNtfsMovable& v, HANDLE volume, HANDLE file, uint64_t target) {
  for (const auto& e : FileExtents(v.m_set, file)) {
    if (e[1] < 0) continue;  // holes stay holes
    DWORD err = MoveClusters(v.m_set, volume, file, static_cast<uint64_t>(e[0]),
                             target + static_cast<uint64_t>(e[0]), static_cast<uint32_t>(e[2]));
    if (err != ERROR_SUCCESS) return err;
  }
  return ERROR_SUCCESS;
}

TEST_F(NtfsMove, EveryFragmentedFileEndsInOneRun) {
  if (!Load("ntfs-frag")) GTEST_SKIP() << m_strSkip;
  CNtfsMovable v(m_bytes);
  ASSERT_EQ(ERROR_SUCCESS, v.m_dwMount);
  HANDLE volume = v.OpenVolume();
  std::map<std::string, uint64_t> targets;
  std::map<std::string, Runs> partly;
  for (const auto& entry : m_manifest.m_runs) {
    const std::string& path = entry.first;
    HANDLE file = v.OpenFile(path);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << path;
    const Runs before = FileExtents(v.m_set, file);
    uint64_t clusters = 0;
    for (const auto& e : before) clusters += static_cast<uint64_t>(e[2]);
    int64_t target = FindFreeRun(v.m_set, volume, clusters);
    if (target < 0) {
      // No room for the whole file: its first extent moves, which changes
      // only the first segment of data spread over several records.
      ASSERT_EQ(1u, m_manifest.m_attrList.count(path)) << path;
      target = FindFreeRun(v.m_set, volume, static_cast<uint64_t>(before[0][2]));
      ASSERT_GE(target, 0) << path;
      EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
                MoveClusters(v.m_set, volume, file, 0, static_cast<uint64_t>(target),
                             static_cast<uint32_t>(before[0][2])))
          << path;
      Runs expected = before;
      expected[0][1] = target;
      EXPECT_EQ(expected, FileExtents(v.m_set, file)) << path;
      partly[path] = expected;
    } else {
      const DWORD err = MoveExtentsTo(v, volume, file, static_cast<uint64_t>(target));
      EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), err) << path;
      EXPECT_EQ(Runs({{0, target, static_cast<int64_t>(clusters)}}), FileExtents(v.m_set, file))
          << path;
      targets[path] = static_cast<uint64_t>(target);
      // The old clusters are free again, the new ones in use.
      for (const auto& e : before) EXPECT_FALSE(ClusterUsed(v.m_set, volume, e[1])) << path;
      EXPECT_TRUE(ClusterUsed(v.m_set, volume, static_cast<uint64_t>(target))) << path;
      EXPECT_TRUE(ClusterUsed(v.m_set, volume, static_cast<uint64_t>(target) + clusters - 1))
          << path;
    }
    v.m_set.CloseHandle(file);
  }
  v.m_set.CloseHandle(volume);
  // The files of 12, 60, 120 and 400 fragments (this one behind an
  // attribute list) fit in a free run.
  ASSERT_EQ(4u, targets.size());
  ExpectToolsAccept(v.Bytes(), "after the moves");
  std::string why;
  if (!NtfsToolsUsable(&why)) return;
  ASSERT_TRUE(WriteWholeFile(ScratchImage(), v.Bytes()));
  for (const auto& t : targets) {
    const auto clusters = static_cast<int64_t>(m_manifest.m_runs[t.first].back()[0] +
                                               m_manifest.m_runs[t.first].back()[2]);
    EXPECT_EQ(Runs({{0, static_cast<int64_t>(t.second), clusters}}),
              Merged(NtfsinfoRuns(ScratchImage(), t.first)))
        << t.first;
  }
  for (const auto& p : partly) EXPECT_EQ(p.second, Merged(NtfsinfoRuns(ScratchImage(), p.first)));
}

// Holes stay holes and compressed units keep their shape: only allocated
// extents move.
TEST_F(NtfsMove, SparseAndCompressedFilesMoveTheirAllocatedExtents) {
  if (!Load("ntfs-main")) GTEST_SKIP() << m_strSkip;
  CNtfsMovable v(m_bytes);
  ASSERT_EQ(ERROR_SUCCESS, v.m_dwMount);
  HANDLE volume = v.OpenVolume();
  std::map<std::string, Runs> expected;
  for (const char* path : {"sparse/hole in middle.bin", "compressed/text 300k.txt"}) {
    HANDLE file = v.OpenFile(path);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << path;
    Runs runs = m_manifest.m_runs[path];
    ASSERT_GE(runs.size(), 3u) << path;
    // A range reaching into a hole is refused.
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
              MoveClusters(v.m_set, volume, file, static_cast<uint64_t>(runs[0][0]),
                           static_cast<uint64_t>(FindFreeRun(v.m_set, volume, 64)),
                           static_cast<uint32_t>(runs[0][2] + 1)));
    // The first and the third (allocated) runs move; the hole between stays.
    for (size_t i : {size_t(0), size_t(2)}) {
      const int64_t target = FindFreeRun(v.m_set, volume, static_cast<uint64_t>(runs[i][2]));
      ASSERT_GE(target, 0);
      ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
                MoveClusters(v.m_set, volume, file, static_cast<uint64_t>(runs[i][0]),
                             static_cast<uint64_t>(target), static_cast<uint32_t>(runs[i][2])))
          << path;
      runs[i][1] = target;
    }
    expected[path] = runs;
    v.m_set.CloseHandle(file);
  }
  v.m_set.CloseHandle(volume);
  ExpectToolsAccept(v.Bytes(), "after the moves");
  std::string why;
  if (!NtfsToolsUsable(&why)) return;
  ASSERT_TRUE(WriteWholeFile(ScratchImage(), v.Bytes()));
  for (const auto& e : expected) EXPECT_EQ(e.second, NtfsinfoRuns(ScratchImage(), e.first));
}

TEST_F(NtfsMove, RefusedMovesWriteNothing) {
  if (!Load("ntfs-main")) GTEST_SKIP() << m_strSkip;
  CNtfsMovable v(m_bytes);
  ASSERT_EQ(ERROR_SUCCESS, v.m_dwMount);
  HANDLE volume = v.OpenVolume();
  HANDLE plain = v.OpenFile("plain 100k.bin");
  HANDLE other = v.OpenFile("compressed/random 100k.bin");
  HANDLE resident = v.OpenFile("readme.txt");
  HANDLE mft = v.OpenFile("$MFT");
  HANDLE folder = v.m_set.CreateFileA("V:\\$Extend", FILE_READ_ATTRIBUTES, FILE_SHARE_READ,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  ASSERT_NE(INVALID_HANDLE_VALUE, plain);
  ASSERT_NE(INVALID_HANDLE_VALUE, other);
  ASSERT_NE(INVALID_HANDLE_VALUE, resident);
  ASSERT_NE(INVALID_HANDLE_VALUE, mft);
  ASSERT_NE(INVALID_HANDLE_VALUE, folder);
  const Runs runs = FileExtents(v.m_set, plain);
  ASSERT_EQ(1u, runs.size());
  const auto free = static_cast<uint64_t>(FindFreeRun(v.m_set, volume, 64));
  const auto otherLcn = static_cast<uint64_t>(FileExtents(v.m_set, other)[0][1]);
  struct Case {
    const char* what;
    HANDLE file;
    uint64_t vcn, lcn;
    uint32_t count;
    DWORD expected;
  } cases[] = {
      {"target in use", plain, 0, otherLcn, 1, ERROR_ACCESS_DENIED},
      {"target partly in use", plain, 0, otherLcn - 1, 2, ERROR_ACCESS_DENIED},
      {"start past the allocation", plain, 25, free, 1, ERROR_INVALID_PARAMETER},
      {"range past the allocation", plain, 20, free, 6, ERROR_INVALID_PARAMETER},
      {"target past the volume", plain, 0, 1ull << 40, 1, ERROR_INVALID_PARAMETER},
      {"count of zero", plain, 0, free, 0, ERROR_INVALID_PARAMETER},
      {"resident data", resident, 0, free, 1, ERROR_INVALID_PARAMETER},
      {"$MFT", mft, 0, free, 1, ERROR_ACCESS_DENIED},
      {"a metafile folder", folder, 0, free, 1, ERROR_ACCESS_DENIED},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, MoveClusters(v.m_set, volume, c.file, c.vcn, c.lcn, c.count)) << c.what;
  }
  EXPECT_EQ(0u, v.m_pPlan->m_nWrites);
  EXPECT_EQ(runs, FileExtents(v.m_set, plain));
  // Moving clusters onto themselves is done at once, without writing.
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
            MoveClusters(v.m_set, volume, plain, 3, static_cast<uint64_t>(runs[0][1] + 3), 4));
  EXPECT_EQ(0u, v.m_pPlan->m_nWrites);
  for (HANDLE h : {plain, other, resident, mft, folder, volume}) v.m_set.CloseHandle(h);
}

// A folder's clusters are its index blocks: the folders of 300 and 1,200
// entries end in one new run each, and every file in them is still found
// and read by ntfs-3g.
TEST_F(NtfsMove, FoldersMoveTheirIndexBlocks) {
  if (!Load("ntfs-main")) GTEST_SKIP() << m_strSkip;
  CNtfsMovable v(m_bytes);
  ASSERT_EQ(ERROR_SUCCESS, v.m_dwMount);
  HANDLE volume = v.OpenVolume();
  for (const char* path : {"V:\\folder300", "V:\\folder1200"}) {
    HANDLE folder = v.m_set.CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS);
    ASSERT_NE(INVALID_HANDLE_VALUE, folder) << path;
    const Runs before = FileExtents(v.m_set, folder);
    // folder300 is fragmented; folder1200 moves whole to a new place.
    ASSERT_FALSE(before.empty()) << path;
    if (std::string(path) == "V:\\folder300") {
      ASSERT_GT(before.size(), 1u);
    }
    uint64_t clusters = 0;
    for (const auto& e : before) clusters += static_cast<uint64_t>(e[2]);
    const int64_t target = FindFreeRun(v.m_set, volume, clusters);
    ASSERT_GE(target, 0) << path;
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              MoveExtentsTo(v, volume, folder, static_cast<uint64_t>(target)))
        << path;
    EXPECT_EQ(Runs({{0, target, static_cast<int64_t>(clusters)}}), FileExtents(v.m_set, folder))
        << path;
    v.m_set.CloseHandle(folder);
  }
  v.m_set.CloseHandle(volume);
  ExpectToolsAccept(v.Bytes(), "after moving the folders");
}

// Data that reads back different from what was written stops the group's
// commit before any metadata changes.
TEST_F(NtfsMove, ABadReadBackLeavesTheFileWhereItWas) {
  if (!Load("ntfs-frag")) GTEST_SKIP() << m_strSkip;
  CNtfsMovable v(m_bytes);
  ASSERT_EQ(ERROR_SUCCESS, v.m_dwMount);
  HANDLE volume = v.OpenVolume();
  HANDLE file = v.OpenFile("frag 12.bin");
  const Runs before = FileExtents(v.m_set, file);
  const int64_t target = FindFreeRun(v.m_set, volume, 24);
  ASSERT_GE(target, 0);
  const uint64_t at = static_cast<uint64_t>(target + 5) * 512;  // 512-byte clusters
  v.m_pPlan->m_nBadFrom = at;
  v.m_pPlan->m_nBadTo = at + 1;
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
            MoveClusters(v.m_set, volume, file, 0, static_cast<uint64_t>(target), 24));
  EXPECT_EQ(static_cast<DWORD>(ERROR_CRC), Commit(v.m_set, volume));
  v.m_pPlan->m_nBadTo = 0;
  EXPECT_EQ(before, FileExtents(v.m_set, file));
  EXPECT_FALSE(ClusterUsed(v.m_set, volume, static_cast<uint64_t>(target)));
  v.m_set.CloseHandle(file);
  v.m_set.CloseHandle(volume);
  ExpectToolsAccept(v.Bytes(), "after the failed move");
}

// A power cut after each write of a move: every file still reads whole and
// the tools accept the volume. A failing write leaves the same. The file of
// 400 fragments keeps its data in three records behind an attribute list,
// all three rewritten by the move.
class NtfsMoveCrash : public NtfsMove,
                      public ::testing::WithParamInterface<std::pair<const char*, uint32_t>> {};

TEST_P(NtfsMoveCrash, ACrashAtEveryWriteOfAMoveLeavesFilesIntact) {
  if (!Load("ntfs-frag")) GTEST_SKIP() << m_strSkip;
  const std::string path = GetParam().first;
  const uint32_t clusters = GetParam().second;
  auto move = [&](CNtfsMovable& v) {
    HANDLE volume = v.OpenVolume();
    HANDLE file = v.OpenFile(path);
    const int64_t target = FindFreeRun(v.m_set, volume, clusters);
    DWORD err = target < 0 ? ERROR_DISK_FULL
                           : MoveClusters(v.m_set, volume, file, 0, static_cast<uint64_t>(target),
                                          clusters);
    if (err == ERROR_SUCCESS) err = Commit(v.m_set, volume);
    const Runs after = FileExtents(v.m_set, file);
    v.m_set.CloseHandle(file);
    v.m_set.CloseHandle(volume);
    return std::make_pair(err, after);
  };
  uint64_t writes = 0;
  {
    CNtfsMovable v(m_bytes);
    ASSERT_EQ(ERROR_SUCCESS, v.m_dwMount);
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), move(v).first);
    writes = v.m_pPlan->m_nWrites;
  }
  // Copy and mark the target, the records, free the old clusters.
  ASSERT_GE(writes, std::string(path) == "frag 400.bin" ? 6u : 4u);
  // The retried move finds the file in one run wherever room was left.
  auto joined = [&](CNtfsMovable& v) {
    auto done = move(v);
    if (done.second.size() == 1) done.second[0][1] = -2;
    return done;
  };
  ExpectEveryWriteSafe(m_bytes, writes, joined, Runs({{0, -2, clusters}}), writes);
}

INSTANTIATE_TEST_SUITE_P(Files, NtfsMoveCrash,
                         ::testing::Values(std::make_pair("frag 12.bin", 24u),
                                           std::make_pair("frag 400.bin", 800u)));

// Two files moved in one group, side by side into one free run, the group
// stored once at the end: a power cut after each write of it leaves every
// file whole and a volume the tools accept.
TEST_F(NtfsMove, APowerCutAtEveryWriteOfAGroupOfTwoMovesLeavesFilesIntact) {
  if (!Load("ntfs-frag")) GTEST_SKIP() << m_strSkip;
  auto move = [](CNtfsMovable& v) {
    HANDLE volume = v.OpenVolume();
    HANDLE first = v.OpenFile("frag 12.bin");
    HANDLE second = v.OpenFile("frag 60.bin");
    const int64_t target = FindFreeRun(v.m_set, volume, 24 + 120);
    DWORD err = target < 0
                    ? ERROR_DISK_FULL
                    : MoveClusters(v.m_set, volume, first, 0, static_cast<uint64_t>(target), 24);
    if (err == ERROR_SUCCESS)
      err = MoveClusters(v.m_set, volume, second, 0, static_cast<uint64_t>(target) + 24, 120);
    const uint64_t flushesBefore = v.m_pPlan->m_nFlushes;
    if (err == ERROR_SUCCESS) err = Commit(v.m_set, volume);
    const Runs after = Merged(FileExtents(v.m_set, first));
    v.m_set.CloseHandle(second);
    v.m_set.CloseHandle(first);
    v.m_set.CloseHandle(volume);
    return std::make_tuple(err, after, flushesBefore);
  };
  uint64_t writes = 0;
  {
    CNtfsMovable v(m_bytes);
    ASSERT_EQ(ERROR_SUCCESS, v.m_dwMount);
    const auto done = move(v);
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), std::get<0>(done));
    EXPECT_EQ(1u, std::get<1>(done).size());
    // Nothing was stored before the commit: both moves were one group.
    EXPECT_EQ(0u, std::get<2>(done));
    writes = v.m_pPlan->m_nWrites;
    ExpectToolsAccept(v.Bytes(), "after the group");
  }
  ASSERT_GE(writes, 5u);
  for (uint64_t n = 0; n < writes; ++n) {
    CNtfsMovable v(m_bytes);
    v.m_pPlan->m_eMode = CFaultPlan::kCrashAfter;
    v.m_pPlan->m_nAt = n;
    move(v);
    ExpectToolsAccept(
        v.Bytes(), "power cut after write " + std::to_string(n) + " of " + std::to_string(writes));
  }
}

}  // namespace
}  // namespace test
}  // namespace vt

namespace vt {
namespace test {
namespace {

// Splitting every extent of files whose records ntfs-3g filled with mapping
// pairs: the run lists outgrow their records and grow into new extension
// records; every move succeeds, ntfsinfo sees the same runs as the
// retrieval pointers, and the files then still move back into one run.
TEST_F(NtfsMove, RunListsThatOutgrowTheirRecordsGrowIntoNewRecords) {
  if (!Load("ntfs-frag")) GTEST_SKIP() << m_strSkip;
  CNtfsMovable v(m_bytes);
  ASSERT_EQ(ERROR_SUCCESS, v.m_dwMount);
  HANDLE volume = v.OpenVolume();
  std::map<std::string, Runs> split;
  uint64_t from = 0;
  for (const char* path : {"frag 400.bin", "frag 1200.bin"}) {
    ASSERT_EQ(1u, m_manifest.m_attrList.count(path));
    HANDLE file = v.OpenFile(path);
    const Runs extents = FileExtents(v.m_set, file);
    for (const auto& e : extents) {
      if (e[2] < 2) continue;
      // The last cluster of the extent, alone, elsewhere.
      const int64_t target = FindFreeRun(v.m_set, volume, 3, from);
      ASSERT_GE(target, 0) << path;
      from = static_cast<uint64_t>(target) + 3;
      ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
                MoveClusters(v.m_set, volume, file, static_cast<uint64_t>(e[0] + e[2] - 1),
                             static_cast<uint64_t>(target) + 1, 1))
          << path << " at VCN " << e[0];
    }
    split[path] = FileExtents(v.m_set, file);
    EXPECT_GT(split[path].size(), extents.size() * 3 / 2) << path;
    v.m_set.CloseHandle(file);
  }
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), Commit(v.m_set, volume));
  ExpectToolsAccept(v.Bytes(), "after splitting the runs");
  std::string why;
  if (NtfsToolsUsable(&why)) {
    ASSERT_TRUE(WriteWholeFile(ScratchImage(), v.Bytes()));
    for (const auto& s : split) {
      EXPECT_EQ(s.second, Merged(NtfsinfoRuns(ScratchImage(), s.first))) << s.first;
    }
  }
  for (const auto& s : split) {
    HANDLE file = v.OpenFile(s.first);
    uint64_t clusters = 0;
    for (const auto& e : s.second) clusters += static_cast<uint64_t>(e[2]);
    const int64_t target = FindFreeRun(v.m_set, volume, clusters);
    if (target < 0) continue;  // no room for the whole file on this image
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              MoveExtentsTo(v, volume, file, static_cast<uint64_t>(target)));
    EXPECT_EQ(1u, FileExtents(v.m_set, file).size()) << s.first;
    v.m_set.CloseHandle(file);
  }
  v.m_set.CloseHandle(volume);
  ExpectToolsAccept(v.Bytes(), "after joining the runs again");
}

// A power cut after each write of a move that first has to split a full
// segment (of the base record, or of an extension record, which is replaced
// by two new ones): every file still reads whole and the tools accept the
// volume; a failing write leaves the same, and the move then succeeds.
struct CSplitCase {
  const char* path;
  // Writes of the move that needs the split: a move alone writes four
  // times. Splitting the base record's segment adds six (the new record,
  // the MFT bitmap, the list, its clusters in $Bitmap, the base record, the
  // old list freed); an extension record's adds ten (two new records and
  // their bits, the old record and its bit freed); a file without an
  // attribute list gets one in its base record, which adds three.
  uint64_t least;
};

class NtfsSplitCrash : public NtfsMove, public ::testing::WithParamInterface<CSplitCase> {};

TEST_P(NtfsSplitCrash, ACrashAtEveryWriteOfASplitLeavesFilesIntact) {
  if (!Load("ntfs-frag")) GTEST_SKIP() << m_strSkip;
  const std::string path = GetParam().path;
  const uint64_t least = GetParam().least;
  // frag 120.bin keeps its data in its base record alone.
  EXPECT_EQ(path == "frag 120.bin" ? 0u : 1u, m_manifest.m_attrList.count(path));
  // Every other cluster of each extent split off, one after another, until
  // a move needs the split asked for: the volume just before it is the
  // test's.
  std::vector<uint8_t> before;
  uint64_t vcn = 0, lcn = 0;
  {
    CNtfsMovable v(m_bytes);
    ASSERT_EQ(ERROR_SUCCESS, v.m_dwMount);
    HANDLE volume = v.OpenVolume();
    HANDLE file = v.OpenFile(path);
    uint64_t from = 0;
    for (const auto& e : FileExtents(v.m_set, file)) {
      for (int64_t k = 1; k < e[2] && before.empty(); k += 2) {
        const int64_t target = FindFreeRun(v.m_set, volume, 3, from);
        ASSERT_GE(target, 0);
        from = static_cast<uint64_t>(target) + 3;
        std::vector<uint8_t> snapshot = v.Bytes();
        const uint64_t writes = v.m_pPlan->m_nWrites;
        vcn = static_cast<uint64_t>(e[0] + k);
        lcn = static_cast<uint64_t>(target) + 1;
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
                  MoveClusters(v.m_set, volume, file, vcn, lcn, 1));
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), Commit(v.m_set, volume));
        if (v.m_pPlan->m_nWrites - writes >= least) before = std::move(snapshot);
      }
      if (!before.empty()) break;
    }
    v.m_set.CloseHandle(file);
    v.m_set.CloseHandle(volume);
  }
  ASSERT_FALSE(before.empty()) << "no move needed the split";
  // The move, to `lcn` or, when that is no longer free, the next free
  // cluster (a failed write may leave its target marked in use); the runs
  // after it with the moved cluster's place blanked, for comparing.
  auto move = [&](CNtfsMovable& v) {
    HANDLE volume = v.OpenVolume();
    HANDLE file = v.OpenFile(path);
    const int64_t target = FindFreeRun(v.m_set, volume, 1, lcn);
    DWORD err = target < 0
                    ? ERROR_DISK_FULL
                    : MoveClusters(v.m_set, volume, file, vcn, static_cast<uint64_t>(target), 1);
    if (err == ERROR_SUCCESS) err = Commit(v.m_set, volume);
    Runs after = FileExtents(v.m_set, file);
    for (auto& e : after) {
      if (static_cast<uint64_t>(e[0]) == vcn && e[2] == 1) e[1] = -2;
    }
    v.m_set.CloseHandle(file);
    v.m_set.CloseHandle(volume);
    return std::make_pair(err, after);
  };
  Runs expected;
  uint64_t writes = 0;
  {
    CNtfsMovable v(before);
    const auto done = move(v);
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), done.first);
    expected = done.second;
    writes = v.m_pPlan->m_nWrites;
    ExpectToolsAccept(v.Bytes(), "after the move");
  }
  ASSERT_GE(writes, least);
  ExpectEveryWriteSafe(before, writes, move, expected, writes / 2);
}

INSTANTIATE_TEST_SUITE_P(Segments, NtfsSplitCrash,
                         ::testing::Values(CSplitCase{"frag 1200.bin", 10},
                                           CSplitCase{"frag 1200.bin", 14},
                                           CSplitCase{"frag 120.bin", 7}));

}  // namespace
}  // namespace test
}  // namespace vt
