#include "widgets/rich_edit_gs.h"

#include <richedit.h>

#include <cstring>

namespace vt {

namespace {

struct CStreamBuffer {
  const std::string* in = nullptr;
  size_t pos = 0;
  std::string* out = nullptr;
};

DWORD CALLBACK ReadCallback(DWORD_PTR cookie, LPBYTE buffer, LONG size, LONG* done) {
  auto* s = reinterpret_cast<CStreamBuffer*>(cookie);
  const size_t left = s->in->size() - s->pos;
  const size_t n = left < static_cast<size_t>(size) ? left : static_cast<size_t>(size);
  std::memcpy(buffer, s->in->data() + s->pos, n);
  s->pos += n;
  *done = static_cast<LONG>(n);
  return 0;
}

DWORD CALLBACK WriteCallback(DWORD_PTR cookie, LPBYTE buffer, LONG size, LONG* done) {
  auto* s = reinterpret_cast<CStreamBuffer*>(cookie);
  s->out->append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(size));
  *done = size;
  return 0;
}

}  // namespace

bool CRichEditCtrlGS::Create(HWND parent, int id, const RECT& rect, DWORD style) {
  m_hWnd = ::CreateWindowExA(0, RICHEDIT_CLASSA, "", style, rect.left, rect.top,
                             rect.right - rect.left, rect.bottom - rect.top, parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                             ::GetModuleHandleA(nullptr), nullptr);
  return m_hWnd != nullptr;
}

void CRichEditCtrlGS::Destroy() {
  if (m_hWnd) ::DestroyWindow(m_hWnd);
  m_hWnd = nullptr;
}

void CRichEditCtrlGS::SetLeftMargin(int pixels) {
  m_nLeftMargin = pixels;
  ::SendMessageA(m_hWnd, EM_SETMARGINS, EC_LEFTMARGIN, MAKELONG(pixels, 0));
}

void CRichEditCtrlGS::ApplyFormat(DWORD mask, DWORD effects, int height, COLORREF colour,
                                  const char* face) {
  CHARFORMATA cf;
  static_assert(sizeof(CHARFORMATA) == 60, "CHARFORMAT");
  std::memset(&cf, 0, sizeof(cf));
  cf.cbSize = sizeof(cf);
  cf.dwMask = mask;
  cf.dwEffects = effects;
  cf.yHeight = height;
  cf.crTextColor = colour;
  if (face) lstrcpynA(cf.szFaceName, face, 32);
  ::SendMessageA(m_hWnd, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&cf));
}

void CRichEditCtrlGS::SetBold(bool on) { ApplyFormat(CFM_BOLD, on ? CFE_BOLD : 0, 0, 0, nullptr); }
void CRichEditCtrlGS::SetUnderline(bool on) {
  ApplyFormat(CFM_UNDERLINE, on ? CFE_UNDERLINE : 0, 0, 0, nullptr);
}
void CRichEditCtrlGS::SetColour(COLORREF colour) { ApplyFormat(CFM_COLOR, 0, 0, colour, nullptr); }
void CRichEditCtrlGS::SetPointSize(int points) {
  ApplyFormat(CFM_SIZE, 0, points * 20, 0, nullptr);
  // A font change resets the margins.
  SetLeftMargin(m_nLeftMargin);
}
void CRichEditCtrlGS::SetFace(const std::string& face) {
  ApplyFormat(CFM_FACE, 0, 0, 0, face.substr(0, 31).c_str());
}

void CRichEditCtrlGS::StreamIn(const std::string& bytes) {
  const bool rtf = bytes.size() > 5 && _strnicmp(bytes.c_str(), "{\\rtf", 5) == 0;
  CStreamBuffer s;
  s.in = &bytes;
  EDITSTREAM es = {reinterpret_cast<DWORD_PTR>(&s), 0, &ReadCallback};
  ::SendMessageA(m_hWnd, EM_STREAMIN, rtf ? SF_RTF : SF_TEXT, reinterpret_cast<LPARAM>(&es));
  SetLeftMargin(m_nLeftMargin);
}

std::string CRichEditCtrlGS::StreamOutRtf() const {
  std::string out;
  CStreamBuffer s;
  s.out = &out;
  EDITSTREAM es = {reinterpret_cast<DWORD_PTR>(&s), 0, &WriteCallback};
  ::SendMessageA(m_hWnd, EM_STREAMOUT, SF_RTF, reinterpret_cast<LPARAM>(&es));
  return out;
}

std::string CRichEditCtrlGS::PlainText() const {
  GETTEXTLENGTHEX len = {GTL_USECRLF | GTL_NUMBYTES, CP_ACP};
  const LRESULT n = ::SendMessageA(m_hWnd, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&len), 0);
  if (n <= 0) return std::string();
  std::string text(static_cast<size_t>(n) + 1, '\0');
  GETTEXTEX get = {static_cast<DWORD>(text.size()), GT_USECRLF, CP_ACP, nullptr, nullptr};
  const LRESULT got = ::SendMessageA(m_hWnd, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&get),
                                     reinterpret_cast<LPARAM>(&text[0]));
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return text;
}

void CRichEditCtrlGS::ScrollToEnd() {
  const LRESULT n = ::SendMessageA(m_hWnd, WM_GETTEXTLENGTH, 0, 0);
  ::SendMessageA(m_hWnd, EM_SETSEL, n, n);
  ::SendMessageA(m_hWnd, EM_SCROLLCARET, 0, 0);
}

}  // namespace vt
