// The driver's commands about the main window as a whole, for the window
// scenario:
//   maximize | restore        shows the main window so
//   main-rect                 its window rectangle: left top width height
//   layout                    every visible control that is not wholly
//                             inside the main window's client area, one a
//                             line ("outside ID CLASS l t r b"), then
//                             "pages N": how many of its pages are shown
//   wtext ID                  a control's text read as UTF-16, in UTF-8
//   above-main CAPTION        1 when the visible dialog whose caption starts
//                             so stands above the main window, else 0
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct CLayoutWalk {
  HWND main;
  RECT client;  // in screen coordinates
  int outside;
  int pages;
};

BOOL CALLBACK CheckChild(HWND wnd, LPARAM param) {
  auto* walk = reinterpret_cast<CLayoutWalk*>(param);
  if (!::IsWindowVisible(wnd)) return TRUE;
  char cls[64] = {};
  ::GetClassNameA(wnd, cls, sizeof(cls));
  if (::GetParent(wnd) == walk->main && std::string(cls) == "#32770") ++walk->pages;
  RECT r;
  ::GetWindowRect(wnd, &r);
  if (r.right <= r.left || r.bottom <= r.top) return TRUE;
  const RECT& c = walk->client;
  if (r.left < c.left || r.top < c.top || r.right > c.right || r.bottom > c.bottom) {
    std::printf("outside %d %s %ld %ld %ld %ld\n", ::GetDlgCtrlID(wnd), cls, r.left - c.left,
                r.top - c.top, r.right - c.left, r.bottom - c.top);
    ++walk->outside;
  }
  return TRUE;
}

struct CFindId {
  int id;
  HWND found;
};

BOOL CALLBACK FindControlId(HWND wnd, LPARAM param) {
  auto* f = reinterpret_cast<CFindId*>(param);
  if (::GetDlgCtrlID(wnd) != f->id) return TRUE;
  f->found = wnd;
  return FALSE;
}

HWND ControlById(HWND top, int id) {
  CFindId find = {id, nullptr};
  ::EnumChildWindows(top, &FindControlId, reinterpret_cast<LPARAM>(&find));
  return find.found;
}

}  // namespace

// -1: not a command of this file.
int RunWindowCommand(HWND main, int argc, char** argv) {
  const std::string cmd = argv[1];
  if (cmd == "maximize" || cmd == "restore") {
    ::ShowWindow(main, cmd == "maximize" ? SW_MAXIMIZE : SW_RESTORE);
    return 0;
  }
  if (cmd == "main-rect") {
    RECT r;
    ::GetWindowRect(main, &r);
    std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    return 0;
  }
  if (cmd == "layout") {
    CLayoutWalk walk = {main, {}, 0, 0};
    ::GetClientRect(main, &walk.client);
    ::MapWindowPoints(main, nullptr, reinterpret_cast<POINT*>(&walk.client), 2);
    ::EnumChildWindows(main, &CheckChild, reinterpret_cast<LPARAM>(&walk));
    std::printf("pages %d\n", walk.pages);
    return 0;
  }
  if (cmd == "above-main" && argc > 2) {
    // The windows above the main one, nearest first.
    int above = 0;
    for (HWND w = ::GetWindow(main, GW_HWNDPREV); w; w = ::GetWindow(w, GW_HWNDPREV)) {
      char title[512] = {};
      ::GetWindowTextA(w, title, sizeof(title));
      if (::IsWindowVisible(w) && std::strncmp(title, argv[2], std::strlen(argv[2])) == 0)
        above = 1;
    }
    std::printf("%d\n", above);
    return 0;
  }
  if (cmd == "wtext" && argc > 2) {
    HWND ctl = ControlById(main, std::atoi(argv[2]));
    if (!ctl) {
      std::fprintf(stderr, "vt-gui-driver: no such control\n");
      return 1;
    }
    wchar_t wide[1024] = {};
    ::SendMessageW(ctl, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(wide));
    char text[4096] = {};
    ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, sizeof(text), nullptr, nullptr);
    std::printf("%s\n", text);
    return 0;
  }
  return -1;
}
