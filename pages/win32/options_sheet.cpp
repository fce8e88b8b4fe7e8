// The options sheet, its General and Custom Defrag Options pages, and the
// help topics. The pages only move values between their controls and the
// controllers in pages/.
#include "pages/win32/options_sheet.h"

#include <commctrl.h>
#include <prsht.h>

#include <string>

#include "app/settings_file.h"
#include "app/win32/pellworth_app.h"
#include "pages/custom_defrag_options.h"
#include "pages/win32/scheduler_dlg.h"
#include "resources/resource.h"
#include "widgets/check_combo.h"
#include "widgets/dialog_base.h"

namespace vt {

void OpenHelpTopic(const char* topic) { ShowHelpTopic(App().MainWindow(), topic); }

bool PageHelp(UINT msg, WPARAM wParam, LPARAM lParam, const char* topic) {
  const bool asked = msg == WM_HELP || (msg == WM_COMMAND && LOWORD(wParam) == ID_HELP_TOPIC) ||
                     (msg == WM_NOTIFY && reinterpret_cast<const NMHDR*>(lParam)->code == PSN_HELP);
  if (asked) OpenHelpTopic(topic);
  return asked;
}

namespace {

void SetResult(HWND page, LONG_PTR result) { ::SetWindowLongPtrA(page, DWLP_MSGRESULT, result); }

// --- General ----------------------------------------------------------------

class CGeneralPageDlg {
 public:
  static INT_PTR CALLBACK Proc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = PageObject<CGeneralPageDlg>(wnd, msg, lParam);
    return self ? self->OnMessage(wnd, msg, wParam, lParam) : FALSE;
  }

 private:
  INT_PTR OnMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (PageHelp(msg, wParam, lParam, "OptionsTab.htm")) return TRUE;
    switch (msg) {
      case WM_INITDIALOG: {
        m_hWnd = wnd;
        SYSTEM_INFO info = {};
        ::GetSystemInfo(&info);
        m_page.Load(SettingsFile(), info.dwNumberOfProcessors, m_host.IsRegistered());
        m_cpus.Attach(::GetDlgItem(wnd, IDC_CPU_LIST));
        for (size_t i = 0; i < m_page.CpuCount(); ++i)
          m_cpus.AddItem(m_page.CpuText(i).c_str(), static_cast<LPARAM>(i), m_page.CpuChecked(i));
        m_cpus.Show(m_page.ShownCpu());
        HWND priority = ::GetDlgItem(wnd, IDC_PRIORITY);
        for (const auto& item : kPriorityItems) {
          const LRESULT at =
              ::SendMessageA(priority, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.m_pszText));
          ::SendMessageA(priority, CB_SETITEMDATA, at, item.m_dwClass);
        }
        ::SendMessageA(priority, CB_SETCURSEL, m_page.Priority(), 0);
        ::CheckDlgButton(wnd, IDC_SHELL_EXTENSION,
                         m_page.ShellExtension() ? BST_CHECKED : BST_UNCHECKED);
        ::CheckDlgButton(wnd, IDC_SAVE_LOG_FILES,
                         m_page.SaveLogFiles() ? BST_CHECKED : BST_UNCHECKED);
        return TRUE;
      }
      case WM_MEASUREITEM:
        return FALSE;
      case WM_DRAWITEM:
        return m_cpus.DrawItem(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      case WM_COMMAND:
        if (LOWORD(wParam) == IDC_CPU_LIST && HIWORD(wParam) == CBN_CLOSEUP)
          m_cpus.ShowFirstChecked();
        return FALSE;
      case WM_NOTIFY: {
        const NMHDR* hdr = reinterpret_cast<const NMHDR*>(lParam);
        if (hdr->code == PSN_APPLY) {
          for (int i = 0; i < m_cpus.Count(); ++i) m_page.SetCpuChecked(i, m_cpus.IsChecked(i));
          m_page.SelectPriority(
              static_cast<int>(::SendDlgItemMessageA(wnd, IDC_PRIORITY, CB_GETCURSEL, 0, 0)));
          m_page.SetShellExtension(::IsDlgButtonChecked(wnd, IDC_SHELL_EXTENSION) == BST_CHECKED);
          m_page.SetSaveLogFiles(::IsDlgButtonChecked(wnd, IDC_SAVE_LOG_FILES) == BST_CHECKED);
          SettingsFile settings;
          int focus = 0;
          CWindowPrompt prompt(::GetParent(wnd));  // the sheet's, not the main window's
          if (!m_page.Apply(settings, m_host, prompt, &focus)) {
            if (focus) ::SetFocus(::GetDlgItem(wnd, focus));
            SetResult(wnd, PSNRET_INVALID_NOCHANGEPAGE);
          } else {
            SetResult(wnd, PSNRET_NOERROR);
          }
          return TRUE;
        }
        return FALSE;
      }
      default:
        return FALSE;
    }
  }

  HWND m_hWnd = nullptr;
  COptionsPage m_page;
  CCheckCombo m_cpus;
  CShellExtensionHost m_host;
};

// --- Custom Defrag Options ---------------------------------------------------

const int kOptionButtons[] = {IDC_OPT_ALL_FILES, IDC_OPT_BY_SIZE, IDC_OPT_BY_PERCENT,
                              IDC_OPT_ONLY_TYPES, IDC_OPT_EXCLUDE_TYPES};

class CCustomDefragDlg {
 public:
  static INT_PTR CALLBACK Proc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = PageObject<CCustomDefragDlg>(wnd, msg, lParam);
    return self ? self->OnMessage(wnd, msg, wParam, lParam) : FALSE;
  }

 private:
  void ShowTypes() {
    HWND list = ::GetDlgItem(m_hWnd, IDC_TYPE_LIST);
    ::SendMessageA(list, LB_RESETCONTENT, 0, 0);
    for (const auto& type : m_options.Types())
      ::SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(type.c_str()));
    ::SendMessageA(list, LB_SETCURSEL, m_options.SelectedType(), 0);
    const bool on = m_options.TypeListEnabled();
    for (int id : {IDC_TYPE_LIST, IDC_EXTENSIONS, IDC_TYPE_ADD, IDC_TYPE_REMOVE})
      ::EnableWindow(::GetDlgItem(m_hWnd, id), on);
  }

  INT_PTR OnMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (PageHelp(msg, wParam, lParam, "CustomDefragTab.htm")) return TRUE;
    switch (msg) {
      case WM_INITDIALOG: {
        m_hWnd = wnd;
        m_options.Load(SettingsFile());
        ::SendDlgItemMessageA(wnd, IDC_PERCENT_SPIN, UDM_SETBUDDY,
                              reinterpret_cast<WPARAM>(::GetDlgItem(wnd, IDC_PERCENT)), 0);
        ::SendDlgItemMessageA(wnd, IDC_PERCENT_SPIN, UDM_SETRANGE32, 0, 99);
        ::SendDlgItemMessageA(wnd, IDC_PERCENT_SPIN, UDM_SETPOS32, 0, m_options.Percent());
        ::SetDlgItemTextA(wnd, IDC_PERCENT, m_options.SetPercent(m_options.Percent()).c_str());
        HWND sizes = ::GetDlgItem(wnd, IDC_SIZE_LIST);
        for (const auto& entry : kSizeEntries)
          ::SendMessageA(sizes, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.m_pszText));
        ::SendMessageA(sizes, CB_SETCURSEL, m_options.SizeIndex(), 0);
        ::CheckRadioButton(wnd, IDC_OPT_ALL_FILES, IDC_OPT_EXCLUDE_TYPES, m_options.Option());
        ::CheckDlgButton(wnd, IDC_MAKE_ROOM, m_options.MakeRoom() ? BST_CHECKED : BST_UNCHECKED);
        HWND known = ::GetDlgItem(wnd, IDC_EXTENSIONS);
        for (const auto& ext : KnownExtensions(HostClassKeys()))
          ::SendMessageA(known, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(ext.c_str()));
        ShowTypes();
        return TRUE;
      }
      case WM_COMMAND: {
        const int id = LOWORD(wParam);
        for (int option : kOptionButtons)
          if (id == option && HIWORD(wParam) == BN_CLICKED) {
            m_options.ChooseOption(option, SettingsFile());
            ShowTypes();
          }
        if (id == IDC_SIZE_LIST && HIWORD(wParam) == CBN_SELCHANGE)
          m_options.SelectSize(
              static_cast<size_t>(::SendDlgItemMessageA(wnd, IDC_SIZE_LIST, CB_GETCURSEL, 0, 0)));
        if (id == IDC_TYPE_LIST && HIWORD(wParam) == LBN_SELCHANGE)
          m_options.SelectType(
              static_cast<int>(::SendDlgItemMessageA(wnd, IDC_TYPE_LIST, LB_GETCURSEL, 0, 0)));
        if (id == IDC_TYPE_ADD) {
          char text[260] = {};
          ::GetDlgItemTextA(wnd, IDC_EXTENSIONS, text, sizeof(text));
          if (m_options.AddType(text)) ShowTypes();
        }
        if (id == IDC_TYPE_REMOVE && m_options.RemoveSelectedType()) ShowTypes();
        if (id == IDC_MAKE_ROOM && HIWORD(wParam) == BN_CLICKED)
          m_options.SetMakeRoom(::IsDlgButtonChecked(wnd, IDC_MAKE_ROOM) == BST_CHECKED);
        return FALSE;
      }
      case WM_NOTIFY: {
        const NMHDR* hdr = reinterpret_cast<const NMHDR*>(lParam);
        if (hdr->idFrom == IDC_PERCENT_SPIN && hdr->code == UDN_DELTAPOS) {
          const NMUPDOWN* ud = reinterpret_cast<const NMUPDOWN*>(lParam);
          ::SetDlgItemTextA(wnd, IDC_PERCENT, m_options.SetPercent(ud->iPos + ud->iDelta).c_str());
          return FALSE;
        }
        if (hdr->code == PSN_APPLY) {
          SettingsFile settings;
          m_options.Save(settings);
          SetResult(wnd, PSNRET_NOERROR);
          return TRUE;
        }
        return FALSE;
      }
      default:
        return FALSE;
    }
  }

  HWND m_hWnd = nullptr;
  CCustomDefragOptions m_options;
};

PROPSHEETPAGEA MakePage(int templateId, DLGPROC proc, void* object) {
  PROPSHEETPAGEA page = {};
  page.dwSize = sizeof(page);
  page.dwFlags = PSP_HASHELP;
  page.hInstance = ::GetModuleHandleA(nullptr);
  page.pszTemplate = MAKEINTRESOURCEA(templateId);
  page.pfnDlgProc = proc;
  page.lParam = reinterpret_cast<LPARAM>(object);
  return page;
}

}  // namespace

void ShowOptionsSheet(HWND owner) {
  CGeneralPageDlg general;
  CCustomDefragDlg custom;
  CSchedulerDlg scheduler;
  PROPSHEETPAGEA pages[3] = {MakePage(IDD_OPTIONS_GENERAL, &CGeneralPageDlg::Proc, &general),
                             MakePage(IDD_CUSTOM_DEFRAG, &CCustomDefragDlg::Proc, &custom),
                             MakePage(IDD_SCHEDULER, &CSchedulerDlg::Proc, &scheduler)};
  PROPSHEETHEADERA sheet = {};
  sheet.dwSize = sizeof(sheet);
  sheet.dwFlags = PSH_PROPSHEETPAGE | PSH_NOAPPLYNOW | PSH_HASHELP;
  sheet.hwndParent = owner;
  sheet.hInstance = ::GetModuleHandleA(nullptr);
  sheet.pszCaption = "Vantrel Options";
  sheet.nPages = 3;
  sheet.ppsp = pages;
  ::PropertySheetA(&sheet);
}

}  // namespace vt
