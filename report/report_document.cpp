#include "report/report_document.h"

#include <cstdio>

#include "base/codepage.h"
#include "base/text.h"

namespace vt {

namespace {

constexpr const char* kHeadingFace = "Tahoma";
constexpr const char* kDefaultFace = "MS Shell Dlg";

// Fixed tables, so that the heading colour is always \cf1 and the plain
// black \cf2, whatever the report holds: the log's append rule relies on it.
int ColourIndex(const CTextFormat& f) {
  if (f.m_bAutoColour) return 0;
  if (f.m_crColour == kHeadingColour) return 1;
  return 2;  // black, the only other colour the report uses
}

int FontIndex(const CTextFormat& f) { return f.m_strFace == kHeadingFace ? 1 : 0; }

// Every character outside ASCII as \uN? (signed 16-bit UTF-16 units, with
// '?' for readers that know no Unicode), so that any name shows in any
// reader whatever its code page.
void AppendUnicode(std::string& out, char32_t c) {
  auto unit = [&out](unsigned u) {
    out += "\\u" + std::to_string(u < 0x8000 ? static_cast<int>(u) : static_cast<int>(u) - 65536);
    out += '?';
  };
  if (c >= 0x10000) {
    unit(0xD800 + ((c - 0x10000) >> 10));
    unit(0xDC00 + ((c - 0x10000) & 0x3FF));
  } else {
    unit(c);
  }
}

// The paragraphs' one tab stop, where every value of the report starts:
// past the longest label ("Starting cluster prior to defrag:") in the
// report's 8-point face. Default stops would leave each value wherever its
// label happens to end.
constexpr const char* kValueTabStop = "\\pard\\tx3240";

void AppendEscaped(std::string& out, const std::string& text) {
  char32_t previous = 0;
  for (char32_t c : DecodeUtf8(text)) {
    const char ch = static_cast<char>(c);
    const bool repeatedTab = c == '\t' && previous == '\t';
    previous = c;
    switch (c) {
      case '\n':
        out += "\\par\r\n";
        break;
      case '\t':
        // Labels padded with tabs for default stops ("Defrag method:\t\t")
        // reach the value's stop with their first.
        if (!repeatedTab) out += "\\tab ";
        break;
      case '\\':
      case '{':
      case '}':
        out += '\\';
        out += ch;
        break;
      default:
        if (c >= 0x80) {
          AppendUnicode(out, c);
        } else if (c >= 0x20) {
          out += ch;
        }
        break;  // other control characters have no place in a report
    }
  }
}

}  // namespace

std::string RenderRtf(const std::vector<CTextRun>& runs) {
  std::string out =
      "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1033"
      "{\\fonttbl{\\f0\\fnil\\fcharset0 MS Shell Dlg;}{\\f1\\fswiss\\fcharset0 Tahoma;}}\r\n"
      "{\\colortbl ;\\red0\\green0\\blue255;\\red0\\green0\\blue0;}\r\n"
      "\\viewkind4\\uc1";
  out += kValueTabStop;
  // The reader's state at the start of the body: RTF's own defaults.
  int colour = 0;
  bool bold = false;
  bool underline = false;
  int font = 0;
  int halfPoints = 24;
  bool first = true;
  for (const CTextRun& run : runs) {
    if (run.m_strText.empty()) continue;
    std::string words;
    bool headingStarts = false;
    const CTextFormat& f = run.m_format;
    if (ColourIndex(f) != colour) {
      colour = ColourIndex(f);
      words += "\\cf" + std::to_string(colour);
      headingStarts = colour == 1;
    }
    if (f.m_bBold != bold) {
      bold = f.m_bBold;
      words += bold ? "\\b" : "\\b0";
    }
    if (f.m_bUnderline != underline) {
      underline = f.m_bUnderline;
      words += underline ? "\\ul" : "\\ulnone";
    }
    if (first || FontIndex(f) != font) {
      font = FontIndex(f);
      words += "\\f" + std::to_string(font);
    }
    if (first || f.m_nHalfPoints != halfPoints) {
      halfPoints = f.m_nHalfPoints;
      words += "\\fs" + std::to_string(halfPoints);
    }
    first = false;
    // Each heading sets the stop again, so that a report appended to a log
    // saved without it still lines up.
    if (headingStarts) words += kValueTabStop;
    if (!words.empty()) out += words + ' ';
    AppendEscaped(out, run.m_strText);
  }
  out += "}\r\n";
  return out;
}

CReportDocument::CReportDocument(IReportClock& clock) : m_clock(clock) {
  m_current.m_strFace = kDefaultFace;
}

void CReportDocument::AppendLocked(const std::string& text) {
  if (text.empty()) return;
  if (!m_runs.empty() && m_runs.back().m_format == m_current) {
    m_runs.back().m_strText += text;
    return;
  }
  m_runs.push_back(CTextRun{m_current, text});
}

// Plain leaves the face as it is: after the first heading the report goes
// on in the heading's face, as the pane does.
void CReportDocument::SetPlainLocked() {
  m_current.m_bUnderline = false;
  m_current.m_nHalfPoints = 16;
  m_current.m_bBold = false;
  m_current.m_bAutoColour = false;
  m_current.m_crColour = 0;
}

void CReportDocument::SetHeadingLocked() {
  m_current.m_bBold = true;
  m_current.m_strFace = kHeadingFace;
  m_current.m_nHalfPoints = 20;
  m_current.m_bAutoColour = false;
  m_current.m_crColour = kHeadingColour;
}

void CReportDocument::AddHeading(const std::string& action) {
  AddHeadingAt(action, " Completed at ");
}

void CReportDocument::AddStoppedHeading(const std::string& action) {
  AddHeadingAt(action, " Stopped at ");
}

void CReportDocument::AddFailedHeading(const std::string& action) {
  AddHeadingAt(action, " Failed at ");
}

void CReportDocument::AddHeadingAt(const std::string& action, const char* whenLabel) {
  const SYSTEMTIME now = m_clock.LocalTime();
  char when[200];
  std::snprintf(when, sizeof(when), "%s  %s", m_clock.TimeText(now).c_str(),
                m_clock.DateText(now).c_str());
  std::lock_guard<std::mutex> lock(m_mutex);
  AppendLocked("\n");
  SetPlainLocked();
  SetHeadingLocked();
  AppendLocked("\nAction: " + action);
  AppendLocked(whenLabel + std::string(when));
  AppendLocked(std::string("\n") + kHeadingRule);
  SetPlainLocked();
  AppendLocked("\n\n");
}

void CReportDocument::AddLine(const std::string& label, const std::string& value) {
  std::lock_guard<std::mutex> lock(m_mutex);
  AppendLocked(label + "\t" + value + "\n");
}

void CReportDocument::AddNumberLine(const std::string& label, uint64_t number) {
  AddLine(label, GroupThousands(number));
}

void CReportDocument::AddBold(const std::string& text) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_current.m_bBold = true;
  AppendLocked(text);
  SetPlainLocked();
}

void CReportDocument::AddFileList(CGrowableArray<CFileErrors>& errors) {
  if (errors.IsEmpty()) return;
  AddBold("\nThe following files could not be processed.\n");
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const CFileErrors& e : errors) {
      if (e.m_dwError != 0)
        AppendLocked(FormatByteSize(e.m_nSize) + "\t\t" + e.m_strPath + "\n");
      else
        AppendLocked(e.m_strMessage + "\n");
    }
  }
  errors.RemoveAll();
}

void CReportDocument::ClearReport() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_runs.clear();
}

std::string CReportDocument::PlainText(bool crlf) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::string out;
  for (const CTextRun& run : m_runs) {
    if (!crlf) {
      out += run.m_strText;
      continue;
    }
    for (char ch : run.m_strText) {
      if (ch == '\n') out += '\r';
      out += ch;
    }
  }
  return out;
}

std::string CReportDocument::Rtf() const { return RenderRtf(Runs()); }

std::vector<CTextRun> CReportDocument::Runs() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_runs;
}

bool CReportDocument::IsEmpty() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_runs.empty();
}

}  // namespace vt
