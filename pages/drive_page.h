// The drive page's logic: the drive list and its enumeration, the cells and
// sorting of its rows, the checked drives kept in "SelectedDrives", and the
// workers that analyse and defragment the checked drives. The dialog
// (win32/drive_dlg) forwards its events here and renders what it is told.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/defrag.h"
#include "pages/drive_operations.h"

namespace vt {

class IReportSink;
class SettingsFile;

// The list's columns, in order.
enum DriveColumn : int {
  COL_DRIVE = 0,
  COL_FILES,
  COL_FRAGMENTED,
  COL_PERCENT,
  COL_DISK_SIZE,
  COL_FREE_SPACE,
  COL_FILE_SYSTEM,
  COL_MEDIA,
  DRIVE_COLUMN_COUNT
};
extern const char* const kDriveColumnTitles[DRIVE_COLUMN_COUNT];
// Whether a column is right-aligned.
bool IsNumericColumn(int column);

// Operation codes of the worker.
enum DriveOperationCode : int {
  OP_ANALYZE = 0,
  OP_DEFRAG_DRIVE = 1,
  OP_DEFRAG_FREE = 2,
  OP_RETRIM = 3,
};

struct CEnumerateOptions {
  bool m_bIncludeRemovable = false;
  bool m_bIncludeFloppy = false;
};

// The drives of the system (or of the image volume set), in letter order:
// fixed drives, removable ones and the floppy drives A and B only when
// asked (A and B only when their device reports a geometry). A drive whose
// volume information fails is left out silently; one whose free-space
// queries fail is left out after an error box with the system's text.
std::vector<CDriveData> EnumerateDrives(IVolumeOps& ops, const CEnumerateOptions& options,
                                        IPrompt& prompt);

// The text of one cell; the statistics columns stay empty until analysed.
std::string DriveCellText(const CDriveData& drive, int column);

// Whether row a sorts after row b on that column.
bool DriveRowGreater(const CDriveData& a, const CDriveData& b, int column);

// The sort state of the header: another column sorts ascending, the same
// column again reverses.
class CDriveSort {
 public:
  void Click(int column);
  void Reset() { m_nColumn = COL_DRIVE, m_bAscending = true; }
  int Column() const { return m_nColumn; }
  bool Ascending() const { return m_bAscending; }
  // Whether row a comes before row b in the current order.
  bool Before(const CDriveData& a, const CDriveData& b) const;

 private:
  int m_nColumn = COL_DRIVE;
  bool m_bAscending = true;
};

// A root path counts as checked when it occurs anywhere in the text.
bool IsDriveSelected(const std::string& root, const std::string& selectedDrives);
// "C:\,D:\," from the checked roots.
std::string SelectedDrivesText(const std::vector<std::string>& roots);

// "%s - %s" of the product and the current root, or "Vantrel"; with an
// operation's text, "%s - %s" of that and the text.
std::string BaseTitle(const CDriveData* current);
std::string OperationTitle(const CDriveData* current, const std::string& text);

// The completion dialog's caption and message.
std::string CompletionCaption(int operation);
// After a stop the message says the run was stopped, not complete.
std::string CompletionMessage(const std::string& doneDrives, bool cancelled = false);
// The dialog's caption as shown: " Cancelled" follows when Stop was pressed.
std::string CompletionCaptionShown(const std::string& caption, bool cancelled);

// What the page's workers need from the windows: rows and their checks, and
// the notices to the main window. Called from the worker thread.
class IDrivePageView {
 public:
  virtual ~IDrivePageView() = default;
  virtual int RowCount() = 0;
  virtual bool IsRowChecked(int row) = 0;
  virtual size_t RowDrive(int row) = 0;  // the row's index into the drive list
  // The row becomes the selected, focused and visible one.
  virtual void SelectRow(int row) = 0;
  virtual void UpdateRow(int row) = 0;
  // "" restores the base title.
  virtual void SetTitleText(const std::string& text) = 0;
  // UM_ENABLE_CONTROLS: the page's buttons, with Stop the other way.
  virtual void EnableControls(bool enable) = 0;
  // UM_PROGRESS reset, then the status text in pane 0.
  virtual void SetStatus(const std::string& text) = 0;
  // UM_SET_COMPRESSED, UM_VIEW_CHANGED, UM_FILL_FILE_LIST, UM_SHOW_REPORT.
  virtual void Notify(UINT message, WPARAM wParam, bool post) = 0;
  // Rebuilds the cluster map from the engine; false when it holds nothing.
  virtual bool RefreshMap() = 0;
  virtual void EmptyFileList() = 0;
  // The completion dialog; returns IDOK for "View Report".
  virtual int ShowCompletion(const std::string& caption, const std::string& message) = 0;
};

class CDrivePage {
 public:
  CDrivePage(CDefrag& engine, IDrivePageView& view, IReportSink* report);

  std::vector<CDriveData>& Drives() { return m_drives; }
  // Closes the volume, forgets the current drive and enumerates again.
  void Enumerate(const CEnumerateOptions& options);

  // The current drive's index, or -1.
  int Current() const { return m_nCurrent; }
  CDriveData* CurrentDrive();
  // Makes the row's drive current (selects the row); with analyse, marks it
  // not analysed and runs the analysis worker here.
  void MakeCurrent(int row, bool analyse);

  // The analysis worker on the current drive: returns at once without one or
  // when it is analysed. deleteCache: analyse from the disk.
  void AnalyzeCurrent(bool deleteCache);

  // The operation worker over the checked rows, in row order. Returns the
  // drives done, ", " between them. Defragmenting a solid-state drive asks
  // first whether to retrim it instead (Yes), defragment it anyway (No) or
  // stop (Cancel).
  std::string RunOperation(int operation);

  // Whether an operation has a drive to work on; without one the message
  // kNoDriveChecked is shown (on the caller's thread, so the window
  // thread's box is active and owned by the main window).
  bool ConfirmChecked();

  // "Yes" to "The current drive needs to be analyzed": the current drive
  // (kAnalyzeCurrentRow), else the first checked row; with neither, the
  // message kNoDriveChecked and -1. AnalyzeForFilePage then runs it (on a
  // worker).
  static constexpr int kAnalyzeCurrentRow = -2;
  int FilePageAnalysisRow();
  void AnalyzeForFilePage(int row);

  // The statistics of the drive after an operation (the row shows them).
  void UpdateStatistics(int row);

  int LastMessageBox() const { return m_nMessageBoxes; }

 private:
  int RowOfDrive(size_t drive);
  bool AnyRowChecked();
  void DefragDriveWorker(int row);
  void DefragFreeWorker(int row);
  // False when the system has no retrim (the message was shown).
  bool RetrimWorker(int row);

  CDefrag& m_engine;
  IDrivePageView& m_view;
  IReportSink* m_pReport;
  std::vector<CDriveData> m_drives;
  int m_nCurrent = -1;
  int m_nMessageBoxes = 0;
};

constexpr const char* kNoDriveChecked = "Please place a checkmark on the drive(s) to process.";
constexpr const char* kStopWaitText = "Please wait for the current operation to finish...";

}  // namespace vt
