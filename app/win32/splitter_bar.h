// The horizontal splitter bar under the tab control: dragging it sends its
// parent UM_SPLITTER_MOVED with the distance in wParam.
#pragma once

#include <windows.h>

namespace vt {

// Registers the class once; the bar is a plain child window of it.
HWND CreateSplitterBar(HWND parent, int x, int y, int width, int height);

}  // namespace vt
