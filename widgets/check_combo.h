// CCheckCombo: a drop-down list whose items carry check marks. Clicking an
// item (or Space on it) toggles its mark and keeps the list open; the owner
// hears CBN_SELCHANGE. Other processes (the scenario driver) can set and read
// marks with the two messages below.
#pragma once

#include <windows.h>

#include <vector>

#include "platform/ui_sink.h"

namespace vt {

// wParam: item; lParam: 1 check, 0 clear. Returns TRUE.
constexpr UINT CCM_SETCHECK = UM_CCM_SETCHECK;
// wParam: item. Returns 1 when checked.
constexpr UINT CCM_GETCHECK = UM_CCM_GETCHECK;

class CCheckCombo {
 public:
  CCheckCombo() = default;
  ~CCheckCombo();
  CCheckCombo(const CCheckCombo&) = delete;
  CCheckCombo& operator=(const CCheckCombo&) = delete;

  // The combo must be CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS.
  void Attach(HWND combo);
  HWND Handle() const { return m_hWnd; }

  void Reset();
  int AddItem(const char* text, LPARAM data, bool checked);
  int Count() const;
  bool IsChecked(int item) const;
  void SetCheck(int item, bool on);
  LPARAM ItemData(int item) const;
  // The closed box shows this item.
  void Show(int item);
  // The first checked item shown again (when the list closes).
  void ShowFirstChecked();

  // WM_DRAWITEM and WM_MEASUREITEM from the owner; true when it was ours.
  bool DrawItem(const DRAWITEMSTRUCT* item);

 private:
  static LRESULT CALLBACK ComboProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  static LRESULT CALLBACK ListProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  void Toggle(int item);

  HWND m_hWnd = nullptr;
  HWND m_hList = nullptr;
  std::vector<bool> m_checks;
};

}  // namespace vt
