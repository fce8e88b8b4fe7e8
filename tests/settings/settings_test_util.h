// A scratch folder per test and whole-file helpers.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace vt {
namespace testing_util {

class CScratchFolder {
 public:
  CScratchFolder() {
    static std::atomic<int> counter{0};
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name =
        std::string("vt-settings-") + (info ? info->name() : "x") + "-" + std::to_string(counter++);
    m_path = std::filesystem::temp_directory_path() / name;
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
    std::filesystem::create_directories(m_path);
  }
  ~CScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
  }
  CScratchFolder(const CScratchFolder&) = delete;
  CScratchFolder& operator=(const CScratchFolder&) = delete;

  std::string File(const std::string& name) const { return (m_path / name).string(); }
  const std::filesystem::path& Path() const { return m_path; }
  // Names in the folder, for checking that nothing was left behind.
  size_t EntryCount() const {
    size_t n = 0;
    for (auto it = std::filesystem::directory_iterator(m_path);
         it != std::filesystem::directory_iterator(); ++it)
      ++n;
    return n;
  }

 private:
  std::filesystem::path m_path;
};

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace testing_util
}  // namespace vt
