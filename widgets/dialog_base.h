// Window plumbing every window of the program shares: the C++ object behind
// a window (kept in GWLP_USERDATA), child rectangles in the parent's client
// coordinates and moves by a delta, the help topic of F1, and sizes scaled
// with the window's DPI.
#pragma once

#include <windows.h>
#include <prsht.h>

#include <string>
#include <vector>

namespace vt {

// The object a dialog was created with (the lParam of WM_INITDIALOG),
// stored at WM_INITDIALOG with its window handle and found again after.
template <class T>
T* DialogObject(HWND wnd, UINT msg, LPARAM lParam, HWND T::*handle) {
  if (msg == WM_INITDIALOG && lParam) {
    ::SetWindowLongPtrA(wnd, GWLP_USERDATA, lParam);
    reinterpret_cast<T*>(lParam)->*handle = wnd;
  }
  return reinterpret_cast<T*>(::GetWindowLongPtrA(wnd, GWLP_USERDATA));
}

// The same for a property sheet page: the object is the page's lParam.
template <class T>
T* PageObject(HWND wnd, UINT msg, LPARAM lParam) {
  if (msg == WM_INITDIALOG && lParam)
    ::SetWindowLongPtrA(wnd, GWLP_USERDATA, reinterpret_cast<PROPSHEETPAGEA*>(lParam)->lParam);
  return reinterpret_cast<T*>(::GetWindowLongPtrA(wnd, GWLP_USERDATA));
}

// The same for a plain window: the object is CreateWindowEx's last argument.
template <class T>
T* WindowObject(HWND wnd, UINT msg, LPARAM lParam, HWND T::*handle) {
  if (msg == WM_NCCREATE) {
    auto* self = static_cast<T*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
    ::SetWindowLongPtrA(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    if (self) self->*handle = wnd;
  }
  return reinterpret_cast<T*>(::GetWindowLongPtrA(wnd, GWLP_USERDATA));
}

// A child's window rectangle in its parent's client coordinates.
RECT ChildRect(HWND parent, HWND child);
// Moves and sizes a child by the given deltas.
void MoveChildBy(HWND parent, HWND child, int dx, int dy, int dw, int dh);

// Pixels at 96 DPI scaled to the window's DPI (GetDpiForWindow where the
// system has it, the screen's otherwise).
int WindowDpi(HWND wnd);
int ScaleForDpi(int pixels, int dpi);

// The program's UTF-8 text as UTF-16, and the text of a control or a status
// bar pane set through it, so every control shows the same characters
// whatever the system's ANSI code page.
std::wstring Utf8ToWide(const std::string& text);
void SetTextUtf8(HWND wnd, const std::string& text);
void SetItemTextUtf8(HWND dialog, int id, const std::string& text);
void SetStatusTextUtf8(HWND bar, int pane, const std::string& text);
// Width of a text in the window's font.
int TextWidthUtf8(HWND wnd, const std::string& text);

// A list view's columns: the width each one's header and widest cell take
// (the first rows of a long list), and widths set from such a list.
std::vector<int> ListColumnNeeds(HWND list, int columns);
void SetListColumnWidths(HWND list, const std::vector<int>& widths);

// A library of the system folder, never one found on the search path.
HMODULE LoadSystemLibrary(const char* name);

// Explorer on a folder ("explore") or a file's properties sheet
// ("properties"), owned by the given window.
void ShellOnPath(HWND owner, const std::string& path, bool explore);

// The program's help file, set once at start-up, and a topic of it (its
// default topic for null) through HTML Help.
void SetHelpFile(const std::string& path);
void ShowHelpTopic(HWND owner, const char* topic);

// A dialog from a template, modal or modeless, whose messages go to
// OnMessage; F1 opens HelpTopic() when it names one.
class CDialogBase {
 public:
  virtual ~CDialogBase() = default;
  HWND Handle() const { return m_hWnd; }

 protected:
  INT_PTR RunModal(HWND owner, int templateId);
  HWND CreateModeless(HWND parent, int templateId);
  virtual INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) = 0;
  virtual const char* HelpTopic() const { return nullptr; }

  HWND Item(int id) const { return ::GetDlgItem(m_hWnd, id); }
  RECT ItemRect(HWND child) const { return ChildRect(m_hWnd, child); }
  void MoveBy(HWND child, int dx, int dy, int dw, int dh) const {
    MoveChildBy(m_hWnd, child, dx, dy, dw, dh);
  }
  // A handled message's result for the dialog manager.
  INT_PTR Result(LONG_PTR value) const {
    ::SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, value);
    return TRUE;
  }
  int Scale(int pixels) const { return ScaleForDpi(pixels, WindowDpi(m_hWnd)); }

  HWND m_hWnd = nullptr;

 private:
  static INT_PTR CALLBACK Proc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
};

}  // namespace vt
