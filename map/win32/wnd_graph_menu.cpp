// The map window's context menu and the "Defrag file" worker it starts.
#include <string>
#include <thread>

#include "app/settings_file.h"
#include "engine/globals.h"
#include "map/win32/wnd_graph.h"
#include "pages/drive_page.h"
#include "pages/file_page.h"
#include "resources/resource.h"
#include "widgets/dialog_base.h"

namespace vt {

void CWndGraph::OnRightButton(int x, int y) {
  if (m_map.IsEmpty() || BusyCounter().load() > 0) return;
  HideBalloon();
  m_map.ClearSelection();
  ::InvalidateRect(m_hWnd, nullptr, FALSE);
  PointerText(x, y);
  ::SendMessageA(m_hMain, UM_PROGRESS, PROGRESS_REPAINT, 0);
  const bool compressed = m_map.IsCompressed();
  const uint64_t c = Geometry().ClusterAtPoint(x, y, compressed ? 0 : m_nPosition);
  m_map.SetRightClickCluster(c);
  const CFileItem* file = m_engine.FindFileAtCluster(c);
  m_nMenuItem = file ? static_cast<size_t>(file - &m_engine.m_files[0]) : SIZE_MAX;
  CFragmentJumps jumps;
  if (file && !compressed) {
    m_map.SelectFile(*file);
    FragmentJumps(*file, c, &jumps);
    ::UpdateWindow(m_hWnd);
  }
  const CGridMenuState state = GridMenuState(compressed, m_map.BlockSize(), file != nullptr, jumps);
  HMENU menu = ::LoadMenuA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDM_GRID_POPUP));
  if (!menu) return;
  HMENU popup = ::GetSubMenu(menu, 0);
  auto enable = [&](int id, bool on) {
    ::EnableMenuItem(popup, id, MF_BYCOMMAND | (on ? MF_ENABLED : MF_GRAYED));
  };
  enable(ID_GRID_DEFRAG_FILE, state.m_bFileCommands);
  enable(ID_GRID_EXPLORE, state.m_bFileCommands);
  enable(ID_GRID_PROPERTIES, state.m_bFileCommands);
  enable(ID_GRID_NEXT_FRAGMENT, state.m_bNext);
  enable(ID_GRID_PREVIOUS_FRAGMENT, state.m_bPrevious);
  ::CheckMenuItem(popup, ID_GRID_COMPRESSED,
                  MF_BYCOMMAND | (state.m_bCompressedChecked ? MF_CHECKED : MF_UNCHECKED));
  ::CheckMenuItem(popup, ID_GRID_BLOCK_1 + state.m_nBlockChecked - 1, MF_BYCOMMAND | MF_CHECKED);
  POINT pt = {x + 20, y};
  ::ClientToScreen(m_hWnd, &pt);
  const int cmd = ::TrackPopupMenu(popup, TPM_RIGHTBUTTON | TPM_RETURNCMD | TPM_NONOTIFY, pt.x,
                                   pt.y, 0, m_hWnd, nullptr);
  ::DestroyMenu(menu);
  if (cmd == ID_GRID_DEFRAG_FILE) {
    m_nDefragItem = m_nMenuItem;
    StartDefragFile();
  } else if (cmd >= ID_GRID_BLOCK_1 && cmd < ID_GRID_BLOCK_1 + 10) {
    SetBlockSize(cmd - ID_GRID_BLOCK_1 + 1);
  } else if (cmd == ID_GRID_EXPLORE) {
    ShellOnFile(true);
  } else if (cmd == ID_GRID_PROPERTIES) {
    ShellOnFile(false);
  } else if (cmd == ID_GRID_COMPRESSED) {
    SetCompressed(!compressed);
  } else if (cmd == ID_GRID_NEXT_FRAGMENT) {
    EnsureVisible(jumps.m_nNext, true);
  } else if (cmd == ID_GRID_PREVIOUS_FRAGMENT) {
    EnsureVisible(jumps.m_nPrevious, true);
  }
}

void CWndGraph::ShellOnFile(bool explore) {
  if (m_nMenuItem >= m_engine.m_files.GetSize()) return;
  ShellOnPath(m_hMain, ShellTargetPath(m_engine, m_engine.m_files[m_nMenuItem], explore), explore);
}

void CWndGraph::StartDefragFile() {
  // The busy cursor belongs to this (the window's) thread; the worker hands
  // it back through UM_MAP_DEFRAGGED.
  m_hDefragCursor = ::SetCursor(::LoadCursor(nullptr, IDC_WAIT));
  std::thread([this]() { DefragFileThread(); }).detach();
}

void CWndGraph::DefragFileThread() {
  const size_t item = m_nDefragItem;
  m_nDefragItem = SIZE_MAX;
  if (item < m_engine.m_files.GetSize()) {
    const int mode = SettingsFile().DefragFileMode();
    ::SetWindowTextA(m_hMain, OperationTitle(CurrentDrive(), "Defragging File").c_str());
    {
      COperationScope scope(m_engine);
      ::SendMessageA(m_hMain, UM_ENABLE_CONTROLS, 0, 0);
      m_map.ClearMarks();
      DefragFileItems(m_engine, {item}, mode == 1 ? OuterTrack : BestFit);
      ::SendMessageA(m_hMain, UM_ENABLE_CONTROLS, 1, 0);
      const CFileItem& file = m_engine.m_files[item];
      const std::string name = file.m_strName;
      const std::string path = m_engine.GetItemPath(file);
      for (CFileItem& f : m_engine.m_files)
        if (f.m_strName == name && m_engine.GetItemPath(f) == path)
          ::PostMessageA(m_hMain, UM_FILE_DEFRAGGED, 0, reinterpret_cast<LPARAM>(&f));
      Progress(PROGRESS_RESET, "");
      Progress(PROGRESS_TEXT, "Finished");
    }
    ::SetWindowTextA(m_hMain, BaseTitle(CurrentDrive()).c_str());
  }
  ::PostMessageA(m_hWnd, UM_MAP_DEFRAGGED, 0, 0);
}

}  // namespace vt
