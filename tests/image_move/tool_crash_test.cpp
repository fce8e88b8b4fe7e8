// Power cuts during real moves on images made by mkfs.fat and mtools
// (tests/tools/make_fat_images.sh), judged by the tools themselves: after a
// cut at each write of a move, fsck.fat -n must accept the image, fatcat -2
// must find the FAT copies equal, and mcopy must read every file back as it
// was before.
//
// What fsck.fat may say, and why it is accepted: the dirty bit (the cut
// came while moves had the volume marked), reclaimed unused clusters (the
// target or the old clusters of an unfinished move, owned by no file), the
// FAT32 boot sector differing from its backup only in that dirty flag (the
// flag is kept in the primary boot sector alone), and "FATs differ" only at
// a cut between the two copies of one FAT update; then the image is also
// checked with the second copy put in place of the first. Its summary must
// count the same files and the same clusters in use as before the move
// (lost clusters are counted as reclaimed). Anything else fails.
#ifndef _WIN32

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/image/block_device.h"
#include "platform/image/volume_set.h"
#include "tests/image_move/move_support.h"

namespace vt {
namespace test {
namespace {

namespace fs = std::filesystem;

struct CToolRun {
  int status = -1;
  std::string output;
};

CToolRun RunTool(const std::string& command) {
  CToolRun run;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) run.output.append(buffer, n);
  int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string Quote(const std::string& text) { return "'" + text + "'"; }

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string ImagesDir() {
  const char* env = std::getenv("VT_FAT_IMAGES");
  if (env && *env) return env;
  const char* bin = std::getenv("VT_BINARY_DIR");
  if (bin && *bin && fs::exists(std::string(bin) + "/fat-images/fat32.img.manifest")) {
    return std::string(bin) + "/fat-images";
  }
  const char* src = std::getenv("VT_SOURCE_DIR");
  std::string script = std::string(src ? src : ".") + "/tests/tools/make_fat_images.sh";
  std::string target = ::testing::TempDir() + "vt-move-fat-images";
  if (fs::exists(script) && RunTool("bash " + Quote(script) + " " + Quote(target)).status == 0) {
    return target;
  }
  return std::string();
}

// What the image held before any move.
struct CBefore {
  std::map<std::string, std::string> m_files;  // path (as mtools names it) -> bytes
  std::string m_strSummaryCounts;              // "N files, U/T clusters"
};

std::string SummaryCounts(const std::string& fsckOutput) {
  std::smatch m;
  static const std::regex kSummary(": (\\d+ files, \\d+/\\d+ clusters)");
  return std::regex_search(fsckOutput, m, kSummary) ? m[1].str() : std::string();
}

bool LoadBefore(const std::string& dir, const std::string& image, CBefore* before) {
  std::ifstream in(dir + "/" + image + ".manifest");
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::stringstream parts(line);
    std::string part;
    while (std::getline(parts, part, '\t')) f.push_back(part);
    if (f.size() == 5 && f[0] == "F") {
      before->m_files[f[4]] = ReadWhole(dir + "/" + image + ".out/" + f[3]);
    }
  }
  before->m_strSummaryCounts =
      SummaryCounts(RunTool("fsck.fat -n " + Quote(dir + "/" + image)).output);
  return !before->m_files.empty() && !before->m_strSummaryCounts.empty();
}

// fsck.fat -n and mcopy on one image: "" when accepted, else why not.
// `label` says what fsck.fat reported.
std::string Judge(const std::string& image, const CBefore& before, bool fatsMayDiffer,
                  std::string* label) {
  CToolRun fsck = RunTool("fsck.fat -n " + Quote(image));
  std::set<std::string> seen;
  std::string problems;
  if (fsck.status != 0 && fsck.status != 1)
    problems += "fsck.fat exit " + std::to_string(fsck.status);
  std::istringstream lines(fsck.output);
  std::string line;
  static const std::regex kReclaimed("Reclaimed \\d+ unused clusters? \\(\\d+ bytes\\)\\.");
  while (std::getline(lines, line)) {
    if (line.empty() || line.rfind("fsck.fat ", 0) == 0 ||
        line == "Leaving filesystem unchanged.") {
      continue;
    }
    if (line.find(" files, ") != std::string::npos && line.find(" clusters") != std::string::npos) {
      if (SummaryCounts(line) != before.m_strSummaryCounts) {
        problems += "summary " + line + " (before: " + before.m_strSummaryCounts + ")\n";
      }
    } else if (line.rfind("Dirty bit is set.", 0) == 0 ||
               line == " Automatically removing dirty bit.") {
      seen.insert("dirty");
    } else if (std::regex_match(line, kReclaimed)) {
      seen.insert("lost");
    } else if (line == "There are differences between boot sector and its backup." ||
               line == "This is mostly harmless. Differences: (offset:original/backup)" ||
               line == "  Not automatically fixing this." || line == "  65:01/00") {
      seen.insert("boot flag");
    } else if (fatsMayDiffer &&
               (line == "FATs differ but appear to be intact." || line == "  Using first FAT.")) {
      seen.insert("FATs differ");
    } else {
      problems += "fsck.fat: " + line + "\n";
    }
  }
  *label = fsck.status == 0 ? "clean" : "";
  for (const std::string& s : seen) *label += (label->empty() ? "" : "+") + s;

  fs::path out = fs::path(image).concat(".files");
  fs::remove_all(out);
  fs::create_directories(out);
  CToolRun copy = RunTool("mcopy -s -n -i " + Quote(image) + " '::*' " + Quote(out.string() + "/"));
  if (copy.status != 0) problems += "mcopy: " + copy.output;
  for (const auto& file : before.m_files) {
    if (ReadWhole((out / file.first).string()) != file.second || !fs::exists(out / file.first)) {
      problems += "content of " + file.first + " changed\n";
    }
  }
  fs::remove_all(out);
  return problems;
}

struct CScenario {
  const char* what;
  size_t firstExtent;  // index into the file's extents
  size_t extents;      // how many extents move together (0: all from the first)
};

// Opens the volume and the file as the engine does, moves the chosen
// extents to the lowest free run that holds them, closes both. The number
// of clusters moved, or 0 when no move was made.
uint64_t MoveThroughVolumeSet(const std::string& image, const std::string& path,
                              const CScenario& scenario, std::shared_ptr<CFaultPlan> plan,
                              DWORD* result) {
  std::unique_ptr<CBlockDevice> device;
  std::string message;
  if (CFileBlockDevice::Open(image, false, &device, &message) != ERROR_SUCCESS) return 0;
  CImageVolumeSet set;
  if (set.MountDevice('V', std::make_unique<CFaultBlockDevice>(std::move(device), plan), image,
                      false) != ERROR_SUCCESS) {
    return 0;
  }
  HANDLE vol = set.CreateFileA("\\\\.\\V:", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               OPEN_EXISTING, 0);
  HANDLE file =
      set.CreateFileA(path.c_str(), FILE_EXECUTE, 0, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  auto extents = Extents(set, file);
  uint64_t vcn = 0;
  uint64_t count = 0;
  size_t last = scenario.extents ? scenario.firstExtent + scenario.extents : extents.size();
  for (size_t i = 0; i < extents.size() && i < last; ++i) {
    if (i < scenario.firstExtent) {
      vcn += extents[i].second;
    } else {
      count += extents[i].second;
    }
  }
  // The lowest free run long enough, from the volume bitmap.
  std::vector<uint8_t> bitmap(1 << 20);
  STARTING_LCN_INPUT_BUFFER from = {};
  DWORD returned = 0;
  set.DeviceIoControl(vol, FSCTL_GET_VOLUME_BITMAP, &from, sizeof(from), bitmap.data(),
                      static_cast<DWORD>(bitmap.size()), &returned);
  int64_t bits = 0;
  std::memcpy(&bits, bitmap.data() + 8, 8);
  uint64_t target = 0;
  uint64_t run = 0;
  for (int64_t lcn = 0; lcn < bits && run < count; ++lcn) {
    bool used = (bitmap[16 + lcn / 8] >> (lcn % 8)) & 1;
    run = used ? 0 : run + 1;
    if (run == 1) target = static_cast<uint64_t>(lcn);
  }
  if (count == 0 || run < count) return 0;
  *result = MoveFile(set, vol, file, vcn, target, static_cast<uint32_t>(count));
  set.CloseHandle(file);
  set.CloseHandle(vol);
  return count;
}

TEST(MoveCrashTools, PowerCutAtEveryWriteLeavesAnImageTheToolsAccept) {
  for (const char* tool : {"fsck.fat", "fatcat", "mcopy"}) {
    if (RunTool(std::string("command -v ") + tool + " || test -x /usr/sbin/" + tool).status != 0) {
      GTEST_SKIP() << tool << " is not installed";
    }
  }
  const std::string dir = ImagesDir();
  if (dir.empty()) GTEST_SKIP() << "no images from make_fat_images.sh";
  ::setenv("MTOOLS_SKIP_CHECK", "1", 1);
  ::setenv("PATH", (std::string(std::getenv("PATH")) + ":/usr/sbin:/sbin").c_str(), 1);
  // Memory-backed when the host has it: every move flushes the whole copy.
  const std::string work =
      (fs::is_directory("/dev/shm") ? std::string("/dev/shm/") : ::testing::TempDir()) +
      "vt-move-crash-" + std::to_string(::getpid());
  fs::create_directories(work);
  const CScenario scenarios[] = {
      {"first fragment", 0, 1}, {"middle fragment", 2, 1}, {"whole file", 0, 0}};
  const std::string path = "V:\\Fragments\\Fragmented two.bin";

  for (const char* name : {"fat12.img", "fat16.img", "fat32.img"}) {
    CBefore before;
    ASSERT_TRUE(LoadBefore(dir, name, &before)) << name;
    const std::string copy = work + "/" + name;
    for (const CScenario& scenario : scenarios) {
      fs::copy_file(dir + "/" + name, copy, fs::copy_options::overwrite_existing);
      auto dry = std::make_shared<CFaultPlan>();
      DWORD result = ERROR_GEN_FAILURE;
      uint64_t clusters = MoveThroughVolumeSet(copy, path, scenario, dry, &result);
      ASSERT_GT(clusters, 0u) << name << ", " << scenario.what;
      ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), result) << name << ", " << scenario.what;
      std::string label;
      EXPECT_EQ("", Judge(copy, before, false, &label)) << name << " after a whole move";
      EXPECT_EQ("clean", label) << name << " after a whole move";

      std::string summary;
      for (uint64_t n = 0; n <= dry->m_nWrites; ++n) {
        fs::copy_file(dir + "/" + name, copy, fs::copy_options::overwrite_existing);
        auto plan = std::make_shared<CFaultPlan>();
        plan->m_eMode = CFaultPlan::kCrashAfter;
        plan->m_nAt = n;
        MoveThroughVolumeSet(copy, path, scenario, plan, &result);
        const std::string where = std::string(name) + ", " + scenario.what +
                                  ", power cut after write " + std::to_string(n) + " of " +
                                  std::to_string(dry->m_nWrites);
        CToolRun fatcat = RunTool("fatcat " + Quote(copy) + " -2");
        bool equal = fatcat.output.find("FATs are exactly equals") != std::string::npos;
        EXPECT_EQ("", Judge(copy, before, !equal, &label)) << where;
        if (!equal) {
          // Cut between the copies: each copy on its own must hold up.
          std::vector<uint8_t> bytes;
          {
            std::string raw = ReadWhole(copy);
            bytes.assign(raw.begin(), raw.end());
          }
          std::vector<uint8_t> second = WithSecondFat(bytes);
          std::ofstream(copy, std::ios::binary | std::ios::trunc)
              .write(reinterpret_cast<const char*>(second.data()),
                     static_cast<std::streamsize>(second.size()));
          std::string secondLabel;
          EXPECT_EQ("", Judge(copy, before, false, &secondLabel)) << where << ", second FAT";
          label += ", FAT copies differ; second copy: " + secondLabel;
        }
        summary += "\n  " + std::to_string(n) + ": " + label;
      }
      std::printf("%s, %s (%llu clusters), %llu writes:%s\n", name, scenario.what,
                  static_cast<unsigned long long>(clusters),
                  static_cast<unsigned long long>(dry->m_nWrites), summary.c_str());
    }
  }
  fs::remove_all(work);
}

// The fault device with the intent record beside the image, as a power cut
// leaves it: the record is taken as it stood when the first write was lost.
class CCutWithRecord : public CFaultBlockDevice {
 public:
  CCutWithRecord(std::unique_ptr<CBlockDevice> inner, std::shared_ptr<CFaultPlan> plan,
                 std::string path)
      : CFaultBlockDevice(std::move(inner), plan),
        m_pCut(std::move(plan)),
        m_strPath(std::move(path)) {}
  DWORD Write(uint64_t offset, const void* buffer, size_t size) override {
    if (m_pCut->m_eMode == CFaultPlan::kCrashAfter && m_pCut->m_nWrites == m_pCut->m_nAt) {
      const std::string record = m_strPath + ".vantrel-moves";
      fs::remove(record + ".cut");
      if (fs::exists(record)) fs::copy_file(record, record + ".cut");
    }
    return CFaultBlockDevice::Write(offset, buffer, size);
  }
  std::string StatePath() const override { return m_strPath; }

 private:
  std::shared_ptr<CFaultPlan> m_pCut;
  std::string m_strPath;
};

// Moves both fragmented files whole, one after the other, to the lowest free
// runs, through one volume handle: one group of moves. Then the clusters of
// the folder Many after its first (and on FAT32 the root's second), each a
// group of its own, and last the start of a file whose entry lay in one of
// Many's moved clusters, through a handle opened before Many moved. The
// moves made.
uint64_t MoveGroupsWithFolders(const std::string& image, std::shared_ptr<CFaultPlan> plan) {
  std::unique_ptr<CBlockDevice> device;
  std::string message;
  if (CFileBlockDevice::Open(image, false, &device, &message) != ERROR_SUCCESS) return 0;
  CImageVolumeSet set;
  if (set.MountDevice('V', std::make_unique<CCutWithRecord>(std::move(device), plan, image), image,
                      false) != ERROR_SUCCESS) {
    return 0;
  }
  HANDLE vol = set.CreateFileA("\\\\.\\V:", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               OPEN_EXISTING, 0);
  std::vector<uint8_t> bitmap(1 << 20);
  STARTING_LCN_INPUT_BUFFER from = {};
  DWORD returned = 0;
  set.DeviceIoControl(vol, FSCTL_GET_VOLUME_BITMAP, &from, sizeof(from), bitmap.data(),
                      static_cast<DWORD>(bitmap.size()), &returned);
  int64_t bits = 0;
  std::memcpy(&bits, bitmap.data() + 8, 8);
  uint64_t moved = 0;
  int64_t lcn = 0;
  // The lowest free run that holds `count`, above the runs taken before
  // (the bitmap read at the start still marks those free).
  auto next = [&](uint64_t count, int64_t* target) {
    uint64_t run = 0;
    for (; lcn < bits && run < count; ++lcn) {
      run = (bitmap[16 + lcn / 8] >> (lcn % 8)) & 1 ? 0 : run + 1;
      if (run == 1) *target = lcn;
    }
    return count > 0 && run == count;
  };
  // Moves the clusters from `vcn` to the end, through `file`.
  auto moveFrom = [&](HANDLE file, uint64_t vcn) {
    uint64_t count = 0;
    for (const auto& extent : Extents(set, file)) count += extent.second;
    int64_t target = 0;
    if (count > vcn && next(count - vcn, &target) &&
        MoveFile(set, vol, file, vcn, static_cast<uint64_t>(target),
                 static_cast<uint32_t>(count - vcn)) == ERROR_SUCCESS) {
      ++moved;
    }
  };
  auto open = [&](const char* path) {
    return set.CreateFileA(path, FILE_EXECUTE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS);
  };
  for (const char* path :
       {"V:\\Fragments\\Fragmented one.bin", "V:\\Fragments\\Fragmented two.bin"}) {
    HANDLE file = open(path);
    moveFrom(file, 0);
    set.CloseHandle(file);
  }
  // Entry 30's entry is Many's 122nd (".", "..", then four for each file).
  HANDLE entry = open("V:\\Many\\Entry number 30 with a long name.txt");
  HANDLE many = open("V:\\Many");
  moveFrom(many, 1);
  set.CloseHandle(many);
  HANDLE root = open("V:\\");
  moveFrom(root, 1);  // FAT16: the root has no clusters to move
  set.CloseHandle(root);
  moveFrom(entry, 0);
  set.CloseHandle(entry);
  set.CloseHandle(vol);
  return moved;
}

// A power cut at every write of groups of moves (files, then folders'
// later clusters, then a file whose entry moved with its folder), then the
// next open of the volume (which finishes what the cut group's intent
// record names): fsck.fat -n must then find the volume clean, without a
// lost cluster or the dirty mark, every file as before, and the record
// gone.
TEST(MoveCrashTools, APowerCutInAGroupIsFinishedByTheNextOpen) {
  for (const char* tool : {"fsck.fat", "mcopy"}) {
    if (RunTool(std::string("command -v ") + tool + " || test -x /usr/sbin/" + tool).status != 0) {
      GTEST_SKIP() << tool << " is not installed";
    }
  }
  const std::string dir = ImagesDir();
  if (dir.empty()) GTEST_SKIP() << "no images from make_fat_images.sh";
  ::setenv("MTOOLS_SKIP_CHECK", "1", 1);
  ::setenv("PATH", (std::string(std::getenv("PATH")) + ":/usr/sbin:/sbin").c_str(), 1);
  const std::string work =
      (fs::is_directory("/dev/shm") ? std::string("/dev/shm/") : ::testing::TempDir()) +
      "vt-group-cut-" + std::to_string(::getpid());
  fs::create_directories(work);
  for (const char* name : {"fat16.img", "fat32.img"}) {
    CBefore before;
    ASSERT_TRUE(LoadBefore(dir, name, &before)) << name;
    const std::string copy = work + "/" + name;
    const std::string record = copy + ".vantrel-moves";
    fs::copy_file(dir + "/" + name, copy, fs::copy_options::overwrite_existing);
    auto dry = std::make_shared<CFaultPlan>();
    const bool fat32 = std::string(name) == "fat32.img";
    ASSERT_EQ(fat32 ? 5u : 4u, MoveGroupsWithFolders(copy, dry)) << name;
    std::string label;
    EXPECT_EQ("", Judge(copy, before, false, &label)) << name << " after the group";
    EXPECT_EQ("clean", label) << name;
    EXPECT_FALSE(fs::exists(record)) << name;
    for (uint64_t n = 0; n < dry->m_nWrites; ++n) {
      const std::string where = std::string(name) + ", power cut after write " + std::to_string(n) +
                                " of " + std::to_string(dry->m_nWrites);
      fs::copy_file(dir + "/" + name, copy, fs::copy_options::overwrite_existing);
      fs::remove(record);
      fs::remove(record + ".cut");
      auto plan = std::make_shared<CFaultPlan>();
      plan->m_eMode = CFaultPlan::kCrashAfter;
      plan->m_nAt = n;
      MoveGroupsWithFolders(copy, plan);
      // What the cut left: the record as it stood then.
      fs::remove(record);
      if (fs::exists(record + ".cut")) fs::rename(record + ".cut", record);
      EXPECT_EQ("", Judge(copy, before, true, &label)) << where << ", as cut";
      {
        std::unique_ptr<CBlockDevice> device;
        std::string message;
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
                  CFileBlockDevice::Open(copy, false, &device, &message));
        CImageVolumeSet set;
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
                  set.MountDevice('V', std::move(device), copy, false))
            << where;
      }
      EXPECT_EQ("", Judge(copy, before, false, &label)) << where << ", after the next open";
      EXPECT_EQ("clean", label) << where << ", after the next open";
      EXPECT_FALSE(fs::exists(record)) << where << ": the record stayed";
    }
  }
  fs::remove_all(work);
}

}  // namespace
}  // namespace test
}  // namespace vt

#endif  // _WIN32
