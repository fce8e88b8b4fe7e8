#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "cli/commands.h"
#include "cli/console_host.h"
#include "engine/globals.h"

namespace vt {
namespace {

TEST(CliOptions, UsageNamesEveryCommandAndOptionOfTheTable) {
  const std::string usage = UsageText();
  for (const char* command :
       {"analyze", "files", "defrag-file", "defrag", "freespace", "map", "logs", "settings"}) {
    ASSERT_NE(FindCommand(command), nullptr) << command;
    EXPECT_NE(usage.find(std::string("  ") + command + " "), std::string::npos) << command;
    for (const OptionEntry* o : CommandOptions(command))
      EXPECT_NE(usage.find(std::string("--") + o->name), std::string::npos) << o->name;
  }
  EXPECT_NE(usage.find("FAT or NTFS"), std::string::npos);
  EXPECT_NE(usage.find("--quiet"), std::string::npos);
  EXPECT_NE(usage.find("--version"), std::string::npos);
  EXPECT_NE(usage.find("130"), std::string::npos);
}

TEST(CliOptions, EachCommandParsesExactlyTheOptionsTheTableGivesIt) {
  CParsedArgs p = ParseCommandArgs("defrag", {"v.img", "--filter", "size:100", "--png=a.png",
                                              "--uncompressed", "--json"});
  EXPECT_TRUE(p.error.empty()) << p.error;
  EXPECT_EQ(p.Get("filter"), "size:100");
  EXPECT_EQ(p.Get("png"), "a.png");
  EXPECT_TRUE(p.Has("uncompressed"));
  // Options of other commands are refused, values where the table wants them.
  EXPECT_EQ(ParseCommandArgs("analyze", {"v.img", "--mode", "maximize"}).error,
            "unknown option --mode");
  EXPECT_EQ(ParseCommandArgs("map", {"v.img", "--json"}).error, "unknown option --json");
  EXPECT_EQ(ParseCommandArgs("freespace", {"v.img", "--mode"}).error,
            "option --mode needs a value");
  EXPECT_EQ(ParseCommandArgs("logs", {"show", "x", "--raw=1"}).error,
            "option --raw takes no value");
  // An option every command takes; the ones alone are no command's.
  EXPECT_TRUE(ParseCommandArgs("settings", {"--quiet"}).error.empty());
  EXPECT_FALSE(ParseCommandArgs("analyze", {"--version"}).error.empty());
  // The same name may carry another value in another command.
  EXPECT_TRUE(ParseCommandArgs("files", {"v.img", "--filter", "Sub"}).error.empty());
  std::set<std::string> once;
  for (const OptionEntry* o : CommandOptions("defrag"))
    EXPECT_TRUE(once.insert(o->name).second) << "--" << o->name << " twice for defrag";
}

TEST(CliOptions, VersionIsTheProjectVersionInFourParts) {
  const std::string v = VersionText();
  ASSERT_FALSE(v.empty());
  int dots = 0;
  for (char c : v) {
    EXPECT_TRUE(c == '.' || (c >= '0' && c <= '9')) << v;
    dots += c == '.';
  }
  EXPECT_EQ(dots, 3) << v;
}

TEST(CliProgress, RateAndTimeLeftTexts) {
  EXPECT_EQ(FormatRate(0), "0 B/s");
  EXPECT_EQ(FormatRate(999), "999 B/s");
  EXPECT_EQ(FormatRate(1536), "1.5 KB/s");
  EXPECT_EQ(FormatRate(150.0 * 1024 * 1024), "150.0 MB/s");
  EXPECT_EQ(FormatRate(2.5 * 1024 * 1024 * 1024), "2.5 GB/s");
  EXPECT_EQ(FormatTimeLeft(0), "0:00");
  EXPECT_EQ(FormatTimeLeft(61), "1:01");
  EXPECT_EQ(FormatTimeLeft(3599), "59:59");
  EXPECT_EQ(FormatTimeLeft(3600 + 2 * 60 + 3), "1:02:03");
}

TEST(CliInterrupt, FirstCtrlCSetsTheCancelFlag) {
  SetCancel(false);
  EXPECT_FALSE(InterruptRequested());
  OnInterrupt();  // a second would end the test program, as it ends the tool
  EXPECT_TRUE(InterruptRequested());
  EXPECT_TRUE(IsCancelled());
  SetCancel(false);
}

TEST(CliInterruptDeathTest, SecondCtrlCEndsAtOnceWith130) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        OnInterrupt();
        OnInterrupt();
        std::fprintf(stderr, "went on\n");
        std::exit(0);
      },
      ::testing::ExitedWithCode(kInterruptedExit), "stopped at once");
}

}  // namespace
}  // namespace vt
