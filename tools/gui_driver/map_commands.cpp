// The driver's commands for the cluster map, its strip, the status bar,
// popup menus and the fragmented-file page:
//
//   map-rect | strip-rect        the window's client origin on the screen and size
//   pane N                       the status bar's pane N
//   menu-rect                    the open popup menu's screen rectangle
//   files                        the file list: selection mark and cells per row
//   file-select ROW[,ROW...]     selects those rows (the others lose it)
//   file-point ROW | header-point COL   screen points on the file list
//   resize W H                   the main window's size, at the desktop's top left
//   set-text ID TEXT             sets a control's text (an edit sends EN_CHANGE)
//   block N                      moves the block-size slider to N, as a drag would
//   tab-point N | ctl-rect ID    a tab's screen point; a control's screen rectangle
//   checked ID                   1 when a check box is checked, else 0
//   balloon                      the map's balloon, when shown: its screen
//                                rectangle and title
//   focus                        the control id of the program's keyboard focus
//   combo-select ID N            selects entry N of a combo box as the user would
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

namespace {

struct CFindClass {
  const char* name;
  HWND found;
};

BOOL CALLBACK FindByClass(HWND wnd, LPARAM param) {
  auto* f = reinterpret_cast<CFindClass*>(param);
  char cls[64] = {};
  ::GetClassNameA(wnd, cls, sizeof(cls));
  if (std::strcmp(cls, f->name) == 0 && ::IsWindowVisible(wnd)) {
    f->found = wnd;
    return FALSE;
  }
  return TRUE;
}

HWND ChildByClass(HWND top, const char* name) {
  CFindClass f = {name, nullptr};
  ::EnumChildWindows(top, &FindByClass, reinterpret_cast<LPARAM>(&f));
  return f.found;
}

HWND TopByClass(const char* name) {
  CFindClass f = {name, nullptr};
  ::EnumWindows(&FindByClass, reinterpret_cast<LPARAM>(&f));
  return f.found;
}

struct CFindId {
  int id;
  HWND found;
};

BOOL CALLBACK FindId(HWND wnd, LPARAM param) {
  auto* f = reinterpret_cast<CFindId*>(param);
  if (::GetDlgCtrlID(wnd) == f->id) {
    f->found = wnd;
    return FALSE;
  }
  return TRUE;
}

HWND Control(HWND top, int id) {
  CFindId f = {id, nullptr};
  ::EnumChildWindows(top, &FindId, reinterpret_cast<LPARAM>(&f));
  return f.found;
}

// Memory in the program's process for the controls' replies.
class CRemoteMemory {
 public:
  CRemoteMemory(HWND wnd, size_t size) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(wnd, &pid);
    m_process =
        ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (m_process) m_mem = ::VirtualAllocEx(m_process, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
  }
  ~CRemoteMemory() {
    if (m_mem) ::VirtualFreeEx(m_process, m_mem, 0, MEM_RELEASE);
    if (m_process) ::CloseHandle(m_process);
  }
  bool Ok() const { return m_mem != nullptr; }
  char* At(size_t offset = 0) const { return static_cast<char*>(m_mem) + offset; }
  void Write(size_t offset, const void* data, size_t n) {
    ::WriteProcessMemory(m_process, At(offset), data, n, nullptr);
  }
  void Read(size_t offset, void* data, size_t n) {
    ::ReadProcessMemory(m_process, At(offset), data, n, nullptr);
  }

 private:
  HANDLE m_process = nullptr;
  void* m_mem = nullptr;
};

int Fail(const char* what) {
  std::fprintf(stderr, "vt-gui-driver: %s\n", what);
  return 1;
}

int PrintClientRect(HWND wnd) {
  if (!wnd) return Fail("no such window");
  RECT r;
  ::GetClientRect(wnd, &r);
  POINT origin = {0, 0};
  ::ClientToScreen(wnd, &origin);
  std::printf("%ld %ld %ld %ld\n", origin.x, origin.y, r.right, r.bottom);
  return 0;
}

std::string ListCell(HWND list, CRemoteMemory& remote, int row, int col) {
  LVITEMA item = {};
  item.iSubItem = col;
  item.cchTextMax = 512;
  item.pszText = remote.At(sizeof(LVITEMA));
  remote.Write(0, &item, sizeof(item));
  ::SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(remote.At()));
  char text[513] = {};
  remote.Read(sizeof(LVITEMA), text, 512);
  return text;
}

}  // namespace

// -1: not a command of this file.
int RunMapCommand(HWND main, int argc, char** argv) {
  const std::string cmd = argv[1];
  HWND list = Control(main, 1201);
  if (cmd == "map-rect") return PrintClientRect(ChildByClass(main, "VantrelClusterMap"));
  if (cmd == "strip-rect") return PrintClientRect(ChildByClass(main, "VantrelOverviewStrip"));
  if (cmd == "pane" && argc > 2) {
    HWND bar = Control(main, 1090);
    CRemoteMemory remote(bar, 1024);
    if (!bar || !remote.Ok()) return Fail("no status bar");
    ::SendMessageA(bar, SB_GETTEXTA, std::atoi(argv[2]), reinterpret_cast<LPARAM>(remote.At()));
    char text[1024] = {};
    remote.Read(0, text, sizeof(text) - 1);
    std::printf("%s\n", text);
    return 0;
  }
  if (cmd == "menu-rect") {
    // The menu's items live in the program's process; its window does not.
    HWND popup = TopByClass("#32768");
    if (!popup) return Fail("no open menu");
    RECT r;
    ::GetWindowRect(popup, &r);
    std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    return 0;
  }
  if (cmd == "files") {
    CRemoteMemory remote(list, 4096);
    if (!list || !remote.Ok()) return Fail("no file list");
    const int rows = static_cast<int>(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < rows; ++row) {
      const LRESULT state = ::SendMessageA(list, LVM_GETITEMSTATE, row, LVIS_SELECTED);
      std::printf("%s", (state & LVIS_SELECTED) ? "[*]" : "[ ]");
      for (int col = 0; col < 7; ++col)
        std::printf("\t%s", ListCell(list, remote, row, col).c_str());
      std::printf("\n");
    }
    return 0;
  }
  if (cmd == "file-select" && argc > 2) {
    CRemoteMemory remote(list, sizeof(LVITEMA));
    if (!list || !remote.Ok()) return Fail("no file list");
    auto setState = [&](int row, UINT state) {
      LVITEMA item = {};
      item.stateMask = LVIS_SELECTED;
      item.state = state;
      remote.Write(0, &item, sizeof(item));
      ::SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                     reinterpret_cast<LPARAM>(remote.At()));
    };
    setState(-1, 0);
    std::stringstream rows(argv[2]);
    std::string one;
    while (std::getline(rows, one, ',')) setState(std::atoi(one.c_str()), LVIS_SELECTED);
    return 0;
  }
  if ((cmd == "file-point" || cmd == "header-point") && argc > 2) {
    HWND target = list;
    UINT msg = LVM_GETITEMRECT;
    if (cmd == "header-point") {
      target = reinterpret_cast<HWND>(::SendMessageA(list, LVM_GETHEADER, 0, 0));
      msg = HDM_GETITEMRECT;
    }
    CRemoteMemory remote(target, sizeof(RECT));
    if (!target || !remote.Ok()) return Fail("no file list");
    RECT r = {};
    r.left = LVIR_LABEL;
    remote.Write(0, &r, sizeof(r));
    ::SendMessageA(target, msg, static_cast<WPARAM>(std::atoi(argv[2])),
                   reinterpret_cast<LPARAM>(remote.At()));
    remote.Read(0, &r, sizeof(r));
    POINT pt = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    ::ClientToScreen(target, &pt);
    std::printf("%ld %ld\n", pt.x, pt.y);
    return 0;
  }
  if (cmd == "resize" && argc > 3) {
    ::SetWindowPos(main, nullptr, 8, 8, std::atoi(argv[2]), std::atoi(argv[3]), SWP_NOZORDER);
    return 0;
  }
  if (cmd == "set-text" && argc > 3) {
    HWND ctl = Control(main, std::atoi(argv[2]));
    if (!ctl) return Fail("no such control");
    ::SendMessageA(ctl, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[3]));
    return 0;
  }
  if (cmd == "block" && argc > 2) {
    HWND slider = Control(main, 2100);
    if (!slider) return Fail("no slider");
    ::SendMessageA(main, WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, std::atoi(argv[2])),
                   reinterpret_cast<LPARAM>(slider));
    return 0;
  }
  if (cmd == "tab-point" && argc > 2) {
    HWND tabs = Control(main, 1055);
    CRemoteMemory remote(tabs, sizeof(RECT));
    if (!tabs || !remote.Ok()) return Fail("no tabs");
    ::SendMessageA(tabs, TCM_GETITEMRECT, std::atoi(argv[2]),
                   reinterpret_cast<LPARAM>(remote.At()));
    RECT r = {};
    remote.Read(0, &r, sizeof(r));
    POINT pt = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    ::ClientToScreen(tabs, &pt);
    std::printf("%ld %ld\n", pt.x, pt.y);
    return 0;
  }
  if (cmd == "ctl-rect" && argc > 2) {
    HWND ctl = Control(main, std::atoi(argv[2]));
    if (!ctl) return Fail("no such control");
    RECT r;
    ::GetWindowRect(ctl, &r);
    std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    return 0;
  }
  if (cmd == "balloon") {
    HWND balloon = TopByClass("VantrelMapBalloon");
    if (!balloon) return Fail("no balloon shown");
    RECT r;
    ::GetWindowRect(balloon, &r);
    char title[256] = {};
    ::GetWindowTextA(balloon, title, sizeof(title));
    std::printf("%ld %ld %ld %ld %s\n", r.left, r.top, r.right - r.left, r.bottom - r.top, title);
    return 0;
  }
  if (cmd == "focus") {
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(main, nullptr), &info))
      return Fail("no thread information");
    char cls[64] = {};
    if (info.hwndFocus) ::GetClassNameA(info.hwndFocus, cls, sizeof(cls));
    std::printf("%d %s\n", info.hwndFocus ? ::GetDlgCtrlID(info.hwndFocus) : 0, cls);
    return 0;
  }
  if (cmd == "combo-select" && argc > 3) {
    HWND combo = Control(main, std::atoi(argv[2]));
    if (!combo) return Fail("no such control");
    ::SendMessageA(combo, CB_SETCURSEL, std::atoi(argv[3]), 0);
    ::SendMessageA(::GetParent(combo), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(combo), CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(combo));
    return 0;
  }
  if (cmd == "checked" && argc > 2) {
    HWND ctl = Control(main, std::atoi(argv[2]));
    if (!ctl) return Fail("no such control");
    std::printf("%d\n", ::SendMessageA(ctl, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0);
    return 0;
  }
  return -1;
}
