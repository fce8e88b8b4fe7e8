#include "cli/console_host.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "engine/globals.h"
#include "platform/console.h"
#include "platform/system_ops.h"

namespace vt {

bool StderrIsTerminal() { return IsTerminal(stderr); }

namespace {
std::atomic<bool> g_quiet{false};
std::atomic<int> g_interrupts{0};
std::atomic<int> g_exitCode{kInterruptedExit};  // of the first stop asked

}  // namespace

void SetQuietProgress(bool quiet) { g_quiet.store(quiet); }
bool QuietProgress() { return g_quiet.load(); }

void OnInterrupt(int exitCode) {
  // Only lock-free stores and _exit: this runs inside a signal handler.
  if (g_interrupts.fetch_add(1) >= 1) {
    static const char kNote[] = "\nvantrel-cli: stopped at once\n";
    WriteErrorAndExit(kNote, sizeof(kNote) - 1, exitCode);
  }
  g_exitCode.store(exitCode);
  SetCancel(true);
}

bool InterruptRequested() { return g_interrupts.load() > 0; }

int InterruptExitCode() { return g_exitCode.load(); }

std::string InterruptText() {
  switch (g_exitCode.load()) {
    case 128 + 15:
      return "stopped by SIGTERM";
    case 128 + 1:
      return "stopped by SIGHUP";
    default:
      return "stopped by Ctrl-C";
  }
}

void InstallInterruptHandler() {
  // A shutdown or a closed terminal stops as a Ctrl-C does: after the move
  // in progress, never in the middle of one.
  CatchConsoleInterrupts([](int exitCode) { OnInterrupt(exitCode); }, kInterruptedExit);
}

std::string FormatRate(double bytesPerSecond) {
  static const char* const kUnits[] = {"B/s", "KB/s", "MB/s", "GB/s", "TB/s"};
  int unit = 0;
  while (bytesPerSecond >= 1000.0 && unit < 4) {
    bytesPerSecond /= 1024.0;
    ++unit;
  }
  char buf[32];
  std::snprintf(buf, sizeof(buf), unit == 0 ? "%.0f %s" : "%.1f %s", bytesPerSecond, kUnits[unit]);
  return buf;
}

std::string FormatTimeLeft(uint64_t seconds) {
  char buf[32];
  if (seconds >= 3600) {
    std::snprintf(buf, sizeof(buf), "%llu:%02u:%02u",
                  static_cast<unsigned long long>(seconds / 3600),
                  static_cast<unsigned>(seconds / 60 % 60), static_cast<unsigned>(seconds % 60));
  } else {
    std::snprintf(buf, sizeof(buf), "%u:%02u", static_cast<unsigned>(seconds / 60),
                  static_cast<unsigned>(seconds % 60));
  }
  return buf;
}

void CConsoleSink::TrackMoves(std::function<uint64_t()> movedBytes) {
  m_moved = std::move(movedBytes);
  m_dwMoveStart = HostSystem().GetTickCount();
}

std::string CConsoleSink::RateText(uint32_t now) const {
  if (!m_moved) return std::string();
  const uint32_t elapsedMs = now - m_dwMoveStart;
  if (elapsedMs < 500) return std::string();
  std::string text = FormatRate(static_cast<double>(m_moved()) * 1000.0 / elapsedMs);
  if (m_nRange != 0 && m_nValue != 0 && m_nValue < m_nRange) {
    const double done = static_cast<double>(m_nValue) / static_cast<double>(m_nRange);
    const double left = elapsedMs / 1000.0 * (1.0 - done) / done;
    text += "  " + FormatTimeLeft(static_cast<uint64_t>(left + 0.5)) + " left";
  }
  return text + "  ";
}

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
  if (!m_bShow || QuietProgress()) return;
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
    line = buf + RateText(now) + line;
  } else {
    line = RateText(now) + line;
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
