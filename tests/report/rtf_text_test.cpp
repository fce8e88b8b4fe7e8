#include "report/rtf_text.h"

#include <gtest/gtest.h>

namespace vt {
namespace {

TEST(RtfText, FindsOnlyTheRealControlWord) {
  EXPECT_EQ(FindRtfControlWord("{\\rtf1 \\cf10 x\\cf1 y}", "cf1"), 14u);
  // An escaped backslash followed by letters is text, not a control word.
  const std::string escaped = "{\\rtf1 C:\\\\cf1\\\\x \\cf1 y}";
  EXPECT_EQ(FindRtfControlWord(escaped, "cf1"), escaped.rfind("\\cf1"));
  EXPECT_EQ(FindRtfControlWord("{\\rtf1 \\cf2 x}", "cf1"), std::string::npos);
  EXPECT_EQ(FindRtfControlWord("\\", "cf1"), std::string::npos);
}

TEST(RtfText, BodyStartsOneCharacterBeforeTheFirstHeadingColour) {
  EXPECT_EQ(RtfBodyForAppend("{\\rtf1 a\\par\r\n\\cf1 b}\r\n"), "\n\\cf1 b}\r\n");
  EXPECT_EQ(RtfBodyForAppend("\\cf1 b}\r\n"), "\\cf1 b}\r\n");
  EXPECT_EQ(RtfBodyForAppend("{\\rtf1 plain}\r\n"), "{\\rtf1 plain}\r\n");
}

TEST(RtfText, RecognisesRtfByItsFirstFiveCharacters) {
  EXPECT_TRUE(IsRtfData("{\\RtF1 x"));
  EXPECT_TRUE(IsRtfData("{\\rtf1"));
  EXPECT_FALSE(IsRtfData("{\\rtf"));  // not longer than 5 bytes
  EXPECT_FALSE(IsRtfData("plain text log"));
  EXPECT_FALSE(IsRtfData(""));
}

TEST(RtfText, TextLeavesTablesOutAndDecodesCharacters) {
  const std::string rtf =
      "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}{\\colortbl ;\\red0\\green0\\blue255;}"
      "{\\*\\generator Some 1.0;}\\pard\\f0 caf\\'e9\\tab \\{x\\}\\\\\\par\r\n"
      "\\u8364?uro\\line end \\u-10179?\\u-8704?}";
  // Windows-1252 bytes and UTF-16 units (a surrogate pair too) come out as UTF-8.
  EXPECT_EQ(RtfToText(rtf), u8"café\t{x}\\\n€uro\nend 😀");
}

TEST(RtfText, DamagedInputEndsWithoutReadingPastIt) {
  EXPECT_EQ(RtfToText("{\\rtf1 abc\\"), "abc");
  EXPECT_EQ(RtfToText("{\\rtf1 abc\\'"), "abc");
  EXPECT_EQ(RtfToText("{\\rtf1 abc\\'4"), "abc4");
  EXPECT_EQ(RtfToText("}}}x{{{y"), "xy");
  EXPECT_EQ(RtfToText("{\\rtf1 \\fs999999999999999999 z}"), "z");
  EXPECT_EQ(RtfToText(std::string(100000, '{') + "deep"), "deep");
}

}  // namespace
}  // namespace vt
