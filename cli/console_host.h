// The command line's window side: progress on stderr when it is a terminal,
// message boxes answered from the command's flags and remembered for the
// one-line error.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui_sink.h"

namespace vt {

class CConsoleSink : public IMessageSink {
 public:
  explicit CConsoleSink(bool showProgress) : m_bShow(showProgress) {}
  ~CConsoleSink() override { Finish(); }
  LRESULT Send(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
  BOOL Post(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
  // Clears the progress line.
  void Finish();
  // From now on the line also shows the rate of `movedBytes` and the time
  // left, estimated from the progress so far.
  void TrackMoves(std::function<uint64_t()> movedBytes);

 private:
  void Handle(UINT msg, WPARAM wParam, LPARAM lParam);
  void Draw();
  std::string RateText(uint32_t now) const;
  bool m_bShow;
  std::function<uint64_t()> m_moved;
  uint32_t m_dwMoveStart = 0;
  bool m_bDrawn = false;
  std::string m_strText;
  uint64_t m_nRange = 0;
  uint64_t m_nValue = 0;
  uint32_t m_dwLastDraw = 0;
};

class CConsolePrompt : public IPrompt {
 public:
  // Answer given to questions (Yes/No, OK/Cancel ...); plain notices get IDOK.
  explicit CConsolePrompt(int answer = IDOK) : m_nAnswer(answer) {}
  int ShowMessage(const std::string& text, UINT type) override;
  const std::vector<std::string>& Messages() const { return m_messages; }
  std::string LastMessage() const { return m_messages.empty() ? std::string() : m_messages.back(); }
  void SetEcho(bool on) { m_bEcho = on; }
  void SetAnswer(int answer) { m_nAnswer = answer; }

 private:
  int m_nAnswer;
  bool m_bEcho = false;
  std::vector<std::string> m_messages;
};

bool StderrIsTerminal();

// "--quiet" (or --json): no progress line, whatever stderr is.
void SetQuietProgress(bool quiet);
bool QuietProgress();

// Ctrl-C (the console control handler on Windows), and SIGTERM and SIGHUP
// elsewhere: the first sets the engine's cancel flag, so the move in
// progress completes and the operation stops at its next check; the second
// ends the process at once (every move is crash-safe). The status is 128
// plus the signal: 130 for Ctrl-C, 143 for SIGTERM, 129 for SIGHUP.
void InstallInterruptHandler();
// A first stop has come.
bool InterruptRequested();
constexpr int kInterruptedExit = 130;
// Counts one stop as the handler does; for tests and the handler itself.
void OnInterrupt(int exitCode = kInterruptedExit);
// The status and the report's words for the first stop.
int InterruptExitCode();
std::string InterruptText();

// "12.3 MB/s" and "1:02:03" as the progress line shows them.
std::string FormatRate(double bytesPerSecond);
std::string FormatTimeLeft(uint64_t seconds);

}  // namespace vt
