// CMapBalloon: the map's balloon, a small window that never takes the
// focus, showing a bold title over a few lines of text. It is sized to its
// text (in the window's DPI) so that no line is ever cut short.
#pragma once

#include <windows.h>

#include <string>

#include "widgets/dialog_base.h"  // WindowDpi

namespace vt {

class CMapBalloon {
 public:
  CMapBalloon() = default;
  ~CMapBalloon();
  CMapBalloon(const CMapBalloon&) = delete;
  CMapBalloon& operator=(const CMapBalloon&) = delete;

  // `owner`: the window whose DPI and screen it follows.
  bool Create(HWND owner);
  // Shows the texts with the balloon's top left corner at `screen`, kept on
  // the owner's monitor.
  void Show(POINT screen, const std::string& title, const std::string& body);
  void Hide();
  HWND Handle() const { return m_hWnd; }

 private:
  static LRESULT CALLBACK WndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  void MakeFonts();
  SIZE Measure(RECT* titleRect, RECT* bodyRect);
  void OnPaint();

  HWND m_hWnd = nullptr;
  HWND m_hOwner = nullptr;
  HFONT m_hFont = nullptr;
  HFONT m_hTitleFont = nullptr;
  int m_nFontDpi = 0;
  std::string m_strTitle;
  std::string m_strBody;
};

// A size of 96-DPI pixels at `dpi`.
int ScaleToDpi(int pixels, int dpi);

}  // namespace vt
