// The command line's window side: progress on stderr when it is a terminal,
// message boxes answered from the command's flags and remembered for the
// one-line error.
#pragma once

#include <cstdint>
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

 private:
  void Handle(UINT msg, WPARAM wParam, LPARAM lParam);
  void Draw();
  bool m_bShow;
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

}  // namespace vt
