// Reading a group's copies back from the storage of an image file: every
// target compared with its source, whatever its alignment, wherever it lies.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "base/aligned.h"
#include "platform/image/block_device.h"
#include "platform/image/copy_check.h"
#include "platform/image/held_writes.h"

namespace vt {
namespace {

namespace fs = std::filesystem;

// Not a whole number of 4 KiB blocks: its last block is partly outside.
constexpr uint64_t kImageBytes = (8u << 20) + 512;
constexpr uint64_t kTargets = 4u << 20;  // the back half holds the copies

struct CImageFile {
  fs::path m_path = fs::temp_directory_path() / ("vt-read-back-" + std::to_string(::getpid()));
  std::unique_ptr<CBlockDevice> m_device;

  CImageFile() {
    std::ofstream(m_path, std::ios::binary).write("", 0);
    fs::resize_file(m_path, kImageBytes);
    std::string message;
    EXPECT_EQ(ERROR_SUCCESS, CFileBlockDevice::Open(m_path.string(), false, &m_device, &message))
        << message;
    std::vector<uint8_t> pattern(kTargets);
    for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<uint8_t>(i * 7 + i / 509);
    EXPECT_EQ(ERROR_SUCCESS, m_device->Write(0, pattern.data(), pattern.size()));
  }
  ~CImageFile() {
    m_device.reset();
    fs::remove(m_path);
  }

  // Copies `bytes` from `from` to `to` as a move does, and notes it.
  void Copy(uint64_t from, uint64_t to, uint64_t bytes, std::vector<CCopiedRange>* copies) {
    std::vector<uint8_t> data(bytes);
    ASSERT_EQ(ERROR_SUCCESS, m_device->Read(from, data.data(), data.size()));
    ASSERT_EQ(ERROR_SUCCESS, m_device->Write(to, data.data(), data.size()));
    copies->push_back(CCopiedRange{from, to, bytes});
  }
};

// Many targets (so several readers share them), some on 512-byte
// boundaries only, some next to each other, the last ending at the image's
// last byte.
std::vector<CCopiedRange> CopyMany(CImageFile& image) {
  std::vector<CCopiedRange> copies;
  uint64_t to = kTargets;
  for (int i = 0; i < 40; ++i) {
    const uint64_t bytes = 512u * (1 + (i * 37) % 90);
    image.Copy(static_cast<uint64_t>(i) * 65536 + 512u * (i % 3), to, bytes, &copies);
    to += bytes + (i % 4 == 0 ? 0 : 512u * (i % 5));
  }
  image.Copy(4096, kImageBytes - 1536, 1536, &copies);
  return copies;
}

TEST(ReadBack, FindsEveryCopyRightAndAnyByteWrong) {
  CImageFile image;
  ASSERT_TRUE(image.m_device);
  const std::vector<CCopiedRange> copies = CopyMany(image);
  ASSERT_EQ(ERROR_SUCCESS, image.m_device->Flush());
  // Each check made twice: with buffers of its own, and with a volume's
  // kept buffers, which after the first check know that the storage reads
  // directly and read the first stretch beside the others.
  CMoveBuffers kept;
  auto check = [&] {
    const DWORD fresh = CheckCopies(*image.m_device, copies);
    EXPECT_EQ(fresh, CheckCopies(*image.m_device, copies, kept));
    return fresh;
  };
  EXPECT_EQ(ERROR_SUCCESS, check());

  // One byte wrong in one target: the first, a middle one and the last
  // (read through the cache, as the block it ends in lies partly outside
  // the image).
  for (size_t which : {size_t{0}, copies.size() / 2, copies.size() - 1}) {
    const uint64_t at = copies[which].m_nTo + copies[which].m_nBytes / 2;
    uint8_t good = 0;
    ASSERT_EQ(ERROR_SUCCESS, image.m_device->Read(at, &good, 1));
    const uint8_t bad = static_cast<uint8_t>(good ^ 0x40);
    ASSERT_EQ(ERROR_SUCCESS, image.m_device->Write(at, &bad, 1));
    ASSERT_EQ(ERROR_SUCCESS, image.m_device->Flush());
    EXPECT_EQ(static_cast<DWORD>(ERROR_CRC), check()) << which;
    ASSERT_EQ(ERROR_SUCCESS, image.m_device->Write(at, &good, 1));
    ASSERT_EQ(ERROR_SUCCESS, image.m_device->Flush());
  }
  EXPECT_EQ(ERROR_SUCCESS, check());
  CAlignedBytes probe;
  probe.resize(4096);
  if (image.m_device->ReadStored(0, probe.data(), probe.size()) == ERROR_SUCCESS) {
    EXPECT_TRUE(kept.m_bReadsDirect);
  }
}

TEST(ReadBack, ReadsTheStorageOnlyInWholeBlocksAndNeverUnderAHeldWrite) {
  CImageFile image;
  ASSERT_TRUE(image.m_device);
  ASSERT_EQ(ERROR_SUCCESS, image.m_device->Flush());
  CAlignedBytes buffer(8192);
  std::vector<uint8_t> cached(8192);
  ASSERT_EQ(ERROR_SUCCESS, image.m_device->Read(4096, cached.data(), cached.size()));
  const DWORD direct = image.m_device->ReadStored(4096, buffer.data(), 8192);
  if (direct == ERROR_NOT_SUPPORTED) GTEST_SKIP() << "the temporary folder takes no direct reads";
  ASSERT_EQ(ERROR_SUCCESS, direct);
  EXPECT_TRUE(std::equal(cached.begin(), cached.end(), buffer.begin()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_SUPPORTED),
            image.m_device->ReadStored(512, buffer.data(), 4096));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_SUPPORTED),
            image.m_device->ReadStored(4096, buffer.data(), 1000));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_SUPPORTED),
            image.m_device->ReadStored(4096, buffer.data() + 512, 4096));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SECTOR_NOT_FOUND),
            image.m_device->ReadStored(kImageBytes - 512, buffer.data(), 4096));

  // A held write is not on the storage yet: the range is read as the
  // device answers, through its reads, never from the storage.
  CHeldWriteDevice held(std::move(image.m_device));
  held.HoldFor(CHeldWriteDevice::kSwitch);
  const uint8_t mark = 0x5A;
  ASSERT_EQ(ERROR_SUCCESS, held.Write(4096 + 100, &mark, 1));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_SUPPORTED), held.ReadStored(4096, buffer.data(), 4096));
  EXPECT_EQ(ERROR_SUCCESS, held.ReadStored(8192, buffer.data(), 4096));
  held.DropHeld();
  EXPECT_EQ(ERROR_SUCCESS, held.ReadStored(4096, buffer.data(), 4096));
}

}  // namespace
}  // namespace vt
