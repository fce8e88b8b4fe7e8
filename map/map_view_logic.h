// What the map window decides, apart from the window: scrolling and
// bringing clusters into view, the fragment jumps and the context menu's
// state, the pointer texts and the balloon of a click.
#pragma once

#include <cstdint>
#include <string>

#include "map/map_geometry.h"

namespace vt {

class CDefrag;
class CFileItem;

// The scroll position that shows `cluster`: its row near the middle
// (centre) or on the top row (jump). False when it is shown already (then
// nothing scrolls) and always in the compressed view.
bool EnsureVisiblePosition(const CMapGeometry& g, uint64_t position, uint64_t cluster, bool jump,
                           uint64_t* newPosition);

enum class MapScroll { LineUp, LineDown, PageUp, PageDown, PageDownKey, Top, Bottom, Thumb };
// The new position for a scroll request, within 0 .. g.ScrollMax().
uint64_t ScrolledPosition(const CMapGeometry& g, uint64_t position, MapScroll how,
                          uint64_t thumb = 0);

// The fragment of `file` covering `cluster`, and the starts of the first
// fragment (in the file's order) below and above it. False when no
// fragment covers the cluster.
struct CFragmentJumps {
  bool m_bPrevious = false;
  bool m_bNext = false;
  uint64_t m_nPrevious = 0;
  uint64_t m_nNext = 0;
};
bool FragmentJumps(const CFileItem& file, uint64_t cluster, CFragmentJumps* jumps);

// The context menu: what is enabled and checked.
struct CGridMenuState {
  bool m_bFileCommands = false;  // "Defrag file", "Explore", "Properties"
  bool m_bNext = false;
  bool m_bPrevious = false;
  bool m_bCompressedChecked = false;
  int m_nBlockChecked = 0;  // 1..10
};
CGridMenuState GridMenuState(bool compressed, int blockSize, bool haveFile,
                             const CFragmentJumps& jumps);

// Menu commands of the map's context menu (menu 132).
enum : int {
  ID_GRID_DEFRAG_FILE = 32771,
  ID_GRID_BLOCK_1 = 32773,  // .. 32782 for 10x
  ID_GRID_EXPLORE = 32783,
  ID_GRID_PROPERTIES = 32784,
  ID_GRID_COMPRESSED = 32802,
  ID_GRID_NEXT_FRAGMENT = 32811,
  ID_GRID_PREVIOUS_FRAGMENT = 32821,
};

// The status texts for the pointer over `cluster`: "cluster: %I64d" for
// pane 1 (code 6), and the owner's text (code 1), or none (code 0 clears).
struct CPointerText {
  std::string m_strCluster;
  int m_nCode = 0;  // 1: m_strText; 0: clear the status bar
  std::string m_strText;
};
CPointerText PointerText(const CDefrag& engine, uint32_t bytesPerCluster, bool compressed,
                         uint64_t cluster);

// The balloon of a left click on `cluster`; false when nothing covers it.
// `file` receives the owning file, or null for a run (then `run` holds it).
struct CBalloon {
  std::string m_strTitle;
  std::string m_strBody;
  const CFileItem* m_pFile = nullptr;
  uint64_t m_nRunLcn = 0;
  uint32_t m_nRunClusters = 0;
  uint32_t m_nRunState = 0;
};
bool ClickBalloon(const CDefrag& engine, uint32_t bytesPerCluster, uint64_t cluster,
                  CBalloon* balloon);

// A left click on `cluster`, or (drag) the pointer moved to it with the
// left button held: what the window does. In the compressed view the map
// switches to the uncompressed view with the cluster on the top row, and
// nothing else happens. Otherwise the balloon names what covers the
// cluster; only the click itself selects it, so a drag keeps the selection
// the click made while the balloon follows the pointer.
struct CMapClick {
  bool m_bUncompress = false;
  bool m_bSelect = false;   // clear the selection, then select the balloon's owner
  bool m_bBalloon = false;  // show m_balloon at the point
  CBalloon m_balloon;
};
CMapClick LeftClick(const CDefrag& engine, uint32_t bytesPerCluster, bool compressed,
                    uint64_t cluster, bool drag);

// The scroll a key asks for (Page Up, Page Down, Home, End); false for any
// other key. Keys scroll as the scroll bar does, pointer text and all.
bool KeyScroll(int virtualKey, MapScroll* how);

// The scroll position after the window's size changed from `before` to
// `after`: the cluster that began the top row stays on the top row. A size
// with no whole block (a minimised window) keeps the position as it is.
uint64_t PositionAfterResize(const CMapGeometry& before, uint64_t position,
                             const CMapGeometry& after);

// The text of a free-space run's state: "Free", "System", "Unmoveable", "Unknown".
const char* RunStateName(uint32_t state);

}  // namespace vt
