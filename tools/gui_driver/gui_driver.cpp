// vt-gui-driver: drives a running Vantrel.exe from outside, one step a run:
// finds its windows, clicks buttons and list rows, and prints control texts
// (list-view rows included) for the scenario scripts.
//
//   wait-main SECONDS            the main window appears; prints its title
//   title                        the main window's title
//   rows                         the drive list: check mark and cells per row
//   check ROW                    clicks the row's check box with the mouse
//                                (prints the point; with VT_CLICK_OUTSIDE set
//                                the caller clicks it, e.g. with xdotool)
//   click ID                     clicks a button of the main window's pages
//   text ID                      a control's text (status and progress too)
//   tab                          the selected tab
//   wait-idle SECONDS            no operation runs (Stop disabled)
//   dialog CAPTION SECONDS       a dialog whose caption starts so; prints
//                                caption and message
//   press CAPTION ID             clicks a button (or check box) of that dialog
//   dialog-checked CAPTION ID    1 when that dialog's check box is checked
//   close                        closes the main window
//   enabled                      1 when the main window takes input, else 0
//   (and those of map_commands.cpp and window_commands.cpp)
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int RunMapCommand(HWND main, int argc, char** argv);
int RunWindowCommand(HWND main, int argc, char** argv);

namespace {

struct CFind {
  const char* prefix;
  bool exactClass;
  HWND found;
};

BOOL CALLBACK FindTop(HWND wnd, LPARAM param) {
  auto* f = reinterpret_cast<CFind*>(param);
  char title[512] = {}, cls[64] = {};
  ::GetWindowTextA(wnd, title, sizeof(title));
  ::GetClassNameA(wnd, cls, sizeof(cls));
  if (std::strcmp(cls, "#32770") != 0 || !::IsWindowVisible(wnd)) return TRUE;
  if (::GetDlgItem(wnd, 1055)) return TRUE;  // the main window
  if (std::strncmp(title, f->prefix, std::strlen(f->prefix)) != 0) return TRUE;
  f->found = wnd;
  return FALSE;
}

HWND FindDialog(const char* prefix) {
  CFind f = {prefix, true, nullptr};
  ::EnumWindows(&FindTop, reinterpret_cast<LPARAM>(&f));
  return f.found;
}

// The main window: its title starts with "Vantrel" and it holds the tabs.
BOOL CALLBACK FindMainWindow(HWND wnd, LPARAM param) {
  char cls[64] = {}, title[512] = {};
  ::GetClassNameA(wnd, cls, sizeof(cls));
  ::GetWindowTextA(wnd, title, sizeof(title));
  if (std::strcmp(cls, "#32770") == 0 && std::strncmp(title, "Vantrel", 7) == 0 &&
      ::GetDlgItem(wnd, 1055)) {
    *reinterpret_cast<HWND*>(param) = wnd;
    return FALSE;
  }
  return TRUE;
}

HWND FindMain() {
  HWND found = nullptr;
  ::EnumWindows(&FindMainWindow, reinterpret_cast<LPARAM>(&found));
  return found;
}

struct CFindId {
  int id;
  HWND found;
};

BOOL CALLBACK FindChild(HWND wnd, LPARAM param) {
  auto* f = reinterpret_cast<CFindId*>(param);
  if (::GetDlgCtrlID(wnd) == f->id) {
    f->found = wnd;
    return FALSE;
  }
  return TRUE;
}

HWND FindControl(HWND top, int id) {
  CFindId f = {id, nullptr};
  ::EnumChildWindows(top, &FindChild, reinterpret_cast<LPARAM>(&f));
  return f.found;
}

std::string Text(HWND wnd) {
  const LRESULT n = ::SendMessageA(wnd, WM_GETTEXTLENGTH, 0, 0);
  std::string s(static_cast<size_t>(n) + 1, '\0');
  const LRESULT got = ::SendMessageA(wnd, WM_GETTEXT, s.size(), reinterpret_cast<LPARAM>(&s[0]));
  s.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return s;
}

// Memory in the other process for the list view's replies.
class CRemote {
 public:
  explicit CRemote(HWND wnd, size_t size) : m_size(size) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(wnd, &pid);
    m_process =
        ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (m_process) m_mem = ::VirtualAllocEx(m_process, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
  }
  ~CRemote() {
    if (m_mem) ::VirtualFreeEx(m_process, m_mem, 0, MEM_RELEASE);
    if (m_process) ::CloseHandle(m_process);
  }
  bool Ok() const { return m_mem != nullptr; }
  char* Address() const { return static_cast<char*>(m_mem); }
  bool Write(size_t offset, const void* data, size_t n) {
    return ::WriteProcessMemory(m_process, Address() + offset, data, n, nullptr) != 0;
  }
  bool Read(size_t offset, void* data, size_t n) {
    return ::ReadProcessMemory(m_process, Address() + offset, data, n, nullptr) != 0;
  }

 private:
  HANDLE m_process = nullptr;
  void* m_mem = nullptr;
  size_t m_size;
};

std::string CellText(HWND list, CRemote& remote, int row, int col) {
  LVITEMA item = {};
  item.iSubItem = col;
  item.cchTextMax = 256;
  item.pszText = remote.Address() + sizeof(LVITEMA);
  remote.Write(0, &item, sizeof(item));
  ::SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(remote.Address()));
  char text[257] = {};
  remote.Read(sizeof(LVITEMA), text, 256);
  return text;
}

int Fail(const char* what) {
  std::fprintf(stderr, "vt-gui-driver: %s\n", what);
  return 1;
}

void Click(int x, int y) {
  ::SetCursorPos(x, y);
  ::Sleep(150);
  INPUT in[2] = {};
  in[0].type = in[1].type = INPUT_MOUSE;
  in[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  in[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  ::SendInput(1, &in[0], sizeof(INPUT));
  ::Sleep(100);
  ::SendInput(1, &in[1], sizeof(INPUT));
}

}  // namespace

// The options sheet, message box and tray commands (options_commands.cpp).
int RunOptionsCommand(int argc, char** argv);

int main(int argc, char** argv) {
  if (argc < 2) return Fail("usage: vt-gui-driver COMMAND [ARGS]");
  // The program runs in Wine's virtual desktop named in VT_DESKTOP
  // (explorer /desktop=NAME): look for its windows there.
  // It may not exist yet when the program is still starting.
  if (const char* name = std::getenv("VT_DESKTOP")) {
    for (int i = 0; i < 600; ++i) {
      if (HDESK desk = ::OpenDesktopA(name, 0, FALSE, GENERIC_ALL)) {
        ::SetThreadDesktop(desk);
        break;
      }
      ::Sleep(100);
    }
  }
  const std::string cmd = argv[1];
  if (const int rc = RunOptionsCommand(argc, argv); rc >= 0) return rc;
  if (cmd == "wait-main" || cmd == "dialog" || cmd == "wait-idle") {
    const int seconds =
        std::atoi(argv[cmd == "dialog" ? 3 : 2] ? argv[cmd == "dialog" ? 3 : 2] : "10");
    for (int i = 0; i < seconds * 10; ++i) {
      if (cmd == "wait-main") {
        if (HWND main = FindMain()) {
          std::printf("%s\n", Text(main).c_str());
          return 0;
        }
      } else if (cmd == "dialog") {
        if (HWND dlg = FindDialog(argv[2])) {
          // The completion dialog's message, the move-anyway question's,
          // or a message box's.
          HWND message = ::GetDlgItem(dlg, 2112);
          if (!message) message = ::GetDlgItem(dlg, 2113);
          if (!message) message = ::GetDlgItem(dlg, 0xFFFF);
          std::printf("%s\n%s\n", Text(dlg).c_str(), message ? Text(message).c_str() : "");
          return 0;
        }
      } else {
        HWND main = FindMain();
        HWND stop = main ? FindControl(main, 1106) : nullptr;
        HWND analyze = main ? FindControl(main, 1102) : nullptr;
        if (stop && !::IsWindowEnabled(stop) && ::IsWindowEnabled(analyze)) return 0;
      }
      ::Sleep(100);
    }
    return Fail("timed out");
  }
  HWND main = FindMain();
  if (!main && cmd != "press") return Fail("no Vantrel window");
  if (cmd == "title") {
    std::printf("%s\n", Text(main).c_str());
  } else if (cmd == "rows") {
    HWND list = FindControl(main, 1100);
    CRemote remote(list, 4096);
    if (!list || !remote.Ok()) return Fail("no drive list");
    const int rows = static_cast<int>(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < rows; ++row) {
      const LRESULT state = ::SendMessageA(list, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK);
      std::printf("%s", ((state & LVIS_STATEIMAGEMASK) >> 12) == 2 ? "[x]" : "[ ]");
      for (int col = 0; col < 8; ++col)
        std::printf("\t%s", CellText(list, remote, row, col).c_str());
      std::printf("\n");
    }
  } else if (cmd == "check" && argc > 2) {
    HWND list = FindControl(main, 1100);
    CRemote remote(list, sizeof(RECT));
    if (!list || !remote.Ok()) return Fail("no drive list");
    RECT r = {};
    r.left = LVIR_BOUNDS;
    remote.Write(0, &r, sizeof(r));
    ::SendMessageA(list, LVM_GETITEMRECT, std::atoi(argv[2]),
                   reinterpret_cast<LPARAM>(remote.Address()));
    remote.Read(0, &r, sizeof(r));
    POINT pt = {r.left + 9, (r.top + r.bottom) / 2};
    ::ClientToScreen(list, &pt);
    ::SetForegroundWindow(main);
    // The point on the screen; the caller may click it from outside.
    std::printf("%ld %ld\n", pt.x, pt.y);
    if (!std::getenv("VT_CLICK_OUTSIDE")) Click(pt.x, pt.y);
  } else if (cmd == "click" && argc > 2) {
    HWND button = FindControl(main, std::atoi(argv[2]));
    if (!button) return Fail("no such control");
    ::PostMessageA(button, BM_CLICK, 0, 0);
  } else if (cmd == "text" && argc > 2) {
    HWND ctl = FindControl(main, std::atoi(argv[2]));
    if (!ctl) return Fail("no such control");
    std::printf("%s\n", Text(ctl).c_str());
  } else if (cmd == "tab") {
    std::printf("%d\n",
                static_cast<int>(::SendMessageA(FindControl(main, 1055), TCM_GETCURSEL, 0, 0)));
  } else if (cmd == "enabled") {
    std::printf("%d\n", ::IsWindowEnabled(main) ? 1 : 0);
  } else if (cmd == "close") {
    ::PostMessageA(main, WM_CLOSE, 0, 0);
  } else if (cmd == "dialog-checked" && argc > 3) {
    HWND dlg = FindDialog(argv[2]);
    if (!dlg) return Fail("no such dialog");
    std::printf("%d\n", ::IsDlgButtonChecked(dlg, std::atoi(argv[3])) == BST_CHECKED ? 1 : 0);
  } else if (cmd == "press" && argc > 3) {
    HWND dlg = FindDialog(argv[2]);
    if (!dlg) return Fail("no such dialog");
    ::PostMessageA(::GetDlgItem(dlg, std::atoi(argv[3])), BM_CLICK, 0, 0);
  } else {
    // The map's, the status bar's, the menus' and the file page's commands.
    int rc = RunMapCommand(main, argc, argv);
    if (rc < 0) rc = RunWindowCommand(main, argc, argv);
    return rc >= 0 ? rc : Fail("unknown command");
  }
  return 0;
}
