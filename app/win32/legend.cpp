#include "app/win32/legend.h"

#include <algorithm>

#include "map/map_colours.h"
#include "map/map_state.h"
#include "resources/resource.h"
#include "widgets/dialog_base.h"

namespace vt {

namespace {

struct CLegendEntry {
  int id;
  int mapClass;
};
const CLegendEntry kEntries[] = {{IDC_LEGEND_FREE, CMC_FREE},
                                 {IDC_LEGEND_UNMOVABLE, CMC_UNMOVABLE},
                                 {IDC_LEGEND_FRAGMENTED, CMC_FRAGMENTED},
                                 {IDC_LEGEND_DEFRAGGED, CMC_DEFRAGGED},
                                 {IDC_LEGEND_SELECTED, CMC_SELECTED},
                                 {IDC_LEGEND_NOT_FRAGMENTED, CMC_NOT_FRAGMENTED}};

void Fill(HDC dc, int x0, int y0, int x1, int y1, COLORREF colour) {
  RECT r = {x0, y0, x1, y1};
  HBRUSH b = ::CreateSolidBrush(colour);
  ::FillRect(dc, &r, b);
  ::DeleteObject(b);
}

std::wstring ItemText(HWND item) {
  wchar_t text[64] = {};
  ::GetWindowTextW(item, text, 64);
  return text;
}

}  // namespace

CLegend::~CLegend() {
  if (m_hFont) ::DeleteObject(m_hFont);
}

int CLegend::Swatch() const { return ScaleForDpi(12, m_nDpi); }

HFONT CLegend::Font() const {
  if (!m_hFont || m_nFontDpi != m_nDpi) {
    if (m_hFont) ::DeleteObject(m_hFont);
    m_hFont = ::CreateFontA(-ScaleForDpi(14, m_nDpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                            DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                            DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, "Arial");
    m_nFontDpi = m_nDpi;
  }
  return m_hFont;
}

void CLegend::Attach(HWND parent) {
  m_hParent = parent;
  m_nDpi = WindowDpi(parent);
  for (const CLegendEntry& e : kEntries) {
    HWND item = ::GetDlgItem(parent, e.id);
    ::SetWindowPos(item, nullptr, 0, 0, Swatch(), Swatch(), SWP_NOMOVE | SWP_NOZORDER);
    ::EnableWindow(item, FALSE);  // a swatch, not a button to press
  }
}

int CLegend::RowHeight() const { return Swatch() + ScaleForDpi(4, m_nDpi); }

void CLegend::Layout(int clientWidth, int y) {
  m_nDpi = WindowDpi(m_hParent);
  HDC dc = ::GetDC(m_hParent);
  HGDIOBJ old = ::SelectObject(dc, Font());
  int widths[6] = {};
  int total = 0;
  for (int i = 0; i < 6; ++i) {
    const std::wstring text = ItemText(::GetDlgItem(m_hParent, kEntries[i].id));
    SIZE size = {0, 0};
    ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    widths[i] = Swatch() + ScaleForDpi(3, m_nDpi) + size.cx + ScaleForDpi(16, m_nDpi);
    total += widths[i];
  }
  ::SelectObject(dc, old);
  ::ReleaseDC(m_hParent, dc);
  int x = std::max(5, (clientWidth - total) / 2);
  for (int i = 0; i < 6; ++i) {
    ::MoveWindow(::GetDlgItem(m_hParent, kEntries[i].id), x, y, Swatch(), Swatch(), TRUE);
    x += widths[i];
  }
}

bool CLegend::DrawSwatch(const DRAWITEMSTRUCT* item) const {
  const CLegendEntry* entry = nullptr;
  for (const CLegendEntry& e : kEntries)
    if (static_cast<UINT>(e.id) == item->CtlID) entry = &e;
  if (!entry) return false;
  HDC dc = item->hDC;
  const RECT& r = item->rcItem;
  const int side = std::min(r.right - r.left, r.bottom - r.top);
  const int left = r.left, top = r.top;
  // The class colour, a little lighter each 96-DPI pixel row down.
  CRgb c = LegendColour(entry->mapClass);
  for (int row = 0; row < side; ++row) {
    const int step = 12 * (row * 96 / std::max(1, m_nDpi));
    auto up = [step](uint8_t v) { return static_cast<uint8_t>(std::min(255, v + step)); };
    Fill(dc, left, top + row, left + side, top + row + 1, RGB(up(c.r), up(c.g), up(c.b)));
  }
  const int edge = std::max(1, ScaleForDpi(1, m_nDpi));
  Fill(dc, left, top, left + side, top + edge, RGB(0, 0, 0));
  Fill(dc, left, top, left + edge, top + side, RGB(0, 0, 0));
  Fill(dc, left + edge, top + side - 2 * edge, left + side - edge, top + side - edge,
       RGB(255, 255, 255));
  Fill(dc, left + side - 2 * edge, top + edge, left + side - edge, top + side - edge,
       RGB(255, 255, 255));
  return true;
}

void CLegend::DrawTexts(HDC dc) const {
  HGDIOBJ old = ::SelectObject(dc, Font());
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, RGB(255, 255, 255));
  for (const CLegendEntry& e : kEntries) {
    HWND item = ::GetDlgItem(m_hParent, e.id);
    const RECT s = ChildRect(m_hParent, item);
    const std::wstring text = ItemText(item);
    RECT t = {s.right + ScaleForDpi(3, m_nDpi), s.top - ScaleForDpi(2, m_nDpi),
              s.right + ScaleForDpi(300, m_nDpi), s.bottom + ScaleForDpi(6, m_nDpi)};
    ::DrawTextW(dc, text.c_str(), -1, &t, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  }
  ::SelectObject(dc, old);
}

}  // namespace vt
