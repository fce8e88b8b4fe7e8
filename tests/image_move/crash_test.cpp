// A move cut short at every one of its writes, by a power cut (the writes
// after the Nth never reach the image) or by a failing write: the image
// must still hold every file whole, with nothing owned twice, whichever FAT
// copy is believed; at worst clusters are lost. After a failed write the
// same volume must still move the file correctly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "tests/image/fat_builder.h"
#include "tests/image_move/move_support.h"

namespace vt {
namespace test {
namespace {

std::string Pattern(size_t size, char seed) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>(seed * 3 + i * 13 + i / 509);
  return s;
}

CFatImageBuilder Scene(EBuildType type) {
  CFatImageBuilder b(type);
  b.AddFile(0, u"Fragmented.bin", "FRAGMENTBIN", {10, 11, 20, 21, 30}, Pattern(5 * 512 - 7, 'f'));
  b.AddFile(0, u"Neighbour.bin", "NEIGHBOUBIN", {12, 13}, Pattern(1000, 'n'));
  uint32_t dir = b.AddFolder(0, u"Folder", "FOLDER     ", {40});
  b.AddFile(dir, u"Inner.bin", "INNER   BIN", {41, 22}, Pattern(700, 'i'));
  return b;
}

struct Step {
  const char* what;
  uint64_t vcn;
  uint32_t count;
};
const Step kSteps[] = {{"first fragment", 0, 2}, {"middle fragment", 2, 2}, {"whole file", 0, 5}};

// Opens the volume and the file, moves, closes both; the move's result.
DWORD RunMove(CMovableVolume& v, const Step& step, uint64_t lcn) {
  HANDLE vol = v.m_set.CreateFileA("\\\\.\\V:", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   OPEN_EXISTING, 0);
  HANDLE file = v.m_set.CreateFileA("V:\\Fragmented.bin", FILE_READ_ATTRIBUTES, FILE_SHARE_READ,
                                    OPEN_EXISTING, 0);
  DWORD result = MoveFile(v.m_set, vol, file, step.vcn, lcn, step.count);
  v.m_set.CloseHandle(file);
  v.m_set.CloseHandle(vol);
  return result;
}

void ExpectIntact(const std::vector<uint8_t>& bytes, uint64_t size,
                  const std::map<std::string, std::string>& files, const std::string& where) {
  for (int variant = 0; variant < 2; ++variant) {
    CImageSurvey s = Survey(variant == 0 ? bytes : WithSecondFat(bytes), size);
    EXPECT_EQ("", s.m_strProblem) << where << (variant ? ", second FAT" : "");
    EXPECT_TRUE(s.m_files == files) << where << (variant ? ", second FAT" : "");
  }
}

// A second move into the clusters the first one just left, in the same
// session: they may take new data only once the first relink is stored.
DWORD RunTwoMoves(CMovableVolume& v) {
  HANDLE vol = v.m_set.CreateFileA("\\\\.\\V:", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   OPEN_EXISTING, 0);
  HANDLE first = v.m_set.CreateFileA("V:\\Fragmented.bin", FILE_READ_ATTRIBUTES, FILE_SHARE_READ,
                                     OPEN_EXISTING, 0);
  HANDLE second = v.m_set.CreateFileA("V:\\Neighbour.bin", FILE_READ_ATTRIBUTES, FILE_SHARE_READ,
                                      OPEN_EXISTING, 0);
  DWORD result = MoveFile(v.m_set, vol, first, 0, 60, 2);                         // 10 11 -> 62 63
  if (result == ERROR_SUCCESS) result = MoveFile(v.m_set, vol, second, 0, 8, 2);  // 12 13 -> 10 11
  v.m_set.CloseHandle(first);
  v.m_set.CloseHandle(second);
  v.m_set.CloseHandle(vol);
  return result;
}

TEST(MoveCrash, ASecondMoveIntoJustFreedClustersIsSafeAtEveryWrite) {
  for (EBuildType type : {EBuildType::kFat12, EBuildType::kFat16, EBuildType::kFat32}) {
    CFatImageBuilder b = Scene(type);
    const uint64_t size = b.VolumeBytes();
    const std::map<std::string, std::string> files = Survey(b.Bytes(), size).m_files;
    CMovableVolume dry(b.Bytes(), size);
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), RunTwoMoves(dry));
    CImageSurvey done = Survey(dry.Bytes(), size);
    EXPECT_EQ(0u, done.m_nLostClusters);
    EXPECT_TRUE(done.m_files == files);
    for (uint64_t n = 0; n <= dry.m_pPlan->m_nWrites; ++n) {
      CMovableVolume cut(b.Bytes(), size);
      cut.m_pPlan->m_eMode = CFaultPlan::kCrashAfter;
      cut.m_pPlan->m_nAt = n;
      RunTwoMoves(cut);
      ExpectIntact(cut.Bytes(), size, files,
                   "two moves, power cut after write " + std::to_string(n));
    }
  }
}

// The image after a power cut when the writes since the last flush landed
// only in part: everything before flush `epoch`, and of that epoch's writes
// those `keep` says.
std::vector<uint8_t> Landed(const std::vector<uint8_t>& base, const CFaultPlan& plan,
                            uint64_t epoch, const std::vector<bool>& keep) {
  std::vector<uint8_t> out = base;
  size_t k = 0;
  for (const auto& w : plan.m_log) {
    if (w.m_nEpoch > epoch || (w.m_nEpoch == epoch && !keep[k++])) continue;
    if (out.size() < w.m_nOffset + w.m_data.size()) out.resize(w.m_nOffset + w.m_data.size());
    std::copy(w.m_data.begin(), w.m_data.end(), out.begin() + static_cast<ptrdiff_t>(w.m_nOffset));
  }
  return out;
}

// Between two flushes the storage may keep any of the writes: each one
// alone, and all but each one, must leave every file whole.
void ExpectOrderFree(CFatImageBuilder& b, DWORD (*run)(CMovableVolume&), const char* what) {
  const uint64_t size = b.VolumeBytes();
  const std::map<std::string, std::string> files = Survey(b.Bytes(), size).m_files;
  CMovableVolume v(b.Bytes(), size);
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), run(v));
  const CFaultPlan& plan = *v.m_pPlan;
  for (uint64_t epoch = 0; epoch <= plan.m_nFlushes; ++epoch) {
    size_t n = 0;
    for (const auto& w : plan.m_log) n += w.m_nEpoch == epoch;
    for (size_t i = 0; i < n && n > 1; ++i) {
      for (bool alone : {true, false}) {
        std::vector<bool> keep(n, !alone);
        keep[i] = alone;
        ExpectIntact(Landed(b.Bytes(), plan, epoch, keep), size, files,
                     std::string(what) + ", after flush " + std::to_string(epoch) + ", write " +
                         std::to_string(i + 1) + " of " + std::to_string(n) +
                         (alone ? " alone" : " missing"));
      }
    }
  }
}

DWORD RunFirstFragment(CMovableVolume& v) { return RunMove(v, kSteps[0], 60); }
DWORD RunMiddleFragment(CMovableVolume& v) { return RunMove(v, kSteps[1], 60); }
DWORD RunWholeFile(CMovableVolume& v) { return RunMove(v, kSteps[2], 60); }

TEST(MoveCrash, WritesBetweenFlushesMayLandInAnyOrder) {
  for (EBuildType type : {EBuildType::kFat12, EBuildType::kFat16, EBuildType::kFat32}) {
    CFatImageBuilder b = Scene(type);
    ExpectOrderFree(b, &RunFirstFragment, "first fragment");
    ExpectOrderFree(b, &RunMiddleFragment, "middle fragment");
    ExpectOrderFree(b, &RunWholeFile, "whole file");
    ExpectOrderFree(b, &RunTwoMoves, "two moves");
  }
}

TEST(MoveCrash, EveryWritePointLeavesEveryFileWhole) {
  for (EBuildType type : {EBuildType::kFat12, EBuildType::kFat16, EBuildType::kFat32}) {
    CFatImageBuilder b = Scene(type);
    const uint64_t size = b.VolumeBytes();
    const std::map<std::string, std::string> files = Survey(b.Bytes(), size).m_files;
    ASSERT_EQ(3u, files.size());
    for (const Step& step : kSteps) {
      CMovableVolume dry(b.Bytes(), size);
      ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), RunMove(dry, step, 60));
      const uint64_t writes = dry.m_pPlan->m_nWrites;
      // Dirty mark, data, chain, relink, free, clean mark.
      EXPECT_GE(writes, type == EBuildType::kFat12 ? 8u : 12u);
      for (uint64_t n = 0; n <= writes; ++n) {
        std::string where = std::string(step.what) + ", power cut after write " +
                            std::to_string(n) + " of " + std::to_string(writes);
        CMovableVolume cut(b.Bytes(), size);
        cut.m_pPlan->m_eMode = CFaultPlan::kCrashAfter;
        cut.m_pPlan->m_nAt = n;
        RunMove(cut, step, 60);
        ExpectIntact(cut.Bytes(), size, files, where);
      }
      for (uint64_t n = 1; n <= writes; ++n) {
        std::string where = std::string(step.what) + ", write " + std::to_string(n) + " fails";
        CMovableVolume failing(b.Bytes(), size);
        failing.m_pPlan->m_eMode = CFaultPlan::kFailAt;
        failing.m_pPlan->m_nAt = n;
        RunMove(failing, step, 60);
        ExpectIntact(failing.Bytes(), size, files, where);
        // The volume goes on working from what is really on it.
        failing.m_pPlan->m_eMode = CFaultPlan::kNone;
        EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), RunMove(failing, step, 200)) << where;
        ExpectIntact(failing.Bytes(), size, files, where + ", then moved again");
      }
    }
  }
}

}  // namespace
}  // namespace test
}  // namespace vt
