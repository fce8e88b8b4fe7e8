// Recording message sink and scripted prompt: the test doubles of the
// window side, also used by hosts that want a transcript of an operation.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ui_sink.h"

namespace vt {

struct RecordedMessage {
  HWND wnd = nullptr;
  UINT msg = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  bool posted = false;
  // Copied at the time of the call: the text of UM_PROGRESS codes 1, 5 and 6,
  // and the u64 that codes 2, 3 and 4 point at.
  std::string text;
  uint64_t value = 0;
  bool hasValue = false;
};

class CRecordingSink : public IMessageSink {
 public:
  LRESULT Send(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
  BOOL Post(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) override;

  std::vector<RecordedMessage> Messages() const;
  // Texts of UM_PROGRESS with the given code, in order.
  std::vector<std::string> ProgressTexts(unsigned code) const;
  std::vector<uint64_t> ProgressValues(unsigned code) const;
  size_t Count(UINT msg) const;
  void Clear();

 private:
  void Record(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam, bool posted);
  mutable std::mutex m_lock;
  std::vector<RecordedMessage> m_messages;
};

struct RecordedPrompt {
  std::string text;
  UINT type = 0;
  int answer = 0;
};

class CScriptedPrompt : public IPrompt {
 public:
  // Answers are taken in order; when none is left the default answer is given.
  void Script(int answer) { m_answers.push_back(answer); }
  void SetDefault(int answer) { m_default = answer; }
  int ShowMessage(const std::string& text, UINT type) override;

  const std::vector<RecordedPrompt>& Prompts() const { return m_prompts; }
  std::vector<std::string> Texts() const;
  void Clear() { m_prompts.clear(); }

 private:
  std::deque<int> m_answers;
  int m_default = IDOK;
  std::vector<RecordedPrompt> m_prompts;
};

}  // namespace vt
