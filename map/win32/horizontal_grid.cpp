#include "map/win32/horizontal_grid.h"

#include <windowsx.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/globals.h"
#include "map/block_painter.h"
#include "map/map_colours.h"
#include "map/overview.h"
#include "map/win32/map_balloon.h"
#include "map/win32/wnd_graph.h"
#include "widgets/dialog_base.h"

namespace vt {

namespace {

const char kStripClass[] = "VantrelOverviewStrip";
// In 96-DPI pixels, scaled to the window's DPI: the frame's band above and
// below the image, and the width of the marker's and the edge's lines.
constexpr int kInset = 4;
constexpr int kLine = 1;

COLORREF Ref(CRgb c) { return RGB(c.r, c.g, c.b); }

}  // namespace

CHorizontalGrid::~CHorizontalGrid() {
  if (m_hImage) ::DeleteObject(m_hImage);
}

bool CHorizontalGrid::Create(HWND mainWnd, HWND frame, CWndGraph* graph) {
  HINSTANCE inst = ::GetModuleHandleA(nullptr);
  WNDCLASSA wc = {};
  wc.lpfnWndProc = &CHorizontalGrid::WndProc;
  wc.hInstance = inst;
  wc.hCursor = nullptr;  // chosen in WM_SETCURSOR
  wc.lpszClassName = kStripClass;
  ::RegisterClassA(&wc);
  m_hFrame = frame;
  m_pGraph = graph;
  ::ShowWindow(frame, SW_HIDE);
  m_hWnd = ::CreateWindowExA(0, kStripClass, "", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, mainWnd,
                             nullptr, inst, this);
  FitFrame();
  return m_hWnd != nullptr;
}

void CHorizontalGrid::FitFrame() {
  if (!m_hWnd) return;
  RECT r;
  ::GetWindowRect(m_hFrame, &r);
  HWND parent = ::GetParent(m_hWnd);
  ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  ::MoveWindow(m_hWnd, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
}

RECT CHorizontalGrid::ImageRect() const {
  RECT r;
  ::GetClientRect(m_hWnd, &r);
  const int inset = ScaleToDpi(kInset, WindowDpi(m_hWnd));
  r.top += inset;
  r.bottom -= inset;
  if (r.bottom < r.top) r.bottom = r.top;
  return r;
}

LRESULT CALLBACK CHorizontalGrid::WndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  CHorizontalGrid* self = WindowObject(wnd, msg, lParam, &CHorizontalGrid::m_hWnd);
  return self ? self->OnMessage(msg, wParam, lParam) : ::DefWindowProcA(wnd, msg, wParam, lParam);
}

void CHorizontalGrid::OnSize() {
  if (m_hImage) ::DeleteObject(m_hImage);
  m_hImage = nullptr;
  m_pBits = nullptr;
  m_nSamples = 0;
  m_nFirst = m_nLast = 0;
  const RECT r = ImageRect();
  m_image.cx = r.right - r.left;
  m_image.cy = r.bottom - r.top;
  if (m_image.cx > 0 && m_image.cy > 0) {
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = m_image.cx;
    bi.bmiHeader.biHeight = -m_image.cy;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    m_hImage = ::CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    m_pBits = static_cast<uint32_t*>(bits);
  }
  CreateGrid();
}

void CHorizontalGrid::CreateGrid() {
  const CMapSnapshot snap = m_map.Snapshot();
  if (!m_pBits || !snap || snap->Length() == 0) {
    if (m_hWnd) ::InvalidateRect(m_hWnd, nullptr, FALSE);
    return;
  }
  CTimeIt timer("CHorizontalGrid::CreateGrid");
  const int w = m_image.cx;
  const int h = m_image.cy;
  const std::vector<CRgb> columns = SampleOverview(snap.get(), w);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      m_pBits[static_cast<size_t>(y) * w + x] =
          CBlockPainter::Pixel(columns[static_cast<size_t>(x)]);
  // The raised edge: light top and left, dark bottom and right.
  const int e = std::max(1, ScaleToDpi(kLine, WindowDpi(m_hWnd))) - 1;
  auto line = [&](int x0, int y0, int x1, int y1, CRgb c) {
    for (int y = std::max(y0, 0); y <= std::min(y1, h - 1); ++y)
      for (int x = std::max(x0, 0); x <= std::min(x1, w - 1); ++x)
        m_pBits[static_cast<size_t>(y) * w + x] = CBlockPainter::Pixel(c);
  };
  line(0, 0, w - 1, e, CRgb{227, 227, 227});
  line(0, 0, e, h - 1, CRgb{227, 227, 227});
  line(0, h - 1 - e, w - 1, h - 1, CRgb{105, 105, 105});
  line(w - 1 - e, 0, w - 1, h - 1, CRgb{105, 105, 105});
  m_nSamples = static_cast<int>(
      std::max<uint64_t>(1, OverviewSampling(snap->Length(), w).m_nSamplesPerColumn));
  ::InvalidateRect(m_hWnd, nullptr, FALSE);
}

void CHorizontalGrid::SetRange(uint64_t first, uint64_t last) {
  m_nFirst = first;
  m_nLast = last;
  ::InvalidateRect(m_hWnd, nullptr, FALSE);
}

void CHorizontalGrid::OnPaint() {
  PAINTSTRUCT ps;
  HDC dc = ::BeginPaint(m_hWnd, &ps);
  RECT client;
  ::GetClientRect(m_hWnd, &client);
  // Drawn off screen and copied once, so the marker does not flicker.
  HDC mem = ::CreateCompatibleDC(dc);
  HBITMAP buffer = ::CreateCompatibleBitmap(dc, client.right, client.bottom);
  HGDIOBJ oldBuffer = ::SelectObject(mem, buffer);
  HBRUSH blue = ::CreateSolidBrush(Ref(kWindowBackground));
  ::FillRect(mem, &client, blue);
  ::DeleteObject(blue);
  const RECT image = ImageRect();
  const CMapSnapshot snap = m_map.Snapshot();
  if (!snap || snap->Length() == 0 || !m_hImage || m_nSamples == 0) {
    HBRUSH grey = ::CreateSolidBrush(Ref(kMapBackground));
    ::FillRect(mem, &image, grey);
    ::DeleteObject(grey);
  } else {
    HDC src = ::CreateCompatibleDC(dc);
    HGDIOBJ old = ::SelectObject(src, m_hImage);
    ::BitBlt(mem, image.left, image.top, m_image.cx, m_image.cy, src, 0, 0, SRCCOPY);
    ::SelectObject(src, old);
    ::DeleteDC(src);
    int left = 0, right = 0;
    if (!m_map.IsCompressed() &&
        OverviewMarker(snap->Length(), m_image.cx, m_nFirst, m_nLast, &left, &right)) {
      // Two frames of one line each, the outer one a line wider to each side.
      HBRUSH marker = ::CreateSolidBrush(Ref(kOverviewMarker));
      const int lineWidth = std::max(1, ScaleToDpi(kLine, WindowDpi(m_hWnd)));
      auto frame = [&](RECT r) {
        for (int i = 0; i < lineWidth && r.right - r.left > 0 && r.bottom - r.top > 0; ++i) {
          ::FrameRect(mem, &r, marker);
          ::InflateRect(&r, -1, -1);
        }
      };
      frame(RECT{left, 0, right, client.bottom});
      frame(RECT{std::max(left - lineWidth, 0), 0, std::min<LONG>(right + lineWidth, m_image.cx),
                 client.bottom});
      ::DeleteObject(marker);
    }
  }
  ::BitBlt(dc, 0, 0, client.right, client.bottom, mem, 0, 0, SRCCOPY);
  ::SelectObject(mem, oldBuffer);
  ::DeleteObject(buffer);
  ::DeleteDC(mem);
  ::EndPaint(m_hWnd, &ps);
}

void CHorizontalGrid::MoveMapTo(int x) {
  if (!m_pGraph || m_map.IsCompressed() || m_map.IsEmpty() || m_image.cx <= 0) return;
  x = std::min(std::max(x, 0), static_cast<int>(m_image.cx) - 1);
  const uint64_t perColumn = m_map.Length() / static_cast<uint64_t>(m_image.cx);
  m_pGraph->EnsureVisible(static_cast<uint64_t>(x) * perColumn, false);
}

LRESULT CHorizontalGrid::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_SIZE:
      OnSize();
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      OnPaint();
      return 0;
    case WM_SETCURSOR:
      ::SetCursor(::LoadCursor(nullptr, m_nSamples > 0 && !m_map.IsEmpty() ? IDC_HAND : IDC_ARROW));
      return TRUE;
    case WM_LBUTTONDOWN:
      if (m_map.IsEmpty() || !m_pGraph) return 0;
      if (m_map.IsCompressed()) m_pGraph->SetCompressed(false);
      MoveMapTo(GET_X_LPARAM(lParam));
      ::SetCapture(m_hWnd);
      m_bDragging = true;
      return 0;
    case WM_MOUSEMOVE:
      if (m_bDragging) MoveMapTo(GET_X_LPARAM(lParam));
      return 0;
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
      if (m_bDragging) {
        m_bDragging = false;
        if (msg == WM_LBUTTONUP) ::ReleaseCapture();
      }
      return 0;
  }
  return ::DefWindowProcA(m_hWnd, msg, wParam, lParam);
}

void DrawLegendButton(const DRAWITEMSTRUCT* item, int mapClass, COLORREF background) {
  HDC dc = item->hDC;
  RECT r = item->rcItem;
  HBRUSH back = ::CreateSolidBrush(background);
  ::FillRect(dc, &r, back);
  ::DeleteObject(back);
  // The swatch fills its button, 12 x 12 at 96 DPI and larger above.
  const int kSide = std::max(4, static_cast<int>(std::min(r.right - r.left, r.bottom - r.top)));
  const int step = std::max(1, 12 * 12 / kSide);  // the same lightening top to bottom
  const int top = r.top;
  const int left = r.left;
  CRgb c = LegendColour(mapClass);
  for (int row = 0; row < kSide; ++row) {
    RECT line = {left, top + row, left + kSide, top + row + 1};
    HBRUSH b = ::CreateSolidBrush(Ref(c));
    ::FillRect(dc, &line, b);
    ::DeleteObject(b);
    auto up = [step](uint8_t v) {
      return static_cast<uint8_t>(v + step >= 256 || v >= 244 ? 255 : v + step);
    };
    c = CRgb{up(c.r), up(c.g), up(c.b)};
  }
  auto edge = [&](int x0, int y0, int x1, int y1, COLORREF colour) {
    RECT e = {x0, y0, x1, y1};
    HBRUSH b = ::CreateSolidBrush(colour);
    ::FillRect(dc, &e, b);
    ::DeleteObject(b);
  };
  edge(left, top, left + kSide, top + 1, RGB(0, 0, 0));
  edge(left, top, left + 1, top + kSide, RGB(0, 0, 0));
  edge(left + 1, top + kSide - 2, left + kSide - 1, top + kSide - 1, RGB(255, 255, 255));
  edge(left + kSide - 2, top + 1, left + kSide - 1, top + kSide - 1, RGB(255, 255, 255));
}

namespace {

// "Arial" 14 pixels at 96 DPI, one font for each DPI asked for (the
// program runs at one or two).
HFONT LegendFont(int dpi) {
  static int s_dpi[4] = {};
  static HFONT s_font[4] = {};
  for (int i = 0; i < 4; ++i) {
    if (s_font[i] && s_dpi[i] == dpi) return s_font[i];
    if (!s_font[i]) {
      s_font[i] = ::CreateFontA(-ScaleToDpi(14, dpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, "Arial");
      s_dpi[i] = dpi;
      return s_font[i];
    }
  }
  return s_font[3];
}

}  // namespace

int LegendTextWidth(HWND wnd, const char* text) {
  HDC dc = ::GetDC(wnd);
  HGDIOBJ old = ::SelectObject(dc, LegendFont(WindowDpi(wnd)));
  SIZE size = {0, 0};
  ::GetTextExtentPoint32A(dc, text, static_cast<int>(std::strlen(text)), &size);
  ::SelectObject(dc, old);
  ::ReleaseDC(wnd, dc);
  return size.cx;
}

int LegendSwatchSide(HWND wnd) { return ScaleToDpi(12, WindowDpi(wnd)); }

void DrawLegendText(HDC dc, const RECT& swatch, const char* text) {
  const int dpi = WindowDpi(::WindowFromDC(dc));
  HGDIOBJ oldFont = ::SelectObject(dc, LegendFont(dpi));
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, RGB(255, 255, 255));
  const int gap = ScaleToDpi(3, dpi);
  RECT t = {swatch.right + gap, swatch.top - ScaleToDpi(1, dpi),
            swatch.right + gap + ScaleToDpi(200, dpi), swatch.bottom + ScaleToDpi(10, dpi)};
  ::DrawTextA(dc, text, -1, &t, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
  ::SelectObject(dc, oldFont);
}

}  // namespace vt
