// How the engine reaches the windows: window messages and message boxes.
#pragma once

#include <string>

#include "base/winshapes.h"

// Every private window message of the program, WM_APP + 0 to + 10 between the
// workers and the main window, the rest private to one window class.
#define UM_DRIVE_UPDATE (WM_APP + 0)
#define UM_FILL_FILE_LIST (WM_APP + 1)
#define UM_DEFRAG_FREE_NOW (WM_APP + 2)
#define UM_RANGE_CHANGED (WM_APP + 3)
#define UM_VIEW_CHANGED (WM_APP + 4)
#define UM_SHOW_REPORT (WM_APP + 5)
#define UM_FILE_DEFRAGGED (WM_APP + 6)
#define UM_PROGRESS (WM_APP + 7)
#define UM_SET_COMPRESSED (WM_APP + 8)
#define UM_START_COMMAND (WM_APP + 9)
#define UM_ENABLE_CONTROLS (WM_APP + 10)

// Codes of UM_PROGRESS (the wParam).
enum ProgressCode : unsigned {
  PROGRESS_RESET = 0,
  PROGRESS_TEXT = 1,
  PROGRESS_RANGE = 2,
  PROGRESS_POSITION = 3,
  PROGRESS_PERCENT = 4,
  PROGRESS_THROUGHPUT = 5,
  PROGRESS_PANE_TEXT = 6,
  PROGRESS_REPAINT = 7,
};

// The main window: the splitter bar moved by wParam pixels; a hand-off's
// answer shown after the second copy has been let go (wParam: HandOffAction);
// the timer that starts a free-space pass once the operation that asked for
// it has ended.
#define UM_SPLITTER_MOVED (WM_APP + 30)
#define UM_HANDOFF_MESSAGE (WM_APP + 31)
// The cluster map: rebuilt by a worker, and the view moved.
#define UM_MAP_REBUILT (WM_APP + 40)
#define UM_MAP_MOVED (WM_APP + 41)
// The map's "Defrag file" worker is done.
#define UM_MAP_DEFRAGGED (WM_APP + 42)
// The report page: the report text changed.
#define UM_REPORT_CHANGED (WM_APP + 45)
// The drive page: a call onto the window thread, and a drive list loaded.
#define UM_DP_CALL (WM_APP + 50)
#define UM_DP_LOAD (WM_APP + 51)
// The check-list combo box: set and read an item's check mark.
#define UM_CCM_SETCHECK (WM_APP + 60)
#define UM_CCM_GETCHECK (WM_APP + 61)

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
