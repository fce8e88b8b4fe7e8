// The run report as a document of formatted text runs: what the report pane
// shows, as plain text and as the RTF document the pane streams out.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "engine/report_sink.h"
#include "report/report_clock.h"

namespace vt {

// Character format of a run of text.
struct CTextFormat {
  bool m_bBold = false;
  bool m_bUnderline = false;
  int m_nHalfPoints = 16;     // 8 points
  bool m_bAutoColour = true;  // the control's own text colour
  uint32_t m_crColour = 0;    // COLORREF 0x00BBGGRR when not automatic
  std::string m_strFace = "MS Shell Dlg";

  bool operator==(const CTextFormat& o) const {
    return m_bBold == o.m_bBold && m_bUnderline == o.m_bUnderline &&
           m_nHalfPoints == o.m_nHalfPoints && m_bAutoColour == o.m_bAutoColour &&
           (m_bAutoColour || m_crColour == o.m_crColour) && m_strFace == o.m_strFace;
  }
  bool operator!=(const CTextFormat& o) const { return !(*this == o); }
};

struct CTextRun {
  CTextFormat m_format;
  std::string m_strText;
};

// The heading's colour, blue as a COLORREF.
constexpr uint32_t kHeadingColour = 0xFF0000;
// The line under a heading.
constexpr const char* kHeadingRule =
    "____________________________________________________________________";

class CReportDocument : public IReportSink {
 public:
  explicit CReportDocument(IReportClock& clock = HostReportClock());

  void AddHeading(const std::string& action) override;
  void AddStoppedHeading(const std::string& action) override;
  void AddFailedHeading(const std::string& action) override;
  void AddLine(const std::string& label, const std::string& value) override;
  void AddNumberLine(const std::string& label, uint64_t number) override;
  void AddBold(const std::string& text) override;
  void AddFileList(CGrowableArray<CFileErrors>& errors) override;
  void ClearReport() override;

  // The text alone; line ends as "\r\n" when crlf is set.
  std::string PlainText(bool crlf = false) const;
  // The whole document as RTF, ending with "}\r\n".
  std::string Rtf() const;
  std::vector<CTextRun> Runs() const;
  bool IsEmpty() const;

 private:
  void AddHeadingAt(const std::string& action, const char* whenLabel);
  void AppendLocked(const std::string& text);
  void SetPlainLocked();
  void SetHeadingLocked();

  IReportClock& m_clock;
  mutable std::mutex m_mutex;  // operations write from worker threads
  CTextFormat m_current;       // format of the next text
  std::vector<CTextRun> m_runs;
};

// RTF of a sequence of runs.
std::string RenderRtf(const std::vector<CTextRun>& runs);

}  // namespace vt
