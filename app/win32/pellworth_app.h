// The application object: the single instance, the start-up modes and the
// objects every window and worker shares for the whole run.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "engine/defrag.h"
#include "report/win32/report_dlg.h"

namespace vt {

// SendMessage and PostMessage of the workers' notices.
class CWindowSink : public IMessageSink {
 public:
  LRESULT Send(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
  BOOL Post(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
};

// The program's message box: caption "Vantrel", task-modal, in front,
// owned by the main window while it is visible, or by the window given
// (a property sheet, whose boxes must not give the main window back).
class CWindowPrompt : public IPrompt {
 public:
  CWindowPrompt() = default;
  explicit CWindowPrompt(HWND owner) : m_hOwner(owner) {}
  int ShowMessage(const std::string& text, UINT type) override;
  int ShowDefragPrompt(const std::string& text, bool* repeatChecked) override;
  void RepaintMainWindow() override;

 private:
  HWND Owner() const;
  HWND m_hOwner = nullptr;
};

class CSysTray;
struct CSharedWindows;

class CPellworthApp {
 public:
  CPellworthApp();
  ~CPellworthApp();

  // Returns true only for the unattended run (which then runs a message loop).
  bool InitInstance(const std::string& commandLine);
  // After the unattended run's message loop: the tray goes, the caches too.
  void EndUnattended();

  CDefrag& Engine() { return *m_engine; }
  IVolumeOps& Volumes() { return *m_volumes; }
  CWindowPrompt& Prompt() { return m_prompt; }
  CReportDlg& ReportPage() { return m_report; }
  // The map, its strip and the pages the workers reach.
  CSharedWindows& Shared() { return *m_shared; }
  const std::string& CommandLine() const { return m_strCommandLine; }
  const std::string& HelpPath() const { return m_strHelpPath; }
  HWND MainWindow() const { return m_hMainWnd; }
  void SetMainWindow(HWND wnd) { m_hMainWnd = wnd; }
  // The folder of the program, with its trailing backslash.
  static std::string ProgramFolder();
  // Why the image volumes named in VANTREL_VOLUMES could not be mounted.
  const std::string& VolumeError() const { return m_strVolumeError; }

 private:
  void HandOff();
  void Uninstall();
  void DeleteCaches();
  // After the main window: the cancel flag is set; a worker still running
  // gets a while to end before the objects it uses go.
  void WaitForWorkers();

  HANDLE m_hMutex = nullptr;
  std::string m_strCommandLine;
  std::string m_strHelpPath;
  std::string m_strVolumeError;
  HWND m_hMainWnd = nullptr;
  CWindowSink m_sink;
  CWindowPrompt m_prompt;
  CReportDlg m_report;
  std::unique_ptr<IVolumeOps> m_volumes;
  std::unique_ptr<CDefrag> m_engine;
  std::unique_ptr<CSharedWindows> m_shared;
  std::unique_ptr<CSysTray> m_tray;
};

CPellworthApp& App();

}  // namespace vt
