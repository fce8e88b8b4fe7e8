// The intent record of a group of moves and the device that holds a group's
// metadata writes back.
#include "platform/image/move_intent.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/image/held_writes.h"

namespace vt {
namespace {

std::string TempPath(const char* name) { return ::testing::TempDir() + name; }

TEST(IntentRecord, RoundTripsAndOnlyAWholeRecordCounts) {
  const std::string path = TempPath("vt-intent-test.img.vantrel-moves");
  CIntentRecord record;
  record.m_dwSerial = 0x1234ABCD;
  record.m_bMarkedDirty = true;
  record.m_clusters = {{5, 3}, {1ull << 40, 7}};
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), WriteIntentRecord(path, record));
  CIntentRecord back;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), ReadIntentRecord(path, &back));
  EXPECT_EQ(record.m_dwSerial, back.m_dwSerial);
  EXPECT_TRUE(back.m_bMarkedDirty);
  EXPECT_EQ(record.m_clusters, back.m_clusters);
  // Cut short, or with a run that wraps around: not a record to act on.
  std::string text;
  {
    std::ifstream in(path, std::ios::binary);
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  for (const std::string& bad :
       {text.substr(0, text.size() - 4),
        std::string("vantrel-moves 1\nrun 18446744073709551615 2\nend\n"),
        std::string("something else\nend\n"), std::string("vantrel-moves 1\nrun 4 0\nend\n")}) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bad;
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_CORRUPT), ReadIntentRecord(path, &back)) << bad;
  }
  RemoveIntentRecord(path);
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), ReadIntentRecord(path, &back));
  // A volume held in memory has no place for one.
  CMemoryBlockDevice memory(std::vector<uint8_t>(512));
  EXPECT_EQ("", IntentRecordPath(memory, 1));
}

// Each group's record replaces the one before in place and names the
// clusters the group before freed until a flush has stored those frees; it
// goes at the end unless a group failed part way.
TEST(GroupRecords, EachRecordNamesTheFreesNotYetStoredAndOnlyAFailureKeepsIt) {
  const std::string path = TempPath("vt-group-records.img.vantrel-moves");
  RemoveIntentRecord(path);
  CGroupRecords records;
  records.m_strPath = path;
  CIntentRecord first;
  first.m_clusters = {{100, 4}, {200, 4}, {300, 1}};
  int flushes = 0;
  auto flush = [&flushes] { return ++flushes == 2 ? ERROR_WRITE_FAULT : ERROR_SUCCESS; };
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), records.StoreWithFlush(first, flush));
  records.Freed(100, 4);
  CIntentRecord second;
  second.m_clusters = {{7, 2}};
  // The flush fails: the frees are not known to be stored, the record stays.
  EXPECT_EQ(static_cast<DWORD>(ERROR_WRITE_FAULT), records.StoreWithFlush(second, flush));
  CIntentRecord back;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), ReadIntentRecord(path, &back));
  const std::vector<std::pair<uint64_t, uint64_t>> both = {{7, 2}, {100, 4}};
  EXPECT_EQ(both, back.m_clusters);  // the shorter record over the longer
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), records.StoreWithFlush(second, flush));
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), ReadIntentRecord(path, &back));
  EXPECT_EQ(both, back.m_clusters);  // named once more, each run once
  // The failed group's clusters stay named by every later record, which
  // replaces the one the next open would have finished it by.
  CIntentRecord third;
  third.m_clusters = {{50, 1}};
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), records.StoreWithFlush(third, flush));
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), ReadIntentRecord(path, &back));
  const std::vector<std::pair<uint64_t, uint64_t>> carried = {{50, 1}, {7, 2}, {100, 4}};
  EXPECT_EQ(carried, back.m_clusters);
  records.Finish();
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), ReadIntentRecord(path, &back)) << "kept";
  CGroupRecords clean;
  clean.m_strPath = path;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
            clean.StoreWithFlush(second, [] { return ERROR_SUCCESS; }));
  clean.Finish();
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), ReadIntentRecord(path, &back));
}

TEST(HeldWrites, ReadsSeeHeldWritesAndEachStageIsReleasedInOrder) {
  auto memory = std::make_unique<CMemoryBlockDevice>(std::vector<uint8_t>(64, 0));
  CMemoryBlockDevice* storage = memory.get();
  CHeldWriteDevice held(std::move(memory));
  const uint8_t a[4] = {1, 1, 1, 1};
  const uint8_t b[2] = {2, 2};
  const uint8_t c[1] = {3};
  held.HoldFor(CHeldWriteDevice::kChains);
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), held.Write(8, a, 4));
  held.HoldFor(CHeldWriteDevice::kSwitch);
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), held.Write(10, b, 2));
  held.HoldFor(CHeldWriteDevice::kDirect);
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), held.Write(0, c, 1));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SECTOR_NOT_FOUND), held.Write(63, a, 4));
  uint8_t seen[6] = {};
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), held.Read(7, seen, 6));
  EXPECT_EQ(std::vector<uint8_t>({0, 1, 1, 2, 2, 0}), std::vector<uint8_t>(seen, seen + 6));
  EXPECT_EQ(3, storage->Data()[0]);
  EXPECT_EQ(0, storage->Data()[8]);  // held: not on the storage yet
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), held.Release(CHeldWriteDevice::kChains));
  EXPECT_EQ(1, storage->Data()[10]);
  EXPECT_TRUE(held.HasHeld());
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), held.Release(CHeldWriteDevice::kSwitch));
  EXPECT_EQ(2, storage->Data()[10]);
  EXPECT_FALSE(held.HasHeld());
  held.HoldFor(CHeldWriteDevice::kSwitch);
  held.Write(20, a, 4);
  held.DropHeld();
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), held.Read(20, seen, 4));
  EXPECT_EQ(0, seen[0]);
}

// A device that counts the writes it is given.
class CCountingDevice : public CMemoryBlockDevice {
 public:
  using CMemoryBlockDevice::CMemoryBlockDevice;
  DWORD Write(uint64_t offset, const void* buffer, size_t size) override {
    ++m_nWrites;
    return CMemoryBlockDevice::Write(offset, buffer, size);
  }
  int m_nWrites = 0;
};

// A stage's writes close together reach the storage as one write: later
// ones over earlier ones, the bytes between them as stored, and another
// stage's held bytes between them not carried out early.
TEST(HeldWrites, AStagesNearbyWritesAreJoinedWithoutCarryingAnotherStage) {
  std::vector<uint8_t> bytes(3 << 20, 0);
  bytes[5] = 9;
  auto memory = std::make_unique<CCountingDevice>(bytes);
  CCountingDevice* storage = memory.get();
  CHeldWriteDevice held(std::move(memory));
  const uint8_t one[2] = {1, 1};
  const uint8_t two[2] = {2, 2};
  const uint8_t seven[1] = {7};
  held.HoldFor(CHeldWriteDevice::kChains);
  held.Write(100, one, 2);
  held.Write(0, one, 2);
  held.Write(1, two, 2);  // over the write before it
  held.HoldFor(CHeldWriteDevice::kSwitch);
  held.Write(50, seven, 1);  // between the two, a stage later
  held.HoldFor(CHeldWriteDevice::kChains);
  held.Write(2u << 20, one, 2);  // far off: a write of its own
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), held.Release(CHeldWriteDevice::kChains));
  EXPECT_EQ(2, storage->m_nWrites);
  const std::vector<uint8_t>& data = storage->Data();
  EXPECT_EQ(std::vector<uint8_t>({1, 2, 2, 0, 0, 9}),
            std::vector<uint8_t>(data.begin(), data.begin() + 6));
  EXPECT_EQ(0, data[50]);
  EXPECT_EQ(1, data[101]);
  EXPECT_EQ(1, data[(2u << 20) + 1]);
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), held.Release(CHeldWriteDevice::kSwitch));
  EXPECT_EQ(7, storage->Data()[50]);
  EXPECT_FALSE(held.HasHeld());
}

// Reads see every held write over the storage, later over earlier, among
// thousands of writes of mixed lengths (one far longer than the rest),
// before and after a stage is released: checked against a plain model.
TEST(HeldWrites, ReadsMatchTheStorageAsItWillBeAmongManyWrites) {
  constexpr size_t kBytes = 1 << 16;
  auto memory = std::make_unique<CMemoryBlockDevice>(std::vector<uint8_t>(kBytes, 0));
  CHeldWriteDevice held(std::move(memory));
  std::vector<uint8_t> model(kBytes, 0);
  std::mt19937 rng(7);
  auto check = [&](int round) {
    for (int r = 0; r < 300; ++r) {
      const size_t at = rng() % kBytes;
      const size_t size = 1 + rng() % std::min<size_t>(700, kBytes - at);
      std::vector<uint8_t> seen(size);
      ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), held.Read(at, seen.data(), size));
      ASSERT_TRUE(std::equal(seen.begin(), seen.end(), model.begin() + static_cast<ptrdiff_t>(at)))
          << "round " << round << " read " << at << "+" << size;
    }
  };
  for (int round = 0; round < 4; ++round) {
    for (int w = 0; w < 2000; ++w) {
      // A stage's writes lie over each other, the stages' never (as a
      // group's chains and switches are different bytes).
      const bool chains = w % 3 == 0;
      const size_t half = kBytes / 2;
      const size_t at = (chains ? 0 : half) + rng() % half;
      const size_t longest = w == 1000 ? 9000 : 64;
      const size_t size = 1 + rng() % std::min(longest, (chains ? half : kBytes) - at);
      std::vector<uint8_t> data(size, static_cast<uint8_t>(1 + rng() % 255));
      held.HoldFor(chains ? CHeldWriteDevice::kChains : CHeldWriteDevice::kSwitch);
      ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), held.Write(at, data.data(), size));
      std::copy(data.begin(), data.end(), model.begin() + static_cast<ptrdiff_t>(at));
    }
    held.HoldFor(CHeldWriteDevice::kDirect);
    check(round);
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), held.Release(CHeldWriteDevice::kChains));
    check(round);  // chains stored, the switch still held over them
    if (round % 2 == 1) {
      ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), held.Release(CHeldWriteDevice::kSwitch));
      EXPECT_FALSE(held.HasHeld());
      check(round);
    }
  }
}

}  // namespace
}  // namespace vt
