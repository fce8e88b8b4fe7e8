// CRichEditCtrlGS: the rich-edit control of the report pane and the log
// viewer, with a remembered left margin, format setters acting on the
// selection, and streaming in and out.
#pragma once

#include <windows.h>

#include <string>

namespace vt {

class CRichEditCtrlGS {
 public:
  CRichEditCtrlGS() = default;
  explicit CRichEditCtrlGS(HWND wnd) : m_hWnd(wnd) {}
  HWND Handle() const { return m_hWnd; }
  void Attach(HWND wnd) { m_hWnd = wnd; }
  // Creates the control as a child (id, rectangle and style given).
  bool Create(HWND parent, int id, const RECT& rect, DWORD style);
  void Destroy();

  void SetLeftMargin(int pixels);
  void SetBold(bool on);
  void SetUnderline(bool on);
  void SetColour(COLORREF colour);
  void SetPointSize(int points);
  void SetFace(const std::string& face);

  // RTF when the bytes begin with "{\rtf" (any case), else plain text.
  void StreamIn(const std::string& bytes);
  std::string StreamOutRtf() const;
  // The plain text, line ends as CR LF.
  std::string PlainText() const;
  void ScrollToEnd();

 private:
  void ApplyFormat(DWORD mask, DWORD effects, int height, COLORREF colour, const char* face);
  HWND m_hWnd = nullptr;
  int m_nLeftMargin = 0;
};

}  // namespace vt
