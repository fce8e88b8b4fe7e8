#include "report/report_document.h"

#include <gtest/gtest.h>

#include "report/rtf_text.h"
#include "report_test_util.h"

namespace vt {
namespace {

const std::string kRule(68, '_');

TEST(ReportDocument, HeadingHasItsTextAndFormats) {
  CFixedClock clock;
  CReportDocument doc(clock);
  doc.AddHeading("Analyze Drive C:");
  EXPECT_EQ(doc.PlainText(),
            "\n\nAction: Analyze Drive C: Completed at 3:04:05 PM  3/5/2009\n" + kRule + "\n\n");
  EXPECT_EQ(kRule, kHeadingRule);
  const std::vector<CTextRun> runs = doc.Runs();
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[0].m_strText, "\n");  // in the control's own format
  EXPECT_TRUE(runs[0].m_format.m_bAutoColour);
  const CTextFormat& heading = runs[1].m_format;
  EXPECT_TRUE(heading.m_bBold);
  EXPECT_FALSE(heading.m_bUnderline);
  EXPECT_EQ(heading.m_strFace, "Tahoma");
  EXPECT_EQ(heading.m_nHalfPoints, 20);
  EXPECT_FALSE(heading.m_bAutoColour);
  EXPECT_EQ(heading.m_crColour, 0xFF0000u);
  const CTextFormat& plain = runs[2].m_format;
  EXPECT_FALSE(plain.m_bBold);
  EXPECT_EQ(plain.m_nHalfPoints, 16);
  EXPECT_FALSE(plain.m_bAutoColour);
  EXPECT_EQ(plain.m_crColour, 0u);
  EXPECT_EQ(plain.m_strFace, "Tahoma");  // plain keeps the face
  EXPECT_EQ(runs[2].m_strText, "\n\n");
}

TEST(ReportDocument, AStoppedOperationsHeadingDoesNotSayItCompleted) {
  CFixedClock clock;
  CReportDocument doc(clock);
  doc.AddStoppedHeading("Defrag Drive X:\\");
  EXPECT_EQ(doc.PlainText(),
            "\n\nAction: Defrag Drive X:\\ Stopped at 3:04:05 PM  3/5/2009\n" + kRule + "\n\n");
  EXPECT_EQ(doc.Runs().size(), 3u);  // the same formats as a finished one's
}

TEST(ReportDocument, LinesNumbersAndBold) {
  CFixedClock clock;
  CReportDocument doc(clock);
  doc.AddLine("Total time:", "00:00:05");
  doc.AddNumberLine("Total clusters:", 1234567);
  doc.AddNumberLine("Fragmented files:", 0);
  doc.AddBold("Note");
  doc.AddLine("a", "b");
  EXPECT_EQ(doc.PlainText(),
            "Total time:\t00:00:05\nTotal clusters:\t1,234,567\nFragmented files:\t0\nNotea\tb\n");
  EXPECT_EQ(doc.PlainText(true),
            "Total time:\t00:00:05\r\nTotal clusters:\t1,234,567\r\nFragmented files:\t0\r\n"
            "Notea\tb\r\n");
  const std::vector<CTextRun> runs = doc.Runs();
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_TRUE(runs[1].m_format.m_bBold);
  EXPECT_EQ(runs[1].m_strText, "Note");
  EXPECT_FALSE(runs[2].m_format.m_bBold);
}

TEST(ReportDocument, FileListPrintsAndEmptiesTheErrorList) {
  CFixedClock clock;
  CReportDocument doc(clock);
  CGrowableArray<CFileErrors> errors;
  doc.AddFileList(errors);
  EXPECT_TRUE(doc.IsEmpty());
  CFileErrors locked;
  locked.m_strPath = "C:\\Data\\locked.db";
  locked.m_nSize = 1340;
  locked.m_dwError = 32;
  CFileErrors noted;
  noted.m_strPath = "C:\\x";
  noted.m_strMessage = "C:\\pagefile.sys could not be opened";
  errors.Add(locked);
  errors.Add(noted);
  doc.AddFileList(errors);
  EXPECT_TRUE(errors.IsEmpty());
  EXPECT_EQ(doc.PlainText(),
            "\nThe following files could not be processed.\n"
            "1.30 KB\t\tC:\\Data\\locked.db\n"
            "C:\\pagefile.sys could not be opened\n");
  EXPECT_TRUE(doc.Runs()[0].m_format.m_bBold);
  EXPECT_FALSE(doc.Runs()[1].m_format.m_bBold);
  doc.ClearReport();
  EXPECT_TRUE(doc.IsEmpty());
  EXPECT_EQ(doc.PlainText(), "");
}

TEST(ReportRtf, HeadingColourIsCf1AndTextIsEscaped) {
  CFixedClock clock;
  CReportDocument doc(clock);
  doc.AddLine("Before {any} heading\\", u8"café Отчёт 🎉");
  doc.AddBold("bold");
  doc.AddHeading("Defrag Drive C:");
  doc.AddLine("Total time:", "00:01:00");
  const std::string rtf = doc.Rtf();
  EXPECT_EQ(rtf.compare(0, 6, "{\\rtf1"), 0);
  EXPECT_EQ(rtf.substr(rtf.size() - 3), "}\r\n");
  EXPECT_NE(rtf.find("{\\colortbl ;\\red0\\green0\\blue255;\\red0\\green0\\blue0;}"),
            std::string::npos);
  // Every character outside ASCII as \uN? (UTF-16, signed), whatever the reader's code page.
  EXPECT_NE(rtf.find("Before \\{any\\} heading\\\\\\tab caf\\u233? \\u1054?\\u1090?\\u1095?"
                     "\\u1105?\\u1090? \\u-10180?\\u-8311?\\par\r\n"),
            std::string::npos);
  // Black plain text before the heading does not take the heading's index.
  const size_t cf1 = FindRtfControlWord(rtf, "cf1");
  ASSERT_NE(cf1, std::string::npos);
  EXPECT_GT(cf1, rtf.find("bold"));
  EXPECT_EQ(rtf.compare(cf1, 14, "\\cf1\\b\\f1\\fs20"), 0);
  EXPECT_EQ(rtf[cf1 - 1], '\n');
  EXPECT_NE(rtf.find("\\cf2"), std::string::npos);
  // The document reads back as the pane's text.
  EXPECT_EQ(RtfToText(rtf), doc.PlainText());
}

TEST(ReportRtf, EveryValueStartsAtOneExplicitTabStop) {
  CFixedClock clock;
  CReportDocument doc(clock);
  doc.AddHeading("Defrag file");
  doc.AddLine("Filename:\t", "C:\\a.txt");
  doc.AddLine("Defrag method:\t\t", "Best fit");
  doc.AddNumberLine("Total files:", 4898);
  CGrowableArray<CFileErrors> errors;
  errors.Add(CFileErrors{"C:\\b.txt", "", 4096, 5});
  doc.AddFileList(errors);
  const std::string rtf = doc.Rtf();
  // One stop for the whole document, and again in the body a log appends.
  const std::string body = RtfBodyForAppend(rtf);
  EXPECT_NE(rtf.find("\\pard\\tx3240"), std::string::npos);
  EXPECT_NE(body.find("\\pard\\tx3240"), std::string::npos);
  EXPECT_EQ(body.find("\\tx3240"), body.rfind("\\tx3240"));
  // Labels padded for default stops reach it with their first tab.
  EXPECT_NE(rtf.find("Filename:\\tab C:"), std::string::npos);
  EXPECT_NE(rtf.find("Defrag method:\\tab Best fit"), std::string::npos);
  EXPECT_NE(rtf.find("Total files:\\tab 4,898"), std::string::npos);
  EXPECT_NE(rtf.find("4.00 KB\\tab C:"), std::string::npos);
  EXPECT_EQ(rtf.find("\\tab \\tab"), std::string::npos);
  // The document's own text keeps its tabs.
  EXPECT_NE(doc.PlainText().find("Defrag method:\t\t\tBest fit"), std::string::npos);
}

TEST(ReportClock, TextsOutsideWindowsFollowTheUsDefaults) {
#ifdef _WIN32
  GTEST_SKIP() << "the user's locale formats the texts on Windows";
#else
  SYSTEMTIME t{2009, 3, 4, 5, 15, 4, 5, 0};
  EXPECT_EQ(HostReportClock().TimeText(t), "3:04:05 PM");
  EXPECT_EQ(HostReportClock().DateText(t), "3/5/2009");
  t.wHour = 0;
  EXPECT_EQ(HostReportClock().TimeText(t), "12:04:05 AM");
  t.wHour = 12;
  EXPECT_EQ(HostReportClock().TimeText(t), "12:04:05 PM");
  EXPECT_EQ(IsoDate(t), "2009-03-05");
#endif
}

}  // namespace
}  // namespace vt
