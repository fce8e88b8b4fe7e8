#include "platform/win32/win32_window_placement.h"

namespace vt {

bool CWin32WindowPlacement::IsMinimized() { return ::IsIconic(m_hWnd) != FALSE; }

bool CWin32WindowPlacement::IsVisible() { return ::IsWindowVisible(m_hWnd) != FALSE; }

bool CWin32WindowPlacement::GetPlacement(CWindowPlacement* placement) {
  WINDOWPLACEMENT wp = {};
  wp.length = sizeof(wp);
  if (!::GetWindowPlacement(m_hWnd, &wp)) return false;
  m_last = wp;
  m_bHaveLast = true;
  placement->m_rcNormal.left = wp.rcNormalPosition.left;
  placement->m_rcNormal.top = wp.rcNormalPosition.top;
  placement->m_rcNormal.right = wp.rcNormalPosition.right;
  placement->m_rcNormal.bottom = wp.rcNormalPosition.bottom;
  placement->m_nShowCmd = static_cast<int>(wp.showCmd);
  return true;
}

bool CWin32WindowPlacement::SetPlacement(const CWindowPlacement& placement) {
  WINDOWPLACEMENT wp = m_last;
  if (!m_bHaveLast) {
    wp = {};
    wp.length = sizeof(wp);
  }
  wp.rcNormalPosition.left = placement.m_rcNormal.left;
  wp.rcNormalPosition.top = placement.m_rcNormal.top;
  wp.rcNormalPosition.right = placement.m_rcNormal.right;
  wp.rcNormalPosition.bottom = placement.m_rcNormal.bottom;
  wp.showCmd = static_cast<UINT>(placement.m_nShowCmd);
  return ::SetWindowPlacement(m_hWnd, &wp) != FALSE;
}

bool CWin32WindowPlacement::GetScreenRect(CWindowRect* rect) {
  HDC dc = ::GetDC(nullptr);
  if (!dc) return false;
  RECT box;
  const int kind = ::GetClipBox(dc, &box);
  ::ReleaseDC(nullptr, dc);
  if (kind == ERROR) return false;
  rect->left = box.left;
  rect->top = box.top;
  rect->right = box.right;
  rect->bottom = box.bottom;
  return true;
}

}  // namespace vt
