// How the engine reaches the windows: window messages and message boxes.
#pragma once

#include <string>

#include "base/winshapes.h"

namespace vt {

// SendMessage / PostMessage of the private WM_APP messages. Sent messages are
// handled before Send returns, so pointers passed in lParam may point at the
// sender's stack; posted ones must point at data that outlives the handling.
class IMessageSink {
 public:
  virtual ~IMessageSink() = default;
  virtual LRESULT Send(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) = 0;
  virtual BOOL Post(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) = 0;
};

// The program's message box: caption "Vantrel", task-modal, brought to the
// foreground; returns the button pressed (IDOK, IDYES, ...).
class IPrompt {
 public:
  virtual ~IPrompt() = default;
  virtual int ShowMessage(const std::string& text, UINT type) = 0;
  // The "does not need to be defragmented" dialog: "Defrag file" (IDYES),
  // "Skip file" (IDNO) or "Cancel" (IDCANCEL), and the state of its check box
  // "Repeat for remaining file selections.". The program shows its own dialog;
  // a host without windows answers it as a Yes/No/Cancel question.
  virtual int ShowDefragPrompt(const std::string& text, bool* repeatChecked) {
    if (repeatChecked) *repeatChecked = false;
    return ShowMessage(text, MB_YESNOCANCEL | MB_ICONQUESTION);
  }
  // Repaints the main window after a box over it has closed; a host without
  // a main window has nothing to repaint.
  virtual void RepaintMainWindow() {}
};

// The caption of every message box of the program.
constexpr const char* kMessageCaption = "Vantrel";

}  // namespace vt
