// A pinned clock and a scratch folder for the report tests.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "report/report_clock.h"

namespace vt {

class CFixedClock : public IReportClock {
 public:
  SYSTEMTIME now{2009, 3, 4, 5, 15, 4, 5, 0};
  SYSTEMTIME LocalTime() override { return now; }
  std::string TimeText(const SYSTEMTIME&) override { return "3:04:05 PM"; }
  std::string DateText(const SYSTEMTIME&) override { return "3/5/2009"; }
};

// A fresh, empty folder named after the running test; removed afterwards.
class CScratchFolder {
 public:
  CScratchFolder() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    m_path = std::filesystem::temp_directory_path() /
             (std::string("vt_report_") + info->test_suite_name() + "_" + info->name());
    std::filesystem::remove_all(m_path);
    std::filesystem::create_directories(m_path);
  }
  ~CScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
  }
  std::string Path() const { return m_path.string(); }
  std::string File(const std::string& name) const { return (m_path / name).string(); }

 private:
  std::filesystem::path m_path;
};

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

}  // namespace vt
