// The main window's look: its background and bands, the colours of its
// labels, the range and view labels and the block-size slider.
#include <windows.h>
#include <commctrl.h>

#include "app/win32/main_dlg_parts.h"
#include "app/win32/pellworth_app.h"
#include "base/text.h"
#include "engine/globals.h"
#include "map/map_colours.h"
#include "resources/resource.h"

namespace vt {

COLORREF MainBackground() {
  return RGB(kWindowBackground.r, kWindowBackground.g, kWindowBackground.b);
}

void CMainDlg::PaintBackground(HDC dc) {
  RECT client;
  ::GetClientRect(m_hWnd, &client);
  ::FillRect(dc, &client, m_hBackground);
  if (!m_hBand) return;
  HDC mem = ::CreateCompatibleDC(dc);
  HGDIOBJ old = ::SelectObject(mem, m_hBand);
  BITMAP bm = {};
  ::GetObjectA(m_hBand, sizeof(bm), &bm);
  const RECT strip = ItemRect(Item(IDC_OVERVIEW_FRAME));
  const RECT map = ItemRect(Item(IDC_MAP_FRAME));
  const RECT status = ItemRect(m_status.Handle());
  ::SetStretchBltMode(dc, COLORONCOLOR);
  ::StretchBlt(dc, 0, strip.bottom, client.right, map.top - strip.bottom, mem, 0, 0, bm.bmWidth,
               bm.bmHeight, SRCCOPY);
  ::StretchBlt(dc, 0, map.bottom, client.right, status.top - map.bottom, mem, 0, 0, bm.bmWidth,
               bm.bmHeight, SRCCOPY);
  ::SelectObject(mem, old);
  ::DeleteDC(mem);
  // The DC may be a child's: a themed tab control has its parent paint
  // behind its selected tab, then draws the label with what is left selected.
  const int saved = ::SaveDC(dc);
  m_legend.DrawTexts(dc);
  ::RestoreDC(dc, saved);
}

INT_PTR CMainDlg::OnControlColour(HDC dc, HWND control) {
  if (::GetParent(control) != m_hWnd) return FALSE;
  ::SetTextColor(dc, RGB(255, 255, 255));
  ::SetBkColor(dc, MainBackground());
  return reinterpret_cast<INT_PTR>(m_hBackground);
}

void CMainDlg::OnRangeChanged() {
  const CVisibleRange range = m_graph.VisibleRange();
  const CMapGeometry g = m_graph.Geometry();
  const CRangeLabels labels = MakeRangeLabels(range.m_nFirst, range.m_nLast, g.ClustersPerRow(),
                                              static_cast<uint64_t>(g.VisibleRows()));
  const struct {
    int id;
    uint64_t value;
  } shown[] = {{IDC_RANGE_TOP_LEFT, labels.m_nTopLeft},
               {IDC_RANGE_TOP_RIGHT, labels.m_nTopRight},
               {IDC_RANGE_BOTTOM_LEFT, labels.m_nBottomLeft},
               {IDC_RANGE_BOTTOM_RIGHT, labels.m_nBottomRight}};
  for (const auto& label : shown)
    SetItemTextUtf8(m_hWnd, label.id, Format("%llu", static_cast<unsigned long long>(label.value)));
  m_strip.SetRange(range.m_nFirst, range.m_nLast);
  // The slider gives up the keyboard focus; a focus anywhere else stays.
  if (::GetFocus() == Item(IDC_BLOCK_SLIDER)) ::SetFocus(m_hTabs);
}

void CMainDlg::OnViewChanged() {
  m_nBlockSize = m_map.BlockSize();
  m_bCompressed = m_map.IsCompressed();
  SetItemTextUtf8(m_hWnd, IDC_BLOCK_LABEL, BlockSizeLabel(static_cast<unsigned>(m_nBlockSize)));
  ::SendMessageA(Item(IDC_BLOCK_SLIDER), TBM_SETPOS, TRUE, m_nBlockSize);
  ::CheckDlgButton(m_hWnd, IDC_COMPRESSED, m_bCompressed ? BST_CHECKED : BST_UNCHECKED);
  const CVisibleRange range = m_graph.VisibleRange();
  const CDriveData* drive = CurrentDrive();
  SetItemTextUtf8(
      m_hWnd, IDC_VIEW_TEXT,
      ViewDescription(m_bCompressed, static_cast<unsigned>(m_graph.Geometry().ClustersPerBlock()),
                      range.m_nFirst, range.m_nLast, drive ? drive->m_nDiskSize : 0,
                      drive ? drive->m_dwBytesPerCluster : 0));
  // The row is centred again for the description's new width.
  PlaceSliderRow();
  RECT client;
  ::GetClientRect(m_hWnd, &client);
  const RECT slider = ItemRect(Item(IDC_BLOCK_SLIDER));
  const RECT row = {0, slider.top - Scale(4), client.right, slider.bottom + Scale(2)};
  ::RedrawWindow(m_hWnd, &row, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void CMainDlg::OnSlider(WPARAM wParam) {
  m_nBlockSize = SliderPosition(LOWORD(wParam), HIWORD(wParam), m_nBlockSize);
  ::SendMessageA(Item(IDC_BLOCK_SLIDER), TBM_SETPOS, TRUE, m_nBlockSize);
  if (m_nBlockSize != m_map.BlockSize()) m_graph.SetBlockSize(m_nBlockSize);
  OnViewChanged();
}

}  // namespace vt
