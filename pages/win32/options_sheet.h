// The options sheet "Vantrel Options" (General, Custom Defrag Options,
// Scheduler) and what its pages share: help topics and the Explorer
// extension's registration, which "/uninstall" uses too.
#pragma once

#include <windows.h>

#include <string>

#include "pages/options_page.h"

namespace vt {

// Modal; returns when OK or Cancel closed it.
void ShowOptionsSheet(HWND owner);

// "<help file>::/<topic>" as an HTML Help topic owned by the main window.
void OpenHelpTopic(const char* topic);
// A sheet page's help, asked for by F1, the sheet's Help button or the
// page's "Help" item: shows the topic and is true when the message asked.
bool PageHelp(UINT msg, WPARAM wParam, LPARAM lParam, const char* topic);

// The extension in the program's folder, registered in the registry view
// Explorer reads (the 64-bit one on 64-bit Windows, even from a 32-bit
// program).
class CShellExtensionHost : public IShellExtensionHost {
 public:
  std::string LibraryPath() override;
  CallResult CallServer(const std::string& path, bool registering) override;
  bool IsRegistered() override;
};

}  // namespace vt
