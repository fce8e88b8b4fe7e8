// CMainDlg: the program's window: the four pages on their tabs, the band
// with the map, its labels and legend, the status bar and the progress bar.
#pragma once

namespace vt {

struct CSharedWindows;

// Creates the main window (template 130) over the application's shared
// window objects and runs it until it closes.
void RunMainDialog(CSharedWindows& shared);

}  // namespace vt
