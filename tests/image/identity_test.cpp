// The bytes behind a host path, whatever its name: links share the image's
// identity and its writer lock; a FIFO is refused, never waited on. Loop
// devices and partitions are checked as root by the end-to-end test.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "platform/image/block_device.h"
#include "platform/image/volume_identity.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vt {
namespace test {
namespace {

namespace fs = std::filesystem;

class Identity : public ::testing::Test {
 protected:
  Identity() {
    m_dir = fs::temp_directory_path() /
            ("vantrel-identity-" +
             std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
    m_image = (m_dir / "v.img").string();
    std::ofstream(m_image, std::ios::binary) << std::string(4096, 'x');
  }
  ~Identity() override {
    std::error_code ec;
    fs::remove_all(m_dir, ec);
  }
  std::string Path(const char* name) const { return (m_dir / name).string(); }
  fs::path m_dir;
  std::string m_image;
};

TEST_F(Identity, LinksAreTheImageAndOtherFilesAreNot) {
  fs::create_hard_link(m_image, Path("hard.img"));
#ifdef _WIN32
  const std::string soft = Path("hard.img");  // Wine makes no symbolic links
#else
  const std::string soft = Path("soft.img");
  fs::create_symlink(m_image, soft);
#endif
  std::ofstream(Path("other.img")) << "y";
  const CBackingIdentity image = BackingIdentity(m_image);
  ASSERT_TRUE(image.IsKnown());
  EXPECT_EQ(image.m_eKind, CBackingIdentity::kFile);
  EXPECT_TRUE(image == BackingIdentity(Path("hard.img")));
  EXPECT_TRUE(image == BackingIdentity(soft));
  EXPECT_TRUE(image == BackingIdentity(Path("../") + m_dir.filename().string() + "/v.img"));
  EXPECT_FALSE(image == BackingIdentity(Path("other.img")));
  EXPECT_EQ(image.Key(), BackingIdentity(Path("hard.img")).Key());
  EXPECT_FALSE(BackingIdentity(Path("missing")).IsKnown());
  EXPECT_FALSE(BackingIdentity(Path("missing")) == BackingIdentity(Path("missing")));

  EXPECT_TRUE(WritesIntoVolume(Path("hard.img"), m_image));
  EXPECT_TRUE(WritesIntoVolume(m_image, soft));
  EXPECT_FALSE(WritesIntoVolume(Path("other.img"), m_image));
  EXPECT_FALSE(WritesIntoVolume(Path("new.png"), m_image));  // a new file
}

#ifndef _WIN32
TEST_F(Identity, OneWriterByAnyNameAndReadersStillOpen) {
  fs::create_hard_link(m_image, Path("hard.img"));
  fs::create_symlink(Path("hard.img"), Path("soft.img"));
  std::unique_ptr<CBlockDevice> first, second;
  std::string message;
  ASSERT_EQ(ERROR_SUCCESS, CFileBlockDevice::Open(m_image, false, &first, &message)) << message;
  for (const char* name : {"hard.img", "soft.img"}) {
    message.clear();
    EXPECT_EQ(ERROR_SHARING_VIOLATION,
              CFileBlockDevice::Open(Path(name), false, &second, &message))
        << name;
    EXPECT_EQ(message, kInUseByVantrel);
  }
  EXPECT_EQ(ERROR_SUCCESS, CFileBlockDevice::Open(Path("hard.img"), true, &second, &message));
  second.reset();
  // The lock goes with the device.
  first.reset();
  EXPECT_EQ(ERROR_SUCCESS, CFileBlockDevice::Open(Path("soft.img"), false, &second, &message));

  // The lock file itself refuses a second holder of the same identity.
  CWriterLock again;
  EXPECT_EQ(ERROR_SHARING_VIOLATION, again.Take(BackingIdentity(m_image), &message));
  second.reset();
  EXPECT_EQ(ERROR_SUCCESS, again.Take(BackingIdentity(m_image), &message));
  EXPECT_EQ(ERROR_LOCK_VIOLATION, CWriterLock().Take(CBackingIdentity(), &message));
}

TEST_F(Identity, AFifoOrTerminalIsRefusedWithoutWaiting) {
  ASSERT_EQ(0, ::mkfifo(Path("fifo").c_str(), 0600));
  std::unique_ptr<CBlockDevice> device;
  for (bool readOnly : {true, false}) {
    std::string message;
    // With no writer on the other end, a blocking open would never return.
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              CFileBlockDevice::Open(Path("fifo"), readOnly, &device, &message));
    EXPECT_NE(message.find("neither an image file nor a block device"), std::string::npos)
        << message;
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              CFileBlockDevice::Open("/dev/null", readOnly, &device, &message));
  }
  EXPECT_FALSE(device);
}

TEST_F(Identity, LockFilesAreNotFollowedThroughLinks) {
  const CBackingIdentity id = BackingIdentity(m_image);
  const std::string lock = WriterLockFolder() + "/vantrel-" + id.Key() + ".lock";
  std::error_code ec;
  fs::remove(lock, ec);
  fs::create_symlink(Path("target"), lock);
  std::string message;
  EXPECT_EQ(ERROR_LOCK_VIOLATION, CWriterLock().Take(id, &message));
  EXPECT_FALSE(fs::exists(Path("target")));
  fs::remove(lock);
  EXPECT_EQ(ERROR_SUCCESS, CWriterLock().Take(id, &message)) << message;
}
#endif

}  // namespace
}  // namespace test
}  // namespace vt
