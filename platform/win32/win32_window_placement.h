// The window-placement interface over a real window.
#pragma once

#include "base/winshapes.h"
#include "platform/window_placement.h"

namespace vt {

class CWin32WindowPlacement : public IWindowPlacementHost {
 public:
  explicit CWin32WindowPlacement(HWND window) : m_hWnd(window) {}
  bool IsMinimized() override;
  bool IsVisible() override;
  bool GetPlacement(CWindowPlacement* placement) override;
  bool SetPlacement(const CWindowPlacement& placement) override;
  bool GetScreenRect(CWindowRect* rect) override;

 private:
  HWND m_hWnd;
  // The fields the interface does not carry (flags, minimised and maximised
  // positions) go back as they were read.
  WINDOWPLACEMENT m_last = {};
  bool m_bHaveLast = false;
};

}  // namespace vt
