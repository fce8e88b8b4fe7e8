#include "widgets/check_combo.h"

#include <commctrl.h>

#include <string>

namespace vt {

namespace {
constexpr UINT_PTR kSubclassId = 0x7643;
}

CCheckCombo::~CCheckCombo() {
  if (m_hWnd && ::IsWindow(m_hWnd)) ::RemoveWindowSubclass(m_hWnd, &ComboProc, kSubclassId);
  if (m_hList && ::IsWindow(m_hList)) ::RemoveWindowSubclass(m_hList, &ListProc, kSubclassId);
}

void CCheckCombo::Attach(HWND combo) {
  m_hWnd = combo;
  ::SetWindowSubclass(combo, &ComboProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
  COMBOBOXINFO info = {};
  info.cbSize = sizeof(info);
  if (::GetComboBoxInfo(combo, &info) && info.hwndList) {
    m_hList = info.hwndList;
    ::SetWindowSubclass(m_hList, &ListProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
  }
}

void CCheckCombo::Reset() {
  ::SendMessageA(m_hWnd, CB_RESETCONTENT, 0, 0);
  m_checks.clear();
}

int CCheckCombo::AddItem(const char* text, LPARAM data, bool checked) {
  const int item =
      static_cast<int>(::SendMessageA(m_hWnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)));
  if (item < 0) return item;
  ::SendMessageA(m_hWnd, CB_SETITEMDATA, item, data);
  if (m_checks.size() <= static_cast<size_t>(item)) m_checks.resize(item + 1, false);
  m_checks[item] = checked;
  return item;
}

int CCheckCombo::Count() const {
  return static_cast<int>(::SendMessageA(m_hWnd, CB_GETCOUNT, 0, 0));
}

bool CCheckCombo::IsChecked(int item) const {
  return item >= 0 && static_cast<size_t>(item) < m_checks.size() && m_checks[item];
}

void CCheckCombo::SetCheck(int item, bool on) {
  if (item < 0 || item >= Count()) return;
  if (m_checks.size() <= static_cast<size_t>(item)) m_checks.resize(item + 1, false);
  m_checks[item] = on;
  ::InvalidateRect(m_hWnd, nullptr, FALSE);
  if (m_hList) ::InvalidateRect(m_hList, nullptr, FALSE);
}

LPARAM CCheckCombo::ItemData(int item) const {
  return ::SendMessageA(m_hWnd, CB_GETITEMDATA, item, 0);
}

void CCheckCombo::Show(int item) { ::SendMessageA(m_hWnd, CB_SETCURSEL, item, 0); }

void CCheckCombo::ShowFirstChecked() {
  for (int i = 0; i < Count(); ++i)
    if (IsChecked(i)) return Show(i);
  Show(Count() > 0 ? 0 : -1);
}

void CCheckCombo::Toggle(int item) {
  SetCheck(item, !IsChecked(item));
  HWND owner = ::GetParent(m_hWnd);
  ::SendMessageA(owner, WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(m_hWnd), CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(m_hWnd));
}

bool CCheckCombo::DrawItem(const DRAWITEMSTRUCT* item) {
  if (item->hwndItem != m_hWnd) return false;
  HDC dc = item->hDC;
  RECT r = item->rcItem;
  const bool selected = (item->itemState & ODS_SELECTED) != 0;
  ::FillRect(dc, &r, ::GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
  if (item->itemID == static_cast<UINT>(-1)) return true;
  const int height = r.bottom - r.top;
  const bool inEdit = (item->itemState & ODS_COMBOBOXEDIT) != 0;
  if (!inEdit) {
    RECT box = {r.left + 2, r.top + 1, r.left + height - 1, r.bottom - 1};
    ::DrawFrameControl(dc, &box, DFC_BUTTON,
                       DFCS_BUTTONCHECK | DFCS_FLAT |
                           (IsChecked(static_cast<int>(item->itemID)) ? DFCS_CHECKED : 0));
    r.left += height + 2;
  } else {
    r.left += 2;
  }
  const LRESULT length = ::SendMessageA(m_hWnd, CB_GETLBTEXTLEN, item->itemID, 0);
  std::string text(length > 0 ? static_cast<size_t>(length) + 1 : 1, '\0');
  if (length > 0)
    ::SendMessageA(m_hWnd, CB_GETLBTEXT, item->itemID, reinterpret_cast<LPARAM>(&text[0]));
  text.resize(length > 0 ? static_cast<size_t>(length) : 0);
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, ::GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
  ::DrawTextA(dc, text.c_str(), -1, &r, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
  if (item->itemState & ODS_FOCUS) ::DrawFocusRect(dc, &item->rcItem);
  return true;
}

LRESULT CALLBACK CCheckCombo::ComboProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                        DWORD_PTR ref) {
  auto* self = reinterpret_cast<CCheckCombo*>(ref);
  switch (msg) {
    case CCM_SETCHECK:
      self->SetCheck(static_cast<int>(wParam), lParam != 0);
      self->ShowFirstChecked();
      {
        HWND owner = ::GetParent(wnd);
        ::SendMessageA(owner, WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(wnd), CBN_SELCHANGE),
                       reinterpret_cast<LPARAM>(wnd));
      }
      return TRUE;
    case CCM_GETCHECK:
      return self->IsChecked(static_cast<int>(wParam)) ? 1 : 0;
    case WM_CHAR:
      // Space toggles the shown item while the list is closed.
      if (wParam == ' ') {
        self->Toggle(static_cast<int>(::SendMessageA(wnd, CB_GETCURSEL, 0, 0)));
        return 0;
      }
      break;
    default:
      break;
  }
  return ::DefSubclassProc(wnd, msg, wParam, lParam);
}

LRESULT CALLBACK CCheckCombo::ListProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                       DWORD_PTR ref) {
  auto* self = reinterpret_cast<CCheckCombo*>(ref);
  if (msg == WM_LBUTTONDOWN || msg == WM_LBUTTONDBLCLK) {
    POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    RECT client;
    ::GetClientRect(wnd, &client);
    if (::PtInRect(&client, pt)) {
      const LRESULT hit = ::SendMessageA(wnd, LB_ITEMFROMPOINT, 0, lParam);
      if (HIWORD(hit) == 0) {
        self->Toggle(LOWORD(hit));
        return 0;  // the list stays open
      }
    }
  } else if (msg == WM_LBUTTONUP) {
    POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    RECT client;
    ::GetClientRect(wnd, &client);
    if (::PtInRect(&client, pt)) return 0;
  } else if (msg == WM_CHAR && wParam == ' ') {
    self->Toggle(static_cast<int>(::SendMessageA(wnd, LB_GETCURSEL, 0, 0)));
    return 0;
  }
  return ::DefSubclassProc(wnd, msg, wParam, lParam);
}

}  // namespace vt
