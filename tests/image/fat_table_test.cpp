// The allocation table on its own: entry widths, chain walks with loops far
// from the start, and writes that reach every FAT copy in use.
#include "platform/image/fat_table.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/image/block_device.h"
#include "ondisk/fat_boot.h"
#include "tests/image/fat_builder.h"

namespace vt {
namespace test {
namespace {

struct Loaded {
  std::unique_ptr<CBlockDevice> device;
  CFatLayout layout;
  CFatTable table;
};

void Load(const CFatImageBuilder& b, Loaded* out) {
  std::vector<uint8_t> full(b.Device()->Size());
  ASSERT_EQ(ERROR_SUCCESS, b.Device()->Read(0, full.data(), full.size()));
  out->device = std::make_unique<CMemoryBlockDevice>(full);
  std::string message;
  ASSERT_EQ(ERROR_SUCCESS, ParseFatBootSector(full.data(), 512, &out->layout, &message));
  ASSERT_EQ(ERROR_SUCCESS, out->table.Load(out->device.get(), out->layout, &message));
}

const std::vector<uint8_t>& Bytes(const Loaded& l) {
  return static_cast<const CMemoryBlockDevice&>(*l.device).Data();
}

TEST(FatTable, LongChainThatLoopsLateIsCaughtWithBoundedWork) {
  CFatImageBuilder b(EBuildType::kFat16);
  std::vector<uint32_t> chain;
  for (uint32_t c = 100; c < 1100; ++c) chain.push_back(c);
  b.Chain(chain);
  b.SetFat(1099, 700);  // the tail links back into the middle
  Loaded l;
  Load(b, &l);
  std::vector<CFsRun> runs;
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_CORRUPT), l.table.ReadChain(100, &runs));
  uint64_t walked = 0;
  for (const CFsRun& r : runs) walked += r.m_nCount;
  EXPECT_LT(walked, 4000u);  // a few times the chain, not the whole volume

  b.SetFat(1099, b.EndOfChain());
  Load(b, &l);
  runs.clear();
  ASSERT_EQ(ERROR_SUCCESS, l.table.ReadChain(100, &runs));
  ASSERT_EQ(1u, runs.size());
  EXPECT_EQ(98u, runs[0].m_nLcn);
  EXPECT_EQ(1000u, runs[0].m_nCount);
  runs.clear();
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_CORRUPT), l.table.ReadChain(100, &runs, 999));
}

TEST(FatTable, WritesReachEveryCopyAndKeepNeighbouringBits) {
  for (EBuildType type : {EBuildType::kFat12, EBuildType::kFat16, EBuildType::kFat32}) {
    CFatImageBuilder b(type);
    b.SetFat(40, 0x123);  // neighbours of the entries written below
    b.SetFat(43, 0x456);
    Loaded l;
    Load(b, &l);
    ASSERT_EQ(ERROR_SUCCESS, l.table.WriteEntry(41, 0xABC));
    ASSERT_EQ(ERROR_SUCCESS, l.table.WriteEntry(42, 0x0DE));
    EXPECT_EQ(0xABCu, l.table.Get(41));
    EXPECT_EQ(0x0DEu, l.table.Get(42));
    EXPECT_EQ(0x123u, l.table.Get(40));
    EXPECT_EQ(0x456u, l.table.Get(43));
    // Both copies on the device read back the same through a fresh load.
    const std::vector<uint8_t>& bytes = Bytes(l);
    uint64_t fatBytes = l.layout.FatBytes();
    EXPECT_TRUE(std::equal(bytes.begin() + l.layout.FatOffset(0),
                           bytes.begin() + l.layout.FatOffset(0) + fatBytes,
                           bytes.begin() + l.layout.FatOffset(1)));
    CFatTable again;
    std::string message;
    ASSERT_EQ(ERROR_SUCCESS, again.Load(l.device.get(), l.layout, &message));
    EXPECT_EQ(0xABCu, again.Get(41));
    EXPECT_EQ(0x0DEu, again.Get(42));
    EXPECT_EQ(0x123u, again.Get(40));
    EXPECT_EQ(0x456u, again.Get(43));
  }
}

TEST(FatTable, Fat32KeepsReservedBitsAndHonoursTheActiveCopy) {
  CFatImageBuilder b(EBuildType::kFat32);
  b.Boot()[0x28] = 0x81;  // mirroring off, copy 1 in use
  Loaded l;
  Load(b, &l);
  EXPECT_FALSE(l.layout.m_bMirrored);
  EXPECT_EQ(1u, l.layout.m_nActiveFat);
  size_t at1 = static_cast<size_t>(l.layout.FatOffset(1)) + 50 * 4;
  CMemoryBlockDevice& dev = static_cast<CMemoryBlockDevice&>(*l.device);
  ASSERT_EQ(ERROR_SUCCESS, dev.Write(at1 + 3, "\xF0", 1));  // reserved top bits
  std::string message;
  ASSERT_EQ(ERROR_SUCCESS, l.table.Load(l.device.get(), l.layout, &message));
  ASSERT_EQ(ERROR_SUCCESS, l.table.WriteEntry(50, 0x0FFFFFFF));
  EXPECT_EQ(0xF0u, dev.Data()[at1 + 3] & 0xF0);
  EXPECT_EQ(0x0FFFFFFFu, l.table.Get(50));
  size_t at0 = static_cast<size_t>(l.layout.FatOffset(0)) + 50 * 4;
  EXPECT_EQ(0u, dev.Data()[at0]);  // the copy not in use is left alone
  CMemoryBlockDevice readOnly(dev.Data(), true);
  CFatTable ro;
  ASSERT_EQ(ERROR_SUCCESS, ro.Load(&readOnly, l.layout, &message));
  EXPECT_EQ(static_cast<DWORD>(ERROR_WRITE_PROTECT), ro.WriteEntry(50, 0));
}

}  // namespace
}  // namespace test
}  // namespace vt
