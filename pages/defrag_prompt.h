// The question asked before a file that is not fragmented is moved anyway:
// what each button of the dialog answers and what its check box holds.
#pragma once

#include <string>

#include "base/winshapes.h"

namespace vt {

constexpr const char* kDefragPromptRepeatText = "Repeat for remaining file selections.";

class CDefragPrompt {
 public:
  explicit CDefragPrompt(std::string text) : m_strText(std::move(text)) {}
  const std::string& Text() const { return m_strText; }

  // A button: "Defrag file" (IDYES, also Return), "Skip file" (IDNO) or
  // "Cancel" (IDCANCEL, also Escape and the close box). True when the
  // dialog closes with Answer(); other ids change nothing.
  bool OnButton(int id);
  void OnRepeatClicked(bool checked) { m_bRepeat = checked; }

  int Answer() const { return m_nAnswer; }
  bool Repeat() const { return m_bRepeat; }

 private:
  std::string m_strText;
  int m_nAnswer = IDCANCEL;
  bool m_bRepeat = false;
};

}  // namespace vt
