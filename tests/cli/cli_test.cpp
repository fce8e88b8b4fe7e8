#include <gtest/gtest.h>

#include "cli/commands.h"
#include "cli/json_writer.h"
#include "cli/session.h"
#include "platform/system_ops.h"
#include "tests/support/engine_fixture.h"

namespace vt {
namespace {

// A stop no Ctrl-C asked for gives the volume's reason, never "Ctrl-C".
class CliStop : public test::EngineTest {};

TEST_F(CliStop, ReasonIsTheLastRefusedMove) {
  EXPECT_EQ(StopReason(*engine, HostSystem()), "the operation stopped before its end");
  CFileErrors note;
  note.m_strMessage = "3 clusters are in use by no file";
  engine->m_errors.Add(note);
  CFileErrors refused;
  refused.m_strPath = "V:\\data\\a.bin";
  refused.m_dwError = ERROR_DISK_CORRUPT;
  engine->m_errors.Add(refused);
  engine->m_errors.Add(note);
  // The system's own text follows; its wording is the host's.
  const std::string reason = StopReason(*engine, HostSystem());
  const std::string lead = "the volume refused to move V:\\data\\a.bin: error 1393: ";
  EXPECT_EQ(reason.rfind(lead, 0), 0u) << reason;
  EXPECT_GT(reason.size(), lead.size() + 4) << reason;
}

TEST(CliArgs, PathsOfOtherDrives) {
  EXPECT_EQ(PathDriveLetter("C:\\f.bin"), 'C');
  EXPECT_EQ(PathDriveLetter("w:/f.bin"), 'W');
  EXPECT_EQ(PathDriveLetter("\\\\?\\v:\\f.bin"), 'V');
  EXPECT_EQ(PathDriveLetter("\\\\.\\D:\\f.bin"), 'D');
  EXPECT_EQ(PathDriveLetter("\\\\?\\Volume{1234}\\f.bin"), '?');
  EXPECT_EQ(PathDriveLetter("\\f.bin"), 0);
  EXPECT_EQ(PathDriveLetter("data\\f.bin"), 0);
}

TEST(CliArgs, FlagsValuesAndErrors) {
  CParsedArgs p = ParseArgs({"img.img", "--json", "--filter", "abc", "--letter=W"}, {"json", "all"},
                            {"filter", "letter"});
  EXPECT_TRUE(p.error.empty());
  EXPECT_EQ(p.positional, std::vector<std::string>{"img.img"});
  EXPECT_TRUE(p.Has("json"));
  EXPECT_FALSE(p.Has("all"));
  EXPECT_EQ(p.Get("filter"), "abc");
  EXPECT_EQ(p.Get("letter"), "W");
  EXPECT_EQ(p.Get("missing", "x"), "x");

  EXPECT_EQ(ParseArgs({"--bogus"}, {"json"}, {}).error, "unknown option --bogus");
  EXPECT_EQ(ParseArgs({"--filter"}, {}, {"filter"}).error, "option --filter needs a value");
  EXPECT_EQ(ParseArgs({"--json=1"}, {"json"}, {}).error, "option --json takes no value");
}

TEST(CliArgs, DriveRoots) {
  EXPECT_TRUE(IsDriveRoot("C:"));
  EXPECT_TRUE(IsDriveRoot("c:\\"));
  EXPECT_TRUE(IsDriveRoot("Z:/"));
  EXPECT_FALSE(IsDriveRoot("C"));
  EXPECT_FALSE(IsDriveRoot("C:\\x"));
  EXPECT_FALSE(IsDriveRoot("1:"));
  EXPECT_FALSE(IsDriveRoot("image.img"));
}

TEST(CliCommands, UnknownVolumeIsAUsageError) {
  EXPECT_EQ(RunAnalyze({"/nonexistent/image.img"}), EXIT_USAGE);
  EXPECT_EQ(RunAnalyze({}), EXIT_USAGE);
  EXPECT_EQ(RunAnalyze({"a.img", "b.img"}), EXIT_USAGE);
  EXPECT_EQ(RunFiles({"a.img", "--letter", "77"}), EXIT_USAGE);
  EXPECT_EQ(FindCommand("nope"), nullptr);
  ASSERT_NE(FindCommand("files"), nullptr);
}

TEST(Json, EscapesAndNests) {
  CJsonWriter json;
  json.BeginObject();
  json.Field("a", std::string("x\"y\\z\n"));
  json.Key("list");
  json.BeginArray();
  json.Number(static_cast<uint64_t>(1));
  json.Number(2.5);
  json.BeginArray();
  json.EndArray();
  json.EndArray();
  json.Field("ok", true);
  json.EndObject();
  EXPECT_EQ(json.Text(), "{\"a\":\"x\\\"y\\\\z\\u000a\",\"list\":[1,2.5,[]],\"ok\":true}");
}

TEST(Json, AnsiNamesBecomeUtf8) {
  // "Café" in Windows-1252, and the euro sign from its 0x80 slot.
  EXPECT_EQ(JsonEscape(std::string("Caf\xE9")), "\"Caf\xC3\xA9\"");
  EXPECT_EQ(JsonEscape(std::string("\x80")), "\"\xE2\x82\xAC\"");
  // Text that is already UTF-8 passes through.
  EXPECT_EQ(JsonEscape("Caf\xC3\xA9"), "\"Caf\xC3\xA9\"");
}

}  // namespace
}  // namespace vt
