#include "widgets/dialog_base.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>

namespace vt {

namespace {
std::string g_helpFile;
}

RECT ChildRect(HWND parent, HWND child) {
  RECT r = {};
  ::GetWindowRect(child, &r);
  ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

void MoveChildBy(HWND parent, HWND child, int dx, int dy, int dw, int dh) {
  if (!child) return;
  const RECT r = ChildRect(parent, child);
  ::MoveWindow(child, r.left + dx, r.top + dy, r.right - r.left + dw, r.bottom - r.top + dh, TRUE);
}

std::wstring Utf8ToWide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int n =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0)
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
  return wide;
}

void SetTextUtf8(HWND wnd, const std::string& text) {
  ::SetWindowTextW(wnd, Utf8ToWide(text).c_str());
}

void SetItemTextUtf8(HWND dialog, int id, const std::string& text) {
  SetTextUtf8(::GetDlgItem(dialog, id), text);
}

void SetStatusTextUtf8(HWND bar, int pane, const std::string& text) {
  const std::wstring wide = Utf8ToWide(text);
  ::SendMessageW(bar, SB_SETTEXTW, static_cast<WPARAM>(pane),
                 reinterpret_cast<LPARAM>(wide.c_str()));
}

int TextWidthUtf8(HWND wnd, const std::string& text) {
  const std::wstring wide = Utf8ToWide(text);
  HDC dc = ::GetDC(wnd);
  if (!dc) return 0;
  HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(wnd, WM_GETFONT, 0, 0)));
  SIZE size = {0, 0};
  ::GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
  ::SelectObject(dc, old);
  ::ReleaseDC(wnd, dc);
  return size.cx;
}

int WindowDpi(HWND wnd) {
  typedef UINT(WINAPI * DpiForWindow)(HWND);
  static auto fn = reinterpret_cast<DpiForWindow>(reinterpret_cast<void (*)()>(
      ::GetProcAddress(::GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
  if (fn && wnd) {
    const UINT dpi = fn(wnd);
    if (dpi) return static_cast<int>(dpi);
  }
  HDC dc = ::GetDC(nullptr);
  const int dpi = dc ? ::GetDeviceCaps(dc, LOGPIXELSY) : 96;
  if (dc) ::ReleaseDC(nullptr, dc);
  return dpi > 0 ? dpi : 96;
}

int ScaleForDpi(int pixels, int dpi) { return ::MulDiv(pixels, dpi, 96); }

HMODULE LoadSystemLibrary(const char* name) {
  char folder[MAX_PATH] = {};
  const UINT n = ::GetSystemDirectoryA(folder, sizeof(folder));
  if (n == 0 || n >= sizeof(folder)) return nullptr;
  return ::LoadLibraryA((std::string(folder) + "\\" + name).c_str());
}

std::vector<int> ListColumnNeeds(HWND list, int columns) {
  // The margins the list view itself keeps around a header's text (with
  // room for the sort arrow) and around a cell's.
  const int dpi = WindowDpi(list);
  const int headerPad = ScaleForDpi(44, dpi), cellPad = ScaleForDpi(14, dpi);
  const bool checks = (ListView_GetExtendedListViewStyle(list) & LVS_EX_CHECKBOXES) != 0;
  const int rows = std::min(ListView_GetItemCount(list), 500);
  std::vector<int> need(static_cast<size_t>(std::max(columns, 0)), 0);
  for (int c = 0; c < columns; ++c) {
    wchar_t text[520] = {};
    LVCOLUMNW col = {};
    col.mask = LVCF_TEXT;
    col.pszText = text;
    col.cchTextMax = 519;
    if (::SendMessageW(list, LVM_GETCOLUMNW, c, reinterpret_cast<LPARAM>(&col)))
      need[c] = static_cast<int>(
                    ::SendMessageW(list, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(text))) +
                headerPad;
    for (int row = 0; row < rows; ++row) {
      LVITEMW item = {};
      item.iSubItem = c;
      item.pszText = text;
      item.cchTextMax = 519;
      text[0] = 0;
      ::SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
      int width = static_cast<int>(::SendMessageW(list, LVM_GETSTRINGWIDTHW, 0,
                                                  reinterpret_cast<LPARAM>(text))) +
                  cellPad;
      if (c == 0 && checks) width += ScaleForDpi(20, dpi);
      need[c] = std::max(need[c], width);
    }
  }
  return need;
}

void SetListColumnWidths(HWND list, const std::vector<int>& widths) {
  for (size_t c = 0; c < widths.size(); ++c)
    ::SendMessageW(list, LVM_SETCOLUMNWIDTH, c, std::max(widths[c], 0));
}

void ShellOnPath(HWND owner, const std::string& path, bool explore) {
  SHELLEXECUTEINFOA sei = {};
  sei.cbSize = sizeof(sei);
  sei.fMask = explore ? 0 : SEE_MASK_INVOKEIDLIST;
  sei.hwnd = owner;
  sei.lpVerb = explore ? "explore" : "properties";
  sei.lpFile = path.c_str();
  sei.nShow = SW_SHOWNORMAL;
  ::ShellExecuteExA(&sei);
}

void SetHelpFile(const std::string& path) { g_helpFile = path; }

void ShowHelpTopic(HWND owner, const char* topic) {
  typedef HWND(WINAPI * HtmlHelpProc)(HWND, LPCSTR, UINT, DWORD_PTR);
  static HMODULE hhctrl = LoadSystemLibrary("hhctrl.ocx");
  static auto htmlHelp = hhctrl ? reinterpret_cast<HtmlHelpProc>(reinterpret_cast<void (*)()>(
                                      ::GetProcAddress(hhctrl, "HtmlHelpA")))
                                : nullptr;
  if (!htmlHelp || g_helpFile.empty()) return;
  const std::string target = topic ? g_helpFile + "::/" + topic : g_helpFile;
  constexpr UINT kDisplayTopic = 0;  // HH_DISPLAY_TOPIC
  htmlHelp(owner, target.c_str(), kDisplayTopic, 0);
}

INT_PTR CDialogBase::RunModal(HWND owner, int templateId) {
  return ::DialogBoxParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId), owner,
                           &CDialogBase::Proc, reinterpret_cast<LPARAM>(this));
}

HWND CDialogBase::CreateModeless(HWND parent, int templateId) {
  return ::CreateDialogParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId), parent,
                              &CDialogBase::Proc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CDialogBase::Proc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  CDialogBase* self = DialogObject(wnd, msg, lParam, &CDialogBase::m_hWnd);
  if (!self) return FALSE;
  if (msg == WM_HELP && self->HelpTopic()) {
    ShowHelpTopic(wnd, self->HelpTopic());
    return TRUE;
  }
  const INT_PTR result = self->OnMessage(msg, wParam, lParam);
  if (msg == WM_NCDESTROY) self->m_hWnd = nullptr;
  return result;
}

}  // namespace vt
