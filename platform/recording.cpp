#include "platform/recording.h"

namespace vt {

void CRecordingSink::Record(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam, bool posted) {
  RecordedMessage m;
  m.wnd = wnd;
  m.msg = msg;
  m.wParam = wParam;
  m.lParam = lParam;
  m.posted = posted;
  if (msg == UM_PROGRESS && lParam != 0) {
    switch (wParam) {
      case PROGRESS_TEXT:
      case PROGRESS_THROUGHPUT:
      case PROGRESS_PANE_TEXT:
        m.text = reinterpret_cast<const char*>(lParam);
        break;
      case PROGRESS_RANGE:
      case PROGRESS_POSITION:
      case PROGRESS_PERCENT:
        m.value = *reinterpret_cast<const uint64_t*>(lParam);
        m.hasValue = true;
        break;
      default:
        break;
    }
  }
  std::lock_guard<std::mutex> guard(m_lock);
  m_messages.push_back(std::move(m));
}

LRESULT CRecordingSink::Send(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  Record(wnd, msg, wParam, lParam, false);
  return 0;
}

BOOL CRecordingSink::Post(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  Record(wnd, msg, wParam, lParam, true);
  return TRUE;
}

std::vector<RecordedMessage> CRecordingSink::Messages() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_messages;
}

std::vector<std::string> CRecordingSink::ProgressTexts(unsigned code) const {
  std::vector<std::string> out;
  std::lock_guard<std::mutex> guard(m_lock);
  for (const auto& m : m_messages)
    if (m.msg == UM_PROGRESS && m.wParam == code) out.push_back(m.text);
  return out;
}

std::vector<uint64_t> CRecordingSink::ProgressValues(unsigned code) const {
  std::vector<uint64_t> out;
  std::lock_guard<std::mutex> guard(m_lock);
  for (const auto& m : m_messages)
    if (m.msg == UM_PROGRESS && m.wParam == code && m.hasValue) out.push_back(m.value);
  return out;
}

size_t CRecordingSink::Count(UINT msg) const {
  std::lock_guard<std::mutex> guard(m_lock);
  size_t n = 0;
  for (const auto& m : m_messages)
    if (m.msg == msg) ++n;
  return n;
}

void CRecordingSink::Clear() {
  std::lock_guard<std::mutex> guard(m_lock);
  m_messages.clear();
}

int CScriptedPrompt::ShowMessage(const std::string& text, UINT type) {
  int answer = m_default;
  if (!m_answers.empty()) {
    answer = m_answers.front();
    m_answers.pop_front();
  }
  m_prompts.push_back({text, type, answer});
  return answer;
}

std::vector<std::string> CScriptedPrompt::Texts() const {
  std::vector<std::string> out;
  for (const auto& p : m_prompts) out.push_back(p.text);
  return out;
}

}  // namespace vt
