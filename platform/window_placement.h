// What saving and restoring the main window's position needs of a window
// and its screen; the Win32 view passes these to the real window.
#pragma once

#include <cstdint>

namespace vt {

struct CWindowRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
};

// The show state that keeps a window hidden (SW_HIDE).
constexpr int kShowHidden = 0;

struct CWindowPlacement {
  CWindowRect m_rcNormal;  // the restored rectangle, in screen coordinates
  int m_nShowCmd = 0;      // an SW_* value
};

class IWindowPlacementHost {
 public:
  virtual ~IWindowPlacementHost() = default;
  virtual bool IsMinimized() = 0;
  virtual bool IsVisible() = 0;
  virtual bool GetPlacement(CWindowPlacement* placement) = 0;
  // Applies a placement read by GetPlacement with its fields changed.
  virtual bool SetPlacement(const CWindowPlacement& placement) = 0;
  // The screen's clipping rectangle: the whole desktop.
  virtual bool GetScreenRect(CWindowRect* rect) = 0;
};

}  // namespace vt
