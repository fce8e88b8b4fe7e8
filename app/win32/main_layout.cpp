// The main window's layout: the resize, the map band, the slider row, the
// splitter and the minimum size.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>

#include "app/win32/main_dlg_parts.h"
#include "app/win32/pellworth_app.h"
#include "resources/resource.h"

namespace vt {

void CMainDlg::Layout(int width, int height) {
  int dx = 0, dy = 0;
  if (!m_layout.Resize(width, height, &dx, &dy)) return;
  if (dx || dy) {
    MoveBy(m_hTabs, 0, 0, dx, 0);
    for (HWND page : m_pages) MoveBy(page, 0, 0, dx, 0);
    m_drivePage.Grow(dx, 0);
    m_filePage.Grow(dx, 0);
    App().ReportPage().Grow(dx, 0);
    MoveBy(Item(IDC_MAP_FRAME), 0, 0, 0, dy);
    MoveBy(Item(IDC_MAP_SCROLL), 0, 0, 0, dy);
  }
  if (m_hSplitter) {
    const RECT s = ItemRect(m_hSplitter);
    ::MoveWindow(m_hSplitter, 0, s.top, width, s.bottom - s.top, TRUE);
  }
  m_status.Layout(width);
  LayoutMap();
  // Everything is drawn again at its new place, children included, so no
  // control is left painted where it was before.
  ::RedrawWindow(m_hWnd, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
}

// The block-size label, slider, check box and view description centred in
// one row at their own height; the view description as wide as its text.
void CMainDlg::PlaceSliderRow() {
  RECT client;
  ::GetClientRect(m_hWnd, &client);
  const int ids[] = {IDC_BLOCK_LABEL, IDC_BLOCK_SLIDER, IDC_COMPRESSED, IDC_VIEW_TEXT};
  int widths[4];
  int total = 0;
  const int gap = Scale(6);
  for (int i = 0; i < 4; ++i) {
    const RECT r = ItemRect(Item(ids[i]));
    widths[i] = r.right - r.left;
  }
  {
    wchar_t text[256] = {};
    ::GetWindowTextW(Item(IDC_VIEW_TEXT), text, 256);
    char utf8[1024] = {};
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof(utf8), nullptr, nullptr);
    widths[3] = std::max(Scale(40), TextWidthUtf8(Item(IDC_VIEW_TEXT), utf8) + Scale(8));
  }
  for (int w : widths) total += w + gap;
  int x = CentredRowLeft(client.right, total - gap, Scale(5));
  for (int i = 0; i < 4; ++i) {
    HWND item = Item(ids[i]);
    const RECT r = ItemRect(item);
    ::MoveWindow(item, x, r.top, widths[i], r.bottom - r.top, TRUE);
    x += widths[i] + gap;
  }
}

void CMainDlg::LayoutMap() {
  RECT client;
  ::GetClientRect(m_hWnd, &client);
  const int margin = Scale(5);
  PlaceSliderRow();
  HWND strip = Item(IDC_OVERVIEW_FRAME);
  RECT sr = ItemRect(strip);
  const int stripTop = ItemRect(Item(IDC_BLOCK_SLIDER)).bottom + Scale(2);
  ::MoveWindow(strip, margin, stripTop, client.right - 2 * margin, sr.bottom - sr.top, TRUE);
  sr = ItemRect(strip);
  const RECT status = ItemRect(m_status.Handle());
  const RECT topLabel = ItemRect(Item(IDC_RANGE_TOP_LEFT));
  const RECT bottomLabel = ItemRect(Item(IDC_RANGE_BOTTOM_LEFT));
  const int h = topLabel.bottom - topLabel.top;
  const int labelWidth = topLabel.right - topLabel.left;
  const int rightLabelLeft = client.right - Scale(22) - labelWidth;
  // Labels and legend sit on the decorative bands above and below the map.
  ::MoveWindow(Item(IDC_RANGE_TOP_LEFT), margin, sr.bottom + 2, labelWidth, h, TRUE);
  ::MoveWindow(Item(IDC_RANGE_TOP_RIGHT), rightLabelLeft, sr.bottom + 2, labelWidth, h, TRUE);
  const int bandTop = sr.bottom + 2 + h + 2;
  const int legendTop = status.top - m_legend.RowHeight() - Scale(2);
  const int bottomLabelTop = legendTop - 2 - (bottomLabel.bottom - bottomLabel.top);
  m_legend.Layout(client.right, legendTop);
  ::MoveWindow(Item(IDC_RANGE_BOTTOM_LEFT), margin, bottomLabelTop, labelWidth, h, TRUE);
  ::MoveWindow(Item(IDC_RANGE_BOTTOM_RIGHT), rightLabelLeft, bottomLabelTop, labelWidth, h, TRUE);
  const int mapBottom = bottomLabelTop - 2;
  const RECT scroll = ItemRect(Item(IDC_MAP_SCROLL));
  const int sbw = scroll.right - scroll.left;
  ::MoveWindow(Item(IDC_MAP_SCROLL), client.right - sbw - margin, bandTop, sbw, mapBottom - bandTop,
               TRUE);
  const int width = MapFrameWidth(client.right - margin, sbw + 2, margin, m_nBlockSize);
  ::MoveWindow(Item(IDC_MAP_FRAME), margin, bandTop, width, mapBottom - bandTop, TRUE);
  m_graph.FitFrame();
  m_strip.FitFrame();
}

void CMainDlg::OnSplitter(int d) {
  const RECT tabs = ItemRect(m_hTabs);
  const RECT map = ItemRect(Item(IDC_MAP_FRAME));
  // The pages keep 120 pixels and the map 40.
  if (tabs.bottom - tabs.top + d < 120) d = 120 - (tabs.bottom - tabs.top);
  if (map.bottom - map.top - d < 40) d = map.bottom - map.top - 40;
  if (!d) return;
  MoveBy(m_hTabs, 0, 0, 0, d);
  for (HWND page : m_pages) MoveBy(page, 0, 0, 0, d);
  m_drivePage.Grow(0, d);
  m_filePage.Grow(0, d);
  App().ReportPage().Grow(0, d);
  MoveBy(m_hSplitter, 0, d, 0, 0);
  for (int id : {IDC_BLOCK_LABEL, IDC_BLOCK_SLIDER, IDC_COMPRESSED, IDC_VIEW_TEXT})
    MoveBy(Item(id), 0, d, 0, 0);
  LayoutMap();
  ::RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void CMainDlg::OnMinMaxInfo(MINMAXINFO* info) {
  info->ptMinTrackSize.x = kMinWindowWidth;
  info->ptMinTrackSize.y = kMinWindowHeight;
  if (!m_hWnd || !m_layout.Started()) return;
  RECT map = {};
  ::GetClientRect(Item(IDC_MAP_FRAME), &map);
  RECT window;
  ::GetWindowRect(m_hWnd, &window);
  info->ptMinTrackSize.y = MinTrackHeight(map.bottom - map.top, window.bottom - window.top);
}

}  // namespace vt
