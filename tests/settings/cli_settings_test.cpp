#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/settings_file.h"
#include "app/settings_keys.h"
#include "cli/commands.h"
#include "cli/session.h"
#include "settings_test_util.h"

namespace vt {
namespace {

using testing_util::CScratchFolder;
using testing_util::ReadBytes;
using testing_util::WriteBytes;

struct CRun {
  int rc;
  std::string out;
};

CRun RunCli(std::vector<std::string> args) {
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  const int rc = RunSettings(args);
  CRun run{rc, ::testing::internal::GetCapturedStdout()};
  ::testing::internal::GetCapturedStderr();
  return run;
}

TEST(CliSettings, ListShowsEveryKeyWithDefaults) {
  CScratchFolder folder;
  const std::string path = folder.File("Vantrel.ini");
  WriteBytes(path, "[Settings]\r\nBlockSize=3\r\nSelectedDrives=\"C:\\,\"\r\nSaveLogFiles=no\r\n");
  const CRun run = RunCli({"list", "--file", path});
  EXPECT_EQ(run.rc, EXIT_OK);
  size_t count = 0;
  const SettingKey* keys = SettingKeys(&count);
  for (size_t i = 0; i < count; ++i)
    EXPECT_NE(run.out.find(std::string("\n") + keys[i].m_pszName + "="), std::string::npos)
        << keys[i].m_pszName;
  EXPECT_NE(run.out.find("\nBlockSize=3\n"), std::string::npos);
  EXPECT_NE(run.out.find("\nSelectedDrives=\"C:\\,\"\n"), std::string::npos);
  EXPECT_NE(run.out.find("\nSaveLogFiles=1\n"), std::string::npos);  // unreadable: default
  EXPECT_NE(run.out.find("\nProcessors=-1\n"), std::string::npos);
  EXPECT_NE(run.out.find("[Position]\nVantrel=\n"), std::string::npos);
  EXPECT_EQ(RunCli({"--file", path}).out, run.out);  // list is the default action
}

TEST(CliSettings, SetAndGetAsStored) {
  CScratchFolder folder;
  const std::string path = folder.File("Vantrel.ini");
  EXPECT_EQ(RunCli({"set", "blocksize", "4", "--file", path}).rc, EXIT_OK);
  EXPECT_EQ(RunCli({"set", "AutoDefragAccount", " me ", "--file", path}).rc, EXIT_OK);
  EXPECT_EQ(RunCli({"set", "Position.Vantrel", "1,2,300,400", "--file", path}).rc, EXIT_OK);
  EXPECT_EQ(RunCli({"set", "AutoDefragDrives", "2,3,", "--file", path}).rc, EXIT_OK);
  EXPECT_EQ(ReadBytes(path),
            "[Settings]\r\nBlockSize=4\r\nAutoDefragAccount=\" me \"\r\n"
            "AutoDefragDrives=\"2,3,\"\r\n[Position]\r\nVantrel=1,2,300,400\r\n");
  EXPECT_EQ(RunCli({"get", "BlockSize", "--file", path}).out, "4\n");
  EXPECT_EQ(RunCli({"get", "AutoDefragAccount", "--file", path}).out, "\" me \"\n");
  EXPECT_EQ(RunCli({"get", "AutoDefragPassword", "--file", path}).out, "\"\"\n");
  EXPECT_EQ(RunCli({"get", "Position.Vantrel", "--file", path}).out, "1,2,300,400\n");
  EXPECT_EQ(RunCli({"get", "DefragFreeMode", "--file", path}).out, "2\n");
}

TEST(CliSettings, BadUsageAndFailures) {
  CScratchFolder folder;
  const std::string path = folder.File("Vantrel.ini");
  const std::vector<std::vector<std::string>> usage = {
      {"get"},
      {"get", "NoSuchKey"},
      {"set", "NoSuchKey", "1"},
      {"set", "BlockSize"},
      {"set", "BlockSize", "11"},
      {"set", "BlockSize", "seven"},
      {"set", "DefragFreeMode", "1"},
      {"set", "ProcessorPriority", "100"},
      {"set", "Processors", "0"},
      {"set", "CustomDefragByFileType", "2142"},
      {"set", "SelectedDrives", "C:\\"},
      {"set", "AutoDefragAccount", "a\nb"},
      {"set", "Position.Vantrel", "1,2,3"},
      {"set", "Position.Vantrel", "5,5,1,1"},
      {"list", "extra"},
      {"frobnicate"},
      {"list", "--bogus"},
  };
  for (const auto& args : usage) {
    std::vector<std::string> withFile = args;
    withFile.push_back("--file");
    withFile.push_back(path);
    EXPECT_EQ(RunCli(withFile).rc, EXIT_USAGE) << ::testing::PrintToString(args);
  }
  EXPECT_FALSE(std::filesystem::exists(path));  // nothing was written

  std::filesystem::create_directory(path);
  EXPECT_EQ(RunCli({"set", "BlockSize", "3", "--file", path}).rc, EXIT_FAILED);
  EXPECT_EQ(RunCli({"get", "BlockSize", "--file", path}).out, "7\n");
}

}  // namespace
}  // namespace vt
