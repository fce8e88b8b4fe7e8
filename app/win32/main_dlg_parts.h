// CMainDlg's declaration, for the files that make up the main window:
// main_dlg.cpp (start, tabs, messages), main_layout.cpp (resize, splitter,
// minimum size) and main_view.cpp (background, legend, range and view
// labels). The status bar, the splitter bar, the legend and the help page
// are parts of their own.
#pragma once

#include <windows.h>

#include <string>

#include "app/main_window_logic.h"
#include "app/win32/help_page.h"
#include "app/win32/legend.h"
#include "app/win32/shared_windows.h"
#include "app/win32/status_bar.h"
#include "widgets/dialog_base.h"

namespace vt {

class CMainDlg : public CDialogBase {
 public:
  explicit CMainDlg(CSharedWindows& shared);
  INT_PTR Run();

 private:
  INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
  const char* HelpTopic() const override;

  // main_dlg.cpp
  void OnInit();
  void SetIcons();
  void CreatePages();
  void ShowTab(int index);
  void OnTabChange();
  void OnCopyData(const COPYDATASTRUCT* data);
  void OnHandOffMessage(int action);
  void OpenFilesRequest(const std::string& text);
  void OnDefragFreeNow();
  void OnTimer(UINT_PTR id);
  void OnDestroy();
  INT_PTR OnCommand(WPARAM wParam);

  // main_layout.cpp
  void Layout(int width, int height);
  void LayoutMap();
  void PlaceSliderRow();
  void OnSplitter(int d);
  void OnMinMaxInfo(MINMAXINFO* info);

  // main_view.cpp
  void PaintBackground(HDC dc);
  INT_PTR OnControlColour(HDC dc, HWND control);
  void OnRangeChanged();
  void OnViewChanged();
  void OnSlider(WPARAM wParam);

  CSharedWindows& m_shared;
  CDriveDlg& m_drivePage;
  ClusterMap& m_map;
  CHorizontalGrid& m_strip;
  CWndGraph& m_graph;
  CFileDlg& m_filePage;
  CHelpPage m_helpPage;
  CStatusBar m_status;
  CLegend m_legend;
  HWND m_hTabs = nullptr;
  HWND m_hSplitter = nullptr;
  HWND m_pages[4] = {};
  CTabPages m_tabPages;
  CLayoutSize m_layout;
  CDeferredStart m_freeSpace;
  std::string m_strHandOff;  // a hand-off's text until its posted handling
  int m_nTab = 0;
  int m_nWheelLines = 3;
  int m_nBlockSize = 7;
  bool m_bCompressed = true;
  HBITMAP m_hBand = nullptr;
  HBRUSH m_hBackground = nullptr;
};

// The window's background (0, 0, 221).
COLORREF MainBackground();

}  // namespace vt
