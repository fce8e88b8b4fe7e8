// vt-gui-driver's commands for the options sheet, message boxes and the
// scheduled run's tray window:
//
//   sheet-wait SECONDS           the sheet "Vantrel Options" is open
//   sheet-page N                 shows page N (0 General, 1 Custom, 2 Scheduler)
//   sheet-set ID TEXT            sets an edit's text (the page hears EN_CHANGE)
//   sheet-check ID 0|1           clicks a check box or radio button into that state
//   sheet-select ID ITEM         selects a combo box item, as a user would
//   sheet-mark ID ITEM 0|1       sets a check-list combo item's mark
//   sheet-items ID               a combo or list box's items ("[x] " marks checked)
//   sheet-text ID                a control's text, then "checked" and "disabled"
//                                lines when they apply
//   sheet-time ID HH MM          sets the time picker
//   sheet-press ID               clicks a button of the sheet (1 OK, 2 Cancel, 9 Help)
//   sheet-gone SECONDS           the sheet has closed
//   windows                      the visible top-level windows: class, title
//   close-top CLASS              closes the first visible window of that class
//   msgbox SECONDS               a message box "Vantrel": prints its text
//   msgbox-press ID              clicks a button of that message box
//   tray SECONDS                 the tray window: "icon=1|0" and its tip
//   tray-menu                    opens the tray menu as a click on the icon
//   tray-choose                  chooses the open menu's first item
//   tray-gone SECONDS            the tray window has gone (the program ended)
//   priority                     the tray's process: priority class and affinity
//   tray-cancel TIP HOLD_MS      once the tip reads TIP: opens the menu, holds
//                                it open HOLD_MS (for a screenshot), prints
//                                the process's priority, chooses "Cancel Defrag"
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/ui_sink.h"

namespace {

std::string WindowText(HWND wnd) {
  char text[4096] = {};
  ::SendMessageTimeoutA(wnd, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, 5000, nullptr);
  return text;
}

struct CTopFind {
  const char* title;
  const char* cls;
  HWND found;
};

BOOL CALLBACK FindTopExact(HWND wnd, LPARAM param) {
  auto* f = reinterpret_cast<CTopFind*>(param);
  char title[512] = {}, cls[64] = {};
  ::GetWindowTextA(wnd, title, sizeof(title));
  ::GetClassNameA(wnd, cls, sizeof(cls));
  if (std::strcmp(cls, f->cls) != 0) return TRUE;
  if (f->title && std::strcmp(title, f->title) != 0) return TRUE;
  // Only the tray window is never shown.
  if (std::strcmp(f->cls, "VantrelTray") != 0 && !::IsWindowVisible(wnd)) return TRUE;
  // A message box holds its text in static 0xFFFF; the sheet has no such.
  if (f->title && std::strcmp(f->title, "Vantrel") == 0 && !::GetDlgItem(wnd, 0xFFFF)) return TRUE;
  f->found = wnd;
  return FALSE;
}

HWND FindTop(const char* title, const char* cls) {
  CTopFind f = {title, cls, nullptr};
  ::EnumWindows(&FindTopExact, reinterpret_cast<LPARAM>(&f));
  return f.found;
}

HWND WaitTop(const char* title, const char* cls, int seconds) {
  for (int i = 0; i < seconds * 10; ++i) {
    if (HWND wnd = FindTop(title, cls)) return wnd;
    ::Sleep(100);
  }
  return nullptr;
}

struct CIdFind {
  int id;
  HWND found;
};

BOOL CALLBACK FindById(HWND wnd, LPARAM param) {
  auto* f = reinterpret_cast<CIdFind*>(param);
  if (::GetDlgCtrlID(wnd) == f->id && ::IsWindowVisible(wnd)) {
    f->found = wnd;
    return FALSE;
  }
  return TRUE;
}

// A control of the sheet's shown page (or the sheet's own buttons).
HWND SheetControl(HWND sheet, int id) {
  CIdFind f = {id, nullptr};
  ::EnumChildWindows(sheet, &FindById, reinterpret_cast<LPARAM>(&f));
  return f.found;
}

void Notify(HWND control, WORD code) {
  ::SendMessageA(::GetParent(control), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(control), code),
                 reinterpret_cast<LPARAM>(control));
}

int Error(const char* what) {
  std::fprintf(stderr, "vt-gui-driver: %s\n", what);
  return 1;
}

// Memory in the program's process for a picker's time.
bool SetPickerTime(HWND picker, int hour, int minute) {
  DWORD pid = 0;
  ::GetWindowThreadProcessId(picker, &pid);
  HANDLE process =
      ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (!process) return false;
  void* mem = ::VirtualAllocEx(process, nullptr, sizeof(SYSTEMTIME), MEM_COMMIT, PAGE_READWRITE);
  bool ok = false;
  if (mem) {
    SYSTEMTIME st = {};
    ::GetLocalTime(&st);
    st.wHour = static_cast<WORD>(hour);
    st.wMinute = static_cast<WORD>(minute);
    st.wSecond = 0;
    st.wMilliseconds = 0;
    ok = ::WriteProcessMemory(process, mem, &st, sizeof(st), nullptr) &&
         ::SendMessageA(picker, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(mem));
    ::VirtualFreeEx(process, mem, 0, MEM_RELEASE);
  }
  ::CloseHandle(process);
  return ok;
}

// Item texts in UTF-8: the wide messages cross processes whole.
std::string ItemText(HWND ctl, bool list, int item) {
  wchar_t wide[512] = {};
  ::SendMessageW(ctl, list ? LB_GETTEXT : CB_GETLBTEXT, item, reinterpret_cast<LPARAM>(wide));
  char text[1024] = {};
  ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, sizeof(text), nullptr, nullptr);
  return text;
}

BOOL CALLBACK ListTop(HWND wnd, LPARAM) {
  char title[256] = {}, cls[64] = {};
  ::GetWindowTextA(wnd, title, sizeof(title));
  ::GetClassNameA(wnd, cls, sizeof(cls));
  if (::IsWindowVisible(wnd))
    std::printf("%s\t%s\t%p\n", cls, title, static_cast<void*>(::GetDlgItem(wnd, 0xFFFF)));
  return TRUE;
}

int PrintPriority(HWND tray) {
  DWORD pid = 0;
  ::GetWindowThreadProcessId(tray, &pid);
  HANDLE process = ::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
  if (!process) return Error("cannot open the process");
  DWORD_PTR mask = 0, system = 0;
  ::GetProcessAffinityMask(process, &mask, &system);
  std::printf("class=%lu affinity=%llx\n", ::GetPriorityClass(process),
              static_cast<unsigned long long>(mask));
  std::fflush(stdout);
  ::CloseHandle(process);
  return 0;
}

constexpr UINT kSetMark = UM_CCM_SETCHECK;  // the check-list combo's messages
constexpr UINT kGetMark = UM_CCM_GETCHECK;

}  // namespace

// -1: not one of these commands.
int RunOptionsCommand(int argc, char** argv) {
  const std::string cmd = argv[1];
  auto arg = [&](int i) { return i < argc ? argv[i] : ""; };
  auto num = [&](int i) { return std::atoi(arg(i)); };
  if (cmd.rfind("sheet-", 0) == 0) {
    if (cmd == "sheet-wait")
      return WaitTop("Vantrel Options", "#32770", num(2)) ? 0 : Error("no options sheet");
    if (cmd == "sheet-gone") {
      for (int i = 0; i < num(2) * 10; ++i) {
        if (!FindTop("Vantrel Options", "#32770")) return 0;
        ::Sleep(100);
      }
      return Error("the sheet is still open");
    }
    HWND sheet = FindTop("Vantrel Options", "#32770");
    if (!sheet) return Error("no options sheet");
    if (cmd == "sheet-page") {
      ::SendMessageA(sheet, PSM_SETCURSEL, num(2), 0);
      return 0;
    }
    // The sheet's own buttons are its direct children; page controls may
    // share their numbers.
    HWND ctl = cmd == "sheet-press" ? ::GetDlgItem(sheet, num(2)) : nullptr;
    if (!ctl) ctl = SheetControl(sheet, num(2));
    if (!ctl) return Error("no such control on the shown page");
    if (cmd == "sheet-set") {
      ::SendMessageA(ctl, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(arg(3)));
    } else if (cmd == "sheet-check") {
      const bool on = ::SendMessageA(ctl, BM_GETCHECK, 0, 0) == BST_CHECKED;
      if (on != (num(3) != 0)) ::SendMessageA(ctl, BM_CLICK, 0, 0);
    } else if (cmd == "sheet-select") {
      ::SendMessageA(ctl, CB_SETCURSEL, num(3), 0);
      Notify(ctl, CBN_SELCHANGE);
    } else if (cmd == "sheet-mark") {
      ::SendMessageA(ctl, kSetMark, num(3), num(4));
    } else if (cmd == "sheet-items") {
      char cls[64] = {};
      ::GetClassNameA(ctl, cls, sizeof(cls));
      const bool list = _stricmp(cls, "ListBox") == 0;
      const int count =
          static_cast<int>(::SendMessageA(ctl, list ? LB_GETCOUNT : CB_GETCOUNT, 0, 0));
      for (int i = 0; i < count; ++i) {
        const bool marked = !list && ::SendMessageA(ctl, kGetMark, i, 0) == 1;
        std::printf("%s%s\n", marked ? "[x] " : "", ItemText(ctl, list, i).c_str());
      }
    } else if (cmd == "sheet-text") {
      char cls[64] = {};
      ::GetClassNameA(ctl, cls, sizeof(cls));
      const bool checked =
          _stricmp(cls, "Button") == 0 && ::SendMessageA(ctl, BM_GETCHECK, 0, 0) == BST_CHECKED;
      std::printf("%s%s%s\n", WindowText(ctl).c_str(), checked ? "\nchecked" : "",
                  ::IsWindowEnabled(ctl) ? "" : "\ndisabled");
    } else if (cmd == "sheet-time") {
      if (!SetPickerTime(ctl, num(3), num(4))) return Error("cannot set the time");
    } else if (cmd == "sheet-press") {
      ::PostMessageA(ctl, BM_CLICK, 0, 0);
    } else {
      return Error("unknown sheet command");
    }
    return 0;
  }
  if (cmd == "windows") {
    ::EnumWindows(&ListTop, 0);
    return 0;
  }
  if (cmd == "close-top") {
    HWND wnd = FindTop(nullptr, arg(2));
    if (!wnd) return Error("no such window");
    ::PostMessageA(wnd, WM_CLOSE, 0, 0);
    return 0;
  }
  if (cmd == "msgbox") {
    HWND box = WaitTop("Vantrel", "#32770", num(2));
    if (!box) return Error("no message box");
    std::printf("%s\n", WindowText(::GetDlgItem(box, 0xFFFF)).c_str());
    return 0;
  }
  if (cmd == "msgbox-press") {
    HWND box = FindTop("Vantrel", "#32770");
    if (!box) return Error("no message box");
    ::PostMessageA(::GetDlgItem(box, num(2)), BM_CLICK, 0, 0);
    return 0;
  }
  if (cmd == "tray") {
    // The window comes first, its icon a moment later.
    HWND tray = nullptr;
    for (int i = 0; i < num(2) * 10; ++i) {
      tray = FindTop(nullptr, "VantrelTray");
      if (tray && ::GetPropA(tray, "VantrelTrayIcon")) break;
      ::Sleep(100);
    }
    if (!tray) return Error("no tray window");
    std::printf("icon=%d\n%s\n", ::GetPropA(tray, "VantrelTrayIcon") ? 1 : 0,
                WindowText(tray).c_str());
    return 0;
  }
  if (cmd == "tray-menu") {
    HWND tray = FindTop(nullptr, "VantrelTray");
    if (!tray) return Error("no tray window");
    ::SetCursorPos(1000, 690);  // where the icon would be
    ::PostMessageA(tray, ::RegisterWindowMessageA("VTRTaskbarMsg"), 1, WM_RBUTTONDOWN);
    return 0;
  }
  if (cmd == "tray-escape") {
    HWND menu = WaitTop(nullptr, "#32768", 5);
    if (!menu) return Error("no menu open");
    ::PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
    return 0;
  }
  if (cmd == "tray-choose") {
    HWND menu = WaitTop(nullptr, "#32768", 10);
    if (!menu) return Error("no menu open");
    ::PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
    ::Sleep(200);
    ::PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
    return 0;
  }
  if (cmd == "tray-cancel") {
    HWND tray = WaitTop(nullptr, "VantrelTray", 60);
    if (!tray) return Error("no tray window");
    // Short polls throughout: the drive's pass may take well under a second,
    // and the choice has to land while it runs.
    bool seen = false;
    for (int i = 0; i < 6000 && !seen; ++i) {
      seen = WindowText(tray) == arg(2);
      if (!seen) ::Sleep(10);
    }
    if (!seen) return Error("the tip never read so");
    // The menu opens at the cursor: near the corner where the icon would be.
    ::SetCursorPos(1000, 690);
    ::PostMessageA(tray, ::RegisterWindowMessageA("VTRTaskbarMsg"), 1, WM_RBUTTONDOWN);
    HWND menu = nullptr;
    for (int i = 0; i < 1000 && !menu; ++i) {
      menu = FindTop(nullptr, "#32768");
      if (!menu) ::Sleep(10);
    }
    if (!menu) return Error("no menu open");
    std::printf("menu open\n");
    std::fflush(stdout);
    PrintPriority(tray);
    ::Sleep(num(3));
    ::PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
    ::Sleep(100);
    ::PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
    return 0;
  }
  if (cmd == "priority") {
    HWND tray = FindTop(nullptr, "VantrelTray");
    if (!tray) return Error("no tray window");
    return PrintPriority(tray);
  }
  if (cmd == "tray-gone") {
    for (int i = 0; i < num(2) * 10; ++i) {
      if (!FindTop(nullptr, "VantrelTray")) return 0;
      ::Sleep(100);
    }
    return Error("the tray window is still there");
  }
  return -1;
}
