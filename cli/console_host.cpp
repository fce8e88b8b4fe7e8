#include "cli/console_host.h"

#include <cstdio>

#include "platform/system_ops.h"

#ifdef _WIN32
#include <io.h>
#define VT_ISATTY _isatty
#define VT_FILENO _fileno
#else
#include <unistd.h>
#define VT_ISATTY isatty
#define VT_FILENO fileno
#endif

namespace vt {

bool StderrIsTerminal() { return VT_ISATTY(VT_FILENO(stderr)) != 0; }

void CConsoleSink::Handle(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg != UM_PROGRESS) return;
  switch (wParam) {
    case PROGRESS_RESET:
      m_strText.clear();
      m_nRange = m_nValue = 0;
      break;
    case PROGRESS_TEXT:
    case PROGRESS_PANE_TEXT:
      if (lParam) m_strText = reinterpret_cast<const char*>(lParam);
      break;
    case PROGRESS_RANGE:
      if (lParam) m_nRange = *reinterpret_cast<const uint64_t*>(lParam);
      m_nValue = 0;
      break;
    case PROGRESS_POSITION:
    case PROGRESS_PERCENT:
      if (lParam) m_nValue = *reinterpret_cast<const uint64_t*>(lParam);
      break;
    default:
      return;
  }
  Draw();
}

void CConsoleSink::Draw() {
  if (!m_bShow) return;
  // At most a few redraws a second; the text changes far more often.
  uint32_t now = HostSystem().GetTickCount();
  if (m_bDrawn && now - m_dwLastDraw < 100) return;
  m_dwLastDraw = now;
  std::string line = m_strText;
  if (m_nRange != 0) {
    double pct = 100.0 * static_cast<double>(m_nValue) / static_cast<double>(m_nRange);
    if (pct > 100.0) pct = 100.0;
    char buf[32];
    std::snprintf(buf, sizeof(buf), "%5.1f%%  ", pct);
    line = buf + line;
  }
  if (line.size() > 78) line = line.substr(0, 75) + "...";
  std::fprintf(stderr, "\r%-78s", line.c_str());
  std::fflush(stderr);
  m_bDrawn = true;
}

void CConsoleSink::Finish() {
  if (m_bDrawn) {
    std::fprintf(stderr, "\r%-78s\r", "");
    std::fflush(stderr);
    m_bDrawn = false;
  }
}

LRESULT CConsoleSink::Send(HWND, UINT msg, WPARAM wParam, LPARAM lParam) {
  Handle(msg, wParam, lParam);
  return 0;
}

BOOL CConsoleSink::Post(HWND, UINT msg, WPARAM wParam, LPARAM lParam) {
  // Posted arguments may change before a window would read them; the console
  // reads them at once, which is what a window that handles it promptly sees.
  Handle(msg, wParam, lParam);
  return TRUE;
}

int CConsolePrompt::ShowMessage(const std::string& text, UINT type) {
  m_messages.push_back(text);
  if (m_bEcho) std::fprintf(stderr, "%s\n", text.c_str());
  switch (type & 0x0F) {
    case MB_OK:
      return IDOK;
    case MB_OKCANCEL:
      return m_nAnswer == IDCANCEL ? IDCANCEL : IDOK;
    case MB_YESNO:
      return m_nAnswer == IDNO ? IDNO : IDYES;
    case MB_YESNOCANCEL:
      return m_nAnswer == IDNO || m_nAnswer == IDCANCEL ? m_nAnswer : IDYES;
    default:
      return m_nAnswer;
  }
}

}  // namespace vt
