#include "app/ini_text.h"

#include <gtest/gtest.h>

namespace vt {
namespace {

std::string Lookup(const CIniText& ini, const std::string& section, const std::string& key) {
  std::string value;
  return ini.Find(section, key, &value) ? value : "<absent>";
}

CIniText ParseText(const std::string& text) {
  CIniText ini;
  ini.Parse(text);
  return ini;
}

TEST(IniText, ReadsLikeTheProfileFunctions) {
  const CIniText ini = ParseText(
      "top=before any section\r\n"
      "  [Settings]   \r\n"
      "\tBlockSize   =   5  \r\n"
      "blocksize=6\r\n"  // a second line of the key is never seen
      "NoEquals\r\n"     // a key without '=' reads as absent
      "Empty=\r\n"
      "Text=\"  a b  \"\r\n"
      "Inner = x = y\r\n"  // the value runs from the first '='
      "; note=comment\r\n"
      "[Settings2]\r\n"
      "Other=1\r\n"
      "[settings]\r\n"  // the second section of a name is never searched
      "Late=1\r\n"
      "[Set]tings] trailing\r\n"  // the name runs to the last ']'
      "Odd=2\r\n"
      "[Unclosed\r\n"  // no ']': an ordinary key line
      "Tail=3");
  EXPECT_EQ(Lookup(ini, "Settings", "BlockSize"), "5");
  EXPECT_EQ(Lookup(ini, " SETTINGS ", " blocksize "), "5");
  EXPECT_EQ(Lookup(ini, "Settings", "NoEquals"), "<absent>");
  EXPECT_EQ(Lookup(ini, "Settings", "Empty"), "");
  EXPECT_EQ(Lookup(ini, "Settings", "Text"), "\"  a b  \"");
  EXPECT_EQ(Lookup(ini, "Settings", "Inner"), "x = y");
  EXPECT_EQ(Lookup(ini, "Settings", "; note"), "comment");
  EXPECT_EQ(Lookup(ini, "Settings", "Other"), "<absent>");
  EXPECT_EQ(Lookup(ini, "Settings", "Late"), "<absent>");
  EXPECT_EQ(Lookup(ini, "Settings2", "Other"), "1");
  EXPECT_EQ(Lookup(ini, "Set]tings", "Odd"), "2");
  EXPECT_EQ(Lookup(ini, "Set]tings", "Tail"), "3");
  EXPECT_EQ(Lookup(ini, "", "top"), "before any section");
  EXPECT_EQ(Lookup(ini, "Missing", "BlockSize"), "<absent>");
}

TEST(IniText, ValuesAreUtf8AndOlderWindows1252ValuesStillRead) {
  const CIniText ini = ParseText(u8"[S]\r\nnew=Отчёт Café\r\nold=Caf\xE9 \x80 5\r\n");
  EXPECT_EQ(Lookup(ini, "S", "new"), u8"Отчёт Café");
  EXPECT_EQ(Lookup(ini, "S", "old"), u8"Café € 5");
  EXPECT_EQ(ini.Keys("S").back().second, u8"Café € 5");
}

TEST(IniText, AllLineEndsAndMarks) {
  for (const char* eol : {"\r\n", "\n", "\r", "\n\r"}) {
    const std::string text = std::string("[A]") + eol + "k=1" + eol + eol + "j=2";
    const CIniText ini = ParseText(text);
    EXPECT_EQ(Lookup(ini, "A", "k"), "1") << "line end " << ::testing::PrintToString(eol);
    EXPECT_EQ(Lookup(ini, "A", "j"), "2");
    EXPECT_EQ(ini.Serialize(), text);
  }
  const CIniText utf8 = ParseText("\xEF\xBB\xBF[A]\r\nk=\xC3\xA9\r\n");
  EXPECT_EQ(utf8.GetEncoding(), CIniText::ENC_UTF8_BOM);
  EXPECT_EQ(Lookup(utf8, "A", "k"), "\xC3\xA9");
  EXPECT_EQ(utf8.Serialize(), "\xEF\xBB\xBF[A]\r\nk=\xC3\xA9\r\n");
}

TEST(IniText, Utf16IsReadAndWrittenBackAsUtf16) {
  const std::string narrow = "[A]\r\nk=v\r\n";
  std::string le = "\xFF\xFE";
  std::string be = "\xFE\xFF";
  for (char c : narrow) {
    le += c;
    le += '\0';
    be += '\0';
    be += c;
  }
  CIniText ini = ParseText(le + "x");  // an odd trailing byte is ignored
  EXPECT_EQ(ini.GetEncoding(), CIniText::ENC_UTF16LE);
  EXPECT_EQ(Lookup(ini, "A", "k"), "v");
  EXPECT_FALSE(ini.IsLossy());
  EXPECT_EQ(ini.Serialize(), le);
  EXPECT_TRUE(ini.Set("A", "k", "w"));
  EXPECT_EQ(ini.Serialize().substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(Lookup(ParseText(ini.Serialize()), "A", "k"), "w");

  const CIniText big = ParseText(be);
  EXPECT_EQ(big.GetEncoding(), CIniText::ENC_UTF16BE);
  EXPECT_EQ(big.Serialize(), be);

  // A character beyond 8 bits cannot be carried; the text says so.
  std::string wide = le;
  wide += std::string("\x3A\x26", 2);  // U+263A
  EXPECT_TRUE(ParseText(wide).IsLossy());
}

TEST(IniText, EditsInPlaceAndKeepsEverythingElse) {
  CIniText ini = ParseText(
      "; kept comment\n"
      "[Settings]\n"
      "  blocksize = 5 \n"
      "Other=1\n"
      "\n"
      "[Position]\n"
      "Vantrel=1,2,3,4\n");
  EXPECT_TRUE(ini.Set("Settings", "BlockSize", "7"));
  EXPECT_TRUE(ini.Set("Settings", "New", "\"x\""));
  EXPECT_TRUE(ini.Set("Fresh", "K", "1"));
  EXPECT_FALSE(ini.Set("Position", "vantrel", "1,2,3,4"));  // already stored
  // Key keeps the file's spelling; the new key follows the section's last
  // line before the blank one; new lines follow the file's line ends.
  EXPECT_EQ(ini.Serialize(),
            "; kept comment\n"
            "[Settings]\n"
            "blocksize=7\n"
            "Other=1\n"
            "New=\"x\"\n"
            "\n"
            "[Position]\n"
            "Vantrel=1,2,3,4\n"
            "[Fresh]\n"
            "K=1\n");
}

TEST(IniText, NewFilesAndFilesWithoutFinalLineEnd) {
  CIniText ini;
  ini.Parse("");
  EXPECT_TRUE(ini.Set("Settings", "BlockSize", "  7"));  // leading blanks dropped
  EXPECT_TRUE(ini.Set("Position", "Vantrel", "1,2,3,4"));
  EXPECT_TRUE(ini.Set("Settings", "SaveLogFiles", "0"));
  EXPECT_EQ(ini.Serialize(),
            "[Settings]\r\nBlockSize=7\r\nSaveLogFiles=0\r\n[Position]\r\nVantrel=1,2,3,4\r\n");

  CIniText cut = ParseText("[Settings]\nA=1");
  EXPECT_TRUE(cut.Set("Settings", "B", "2"));
  EXPECT_EQ(cut.Serialize(), "[Settings]\nA=1\nB=2\n");
  CIniText cut2 = ParseText("[Settings]");
  EXPECT_TRUE(cut2.Set("Settings", "B", "2"));
  EXPECT_TRUE(cut2.Set("Other", "C", "3"));
  EXPECT_EQ(cut2.Serialize(), "[Settings]\r\nB=2\r\n[Other]\r\nC=3\r\n");

  // A key line without '=' gets its value; a key of a later duplicate
  // section is added to the first one, where readers look.
  CIniText dup = ParseText("[S]\r\nk\r\n[T]\r\n[S]\r\nm=1\r\n");
  EXPECT_TRUE(dup.Set("S", "K", "2"));
  EXPECT_TRUE(dup.Set("S", "m", "3"));
  EXPECT_EQ(dup.Serialize(), "[S]\r\nk=2\r\nm=3\r\n[T]\r\n[S]\r\nm=1\r\n");
  EXPECT_EQ(Lookup(dup, "S", "m"), "3");
}

TEST(IniText, JunkNeverBreaksLookupOrEdit) {
  std::string junk;
  for (int i = 0; i < 4096; ++i) junk.push_back(static_cast<char>((i * 131 + 7) & 0xFF));
  junk += std::string("\0[Settings]\0\nBlockSize=3\0\n", 26);
  CIniText ini;
  ini.Parse(junk);
  std::string value;
  ini.Find("Settings", "BlockSize", &value);
  ini.Set("Settings", "BlockSize", "4");
  CIniText again;
  again.Parse(ini.Serialize());
  EXPECT_EQ(Lookup(again, "Settings", "BlockSize"), "4");
}

}  // namespace
}  // namespace vt
