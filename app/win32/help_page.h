// The "Help" tab: the version resource's entries, the help file's default
// topic and the update check.
#pragma once

#include "widgets/dialog_base.h"

namespace vt {

class CHelpPage : public CDialogBase {
 public:
  HWND Create(HWND parent);

 private:
  INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
  const char* HelpTopic() const override { return "HelpTab.htm"; }
};

}  // namespace vt
