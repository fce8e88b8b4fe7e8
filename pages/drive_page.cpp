#include "pages/drive_page.h"

#include <cstring>

#include "app/settings_file.h"
#include "base/text.h"
#include "engine/drive_info.h"
#include "engine/globals.h"
#include "engine/statistics.h"
#include "pages/custom_defrag_options.h"
#include "pages/retrim.h"

namespace vt {

const char* const kDriveColumnTitles[DRIVE_COLUMN_COUNT] = {
    "Drive",     "Files",      "Files Fragmented", "% Fragmented",
    "Disk Size", "Free Space", "File System",      "Media Type"};

bool IsNumericColumn(int column) {
  return column != COL_DRIVE && column != COL_FILE_SYSTEM && column != COL_MEDIA;
}

namespace {

// Whether a floppy drive's device reports a medium of any size.
bool FloppyHasGeometry(IVolumeOps& ops, char letter) {
  const std::string device = std::string("\\\\.\\") + letter + ":";
  CHandle h(&ops, ops.CreateFileA(device.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  OPEN_EXISTING, 0));
  if (!h.IsValid()) return false;
  DISK_GEOMETRY geometry;
  std::memset(&geometry, 0, sizeof(geometry));
  DWORD returned = 0;
  if (!ops.DeviceIoControl(h.Get(), IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry,
                           sizeof(geometry), &returned))
    return false;
  const uint64_t size = static_cast<uint64_t>(geometry.Cylinders.QuadPart) *
                        geometry.TracksPerCylinder * geometry.SectorsPerTrack *
                        geometry.BytesPerSector;
  return size != 0;
}

}  // namespace

std::vector<CDriveData> EnumerateDrives(IVolumeOps& ops, const CEnumerateOptions& options,
                                        IPrompt& prompt) {
  std::vector<CDriveData> drives;
  const DWORD mask = ops.GetLogicalDrives();
  // Drives without their medium answer with errors, not system boxes.
  const UINT oldMode = ops.SetErrorMode(SEM_FAILCRITICALERRORS);
  for (char letter = options.m_bIncludeFloppy ? 'A' : 'C'; letter <= 'Z'; ++letter) {
    if (!(mask & (1u << (letter - 'A')))) continue;
    const std::string root = std::string(1, letter) + ":\\";
    const bool floppy = letter == 'A' || letter == 'B';
    if (floppy && !FloppyHasGeometry(ops, letter)) continue;
    const UINT type = ops.GetDriveTypeA(root.c_str());
    if (type == DRIVE_REMOVABLE) {
      if (floppy ? !options.m_bIncludeFloppy : !options.m_bIncludeRemovable) continue;
    } else if (type != DRIVE_FIXED) {
      continue;
    }
    CDriveData drive;
    std::string error;
    if (!ReadDriveData(ops, root, drive, &error)) {
      if (!error.empty()) prompt.ShowMessage(error, MB_OK | MB_ICONERROR);
      continue;
    }
    drive.m_nDriveIndex = static_cast<uint32_t>(drives.size());
    QueryDriveMedia(ops, drive);
    drives.push_back(drive);
  }
  ops.SetErrorMode(oldMode);
  return drives;
}

std::string DriveCellText(const CDriveData& drive, int column) {
  const bool analysed = drive.m_nState == DRIVE_STATE_ANALYZED;
  switch (column) {
    case COL_DRIVE:
      return drive.m_strDrive;
    case COL_FILES:
      return analysed ? GroupThousands(drive.m_nItems) : std::string();
    case COL_FRAGMENTED:
      return analysed ? GroupThousands(drive.m_nFragmentedFiles) : std::string();
    case COL_PERCENT:
      return analysed ? Format("%.02f%%", drive.m_dPercentFragmented) : std::string();
    case COL_DISK_SIZE:
      return FormatByteSize(drive.m_nDiskSize);
    case COL_FREE_SPACE:
      return FormatByteSize(drive.m_nFreeBytes);
    case COL_FILE_SYSTEM:
      return drive.m_strFileSystem;
    case COL_MEDIA:
      return MediaText(drive.m_nSeekPenalty);
    default:
      return std::string();
  }
}

bool DriveRowGreater(const CDriveData& a, const CDriveData& b, int column) {
  switch (column) {
    case COL_DRIVE:
      return a.m_strDrive > b.m_strDrive;
    case COL_FILES:
      return a.m_nItems > b.m_nItems;
    case COL_FRAGMENTED:
      return a.m_nFragmentedFiles > b.m_nFragmentedFiles;
    case COL_PERCENT:
      return a.m_dPercentFragmented > b.m_dPercentFragmented;
    case COL_DISK_SIZE:
      return a.m_nDiskSize > b.m_nDiskSize;
    case COL_FREE_SPACE:
      return a.m_nFreeBytes > b.m_nFreeBytes;
    case COL_FILE_SYSTEM:
      return a.m_strFileSystem > b.m_strFileSystem;
    case COL_MEDIA:
      return std::string(MediaText(a.m_nSeekPenalty)) > MediaText(b.m_nSeekPenalty);
    default:
      return false;
  }
}

void CDriveSort::Click(int column) {
  if (column < 0 || column >= DRIVE_COLUMN_COUNT) return;
  if (column == m_nColumn) {
    m_bAscending = !m_bAscending;
  } else {
    m_nColumn = column;
    m_bAscending = true;
  }
}

bool CDriveSort::Before(const CDriveData& a, const CDriveData& b) const {
  // The compare only answers "greater"; the reversed order swaps its arguments.
  return m_bAscending ? DriveRowGreater(b, a, m_nColumn) : DriveRowGreater(a, b, m_nColumn);
}

bool IsDriveSelected(const std::string& root, const std::string& selectedDrives) {
  return !root.empty() && selectedDrives.find(root) != std::string::npos;
}

std::string SelectedDrivesText(const std::vector<std::string>& roots) {
  std::string text;
  for (const auto& r : roots) text += r + ",";
  return text;
}

std::string BaseTitle(const CDriveData* current) {
  if (!current) return kMessageCaption;
  return Format("%s - %s", kMessageCaption, current->m_strDrive.c_str());
}

std::string OperationTitle(const CDriveData* current, const std::string& text) {
  if (text.empty()) return BaseTitle(current);
  return Format("%s - %s", BaseTitle(current).c_str(), text.c_str());
}

std::string CompletionCaption(int operation) {
  if (operation == OP_RETRIM) return "Retrim";
  return operation == OP_DEFRAG_DRIVE ? "Defrag Drive " : "Defrag Free Space";
}

std::string CompletionMessage(const std::string& doneDrives, bool cancelled) {
  if (cancelled) return "Defragmentation was stopped for drive(s):\n" + doneDrives + " ";
  return "Defragmentation is complete for drive(s):\n" + doneDrives + " ";
}

std::string CompletionCaptionShown(const std::string& caption, bool cancelled) {
  return cancelled ? caption + " Cancelled" : caption;
}

CDrivePage::CDrivePage(CDefrag& engine, IDrivePageView& view, IReportSink* report)
    : m_engine(engine), m_view(view), m_pReport(report) {}

void CDrivePage::Enumerate(const CEnumerateOptions& options) {
  m_engine.Reset();
  m_nCurrent = -1;
  SetCurrentDrive(nullptr);
  m_drives = EnumerateDrives(m_engine.Ops(), options, m_engine.Prompt());
}

CDriveData* CDrivePage::CurrentDrive() {
  if (m_nCurrent < 0 || static_cast<size_t>(m_nCurrent) >= m_drives.size()) return nullptr;
  return &m_drives[static_cast<size_t>(m_nCurrent)];
}

int CDrivePage::RowOfDrive(size_t drive) {
  const int rows = m_view.RowCount();
  for (int row = 0; row < rows; ++row)
    if (m_view.RowDrive(row) == drive) return row;
  return -1;
}

void CDrivePage::MakeCurrent(int row, bool analyse) {
  if (row < 0 || row >= m_view.RowCount()) return;
  const size_t index = m_view.RowDrive(row);
  if (index >= m_drives.size()) return;
  CDriveData& drive = m_drives[index];
  m_view.SelectRow(row);
  if (static_cast<int>(index) == m_nCurrent && drive.m_nState == DRIVE_STATE_ANALYZED && !analyse)
    return;
  m_nCurrent = static_cast<int>(index);
  SetCurrentDrive(&drive);
  m_view.EmptyFileList();
  if (analyse) {
    drive.m_nState = DRIVE_STATE_NOT_ANALYZED;
    AnalyzeCurrent(false);
  }
}

void CDrivePage::AnalyzeCurrent(bool deleteCache) {
  CDriveData* drive = CurrentDrive();
  if (!drive || drive->m_nState == DRIVE_STATE_ANALYZED) return;
  COperationScope scope(m_engine);
  m_view.SetTitleText("Analyzing Volume");
  m_view.EnableControls(false);
  const int row = RowOfDrive(static_cast<size_t>(m_nCurrent));
  CAnalyzeOptions options;
  options.m_bUseCache = true;
  options.m_bDeleteCache = deleteCache;
  options.m_bMarkAnalyzed = false;
  options.m_pReport = m_pReport;
  options.m_onOpened = [&]() {
    m_view.Notify(UM_SET_COMPRESSED, 1, false);
    m_view.Notify(UM_VIEW_CHANGED, 0, false);
    m_view.UpdateRow(row);
  };
  const CAnalysis analysis = OpenAndAnalyze(m_engine, *drive, options);
  if (analysis.m_result != AnalyzeResult::OpenFailed) {
    const bool mapped = m_view.RefreshMap();
    m_engine.m_files.FreeExtra();
    if (!IsCancelled() && analysis.m_result == AnalyzeResult::Ok)
      drive->m_nState = mapped ? DRIVE_STATE_ANALYZED : DRIVE_STATE_NOT_ANALYZED;
    m_view.UpdateRow(row);
  }
  m_view.SetStatus(IsCancelled() ? "Analysis cancelled." : "Analysis complete.");
  m_view.EnableControls(true);
  m_view.SetTitleText("");
}

void CDrivePage::UpdateStatistics(int row) {
  CDriveData* drive = CurrentDrive();
  if (drive) ComputeDriveStatistics(m_engine, *drive);
  m_view.UpdateRow(row);
}

void CDrivePage::DefragDriveWorker(int row) {
  CDriveData* drive = CurrentDrive();
  if (!drive) return;
  COperationScope scope(m_engine);
  CDriveOperation op;
  op.m_kind = DriveOperationKind::DefragDrive;
  op.m_filter = ReadDefragFilter(SettingsFile());
  m_view.SetTitleText(op.m_filter.m_kind == AllFiles ? "Defragging Drive"
                                                     : "Custom Defragging Drive");
  m_view.EnableControls(false);
  m_view.Notify(UM_SET_COMPRESSED, 0, false);
  RunDriveOperation(m_engine, *drive, op, m_pReport);
  // The fresh cache first: saving it empties the status bar, which then
  // gets the closing status that stays behind the completion dialog.
  m_engine.DeleteCache(*drive);
  m_engine.SaveDriveData(*drive);
  m_view.RefreshMap();
  m_view.UpdateRow(row);
  // Sent: the list's fill (which also empties the bar) ends first.
  m_view.Notify(UM_FILL_FILE_LIST, 0, false);
  m_view.SetStatus(IsCancelled() ? "Defrag drive stopped" : "Defrag drive complete");
  m_view.EnableControls(true);
  m_view.SetTitleText("");
}

void CDrivePage::DefragFreeWorker(int row) {
  CDriveData* drive = CurrentDrive();
  if (!drive) return;
  COperationScope scope(m_engine);
  CDriveOperation op;
  op.m_kind = DriveOperationKind::DefragFreeSpace;
  op.m_nFreeMode = SettingsFile().DefragFreeMode();
  m_view.SetTitleText("Defragging Free Space");
  m_view.EnableControls(false);
  m_view.Notify(UM_SET_COMPRESSED, 0, false);
  RunDriveOperation(m_engine, *drive, op, m_pReport);
  m_engine.SaveDriveData(*drive);
  m_view.EnableControls(true);
  m_view.RefreshMap();
  m_view.Notify(UM_FILL_FILE_LIST, 0, false);
  m_view.SetStatus(IsCancelled() ? "Defrag free space stopped" : "Defrag free space complete");
  m_view.UpdateRow(row);
  m_view.SetTitleText("");
}

bool CDrivePage::RetrimWorker(int row) {
  CDriveData* drive = CurrentDrive();
  if (!drive) return true;
  CBusy busy;
  m_view.SetTitleText("Retrimming Drive");
  m_view.EnableControls(false);
  const CRetrimResult result = RetrimDrive(m_engine, *drive, m_pReport);
  if (!result.m_bUnavailable) {
    m_view.UpdateRow(row);
    m_view.SetStatus(result.m_bDone ? "Retrim complete" : "Retrim failed");
  }
  m_view.EnableControls(true);
  m_view.SetTitleText("");
  return !result.m_bUnavailable;
}

bool CDrivePage::AnyRowChecked() {
  const int rows = m_view.RowCount();
  for (int row = 0; row < rows; ++row)
    if (m_view.IsRowChecked(row) && m_view.RowDrive(row) < m_drives.size()) return true;
  return false;
}

bool CDrivePage::ConfirmChecked() {
  if (AnyRowChecked()) return true;
  m_engine.Prompt().ShowMessage(kNoDriveChecked, MB_OK | MB_ICONERROR);
  return false;
}

int CDrivePage::FilePageAnalysisRow() {
  if (CurrentDrive()) return kAnalyzeCurrentRow;
  const int rows = m_view.RowCount();
  for (int row = 0; row < rows; ++row)
    if (m_view.IsRowChecked(row) && m_view.RowDrive(row) < m_drives.size()) return row;
  m_engine.Prompt().ShowMessage(kNoDriveChecked, MB_OK | MB_ICONERROR);
  return -1;
}

void CDrivePage::AnalyzeForFilePage(int row) {
  if (row == kAnalyzeCurrentRow)
    AnalyzeCurrent(false);
  else
    MakeCurrent(row, true);
}

std::string CDrivePage::RunOperation(int operation) {
  COperationScope scope(m_engine);
  std::string done;
  bool any = false;
  bool stopped = false;  // a Cancel answer, or no retrim on this system
  const int rows = m_view.RowCount();
  for (int row = 0; row < rows && !IsCancelled(); ++row) {
    if (!m_view.IsRowChecked(row)) continue;
    const size_t index = m_view.RowDrive(row);
    if (index >= m_drives.size()) continue;
    any = true;
    CDriveData& drive = m_drives[index];
    int answer = IDNO;
    if (operation == OP_RETRIM) {
      answer = IDYES;
    } else if (operation != OP_ANALYZE && IsSolidState(drive)) {
      answer = m_engine.Prompt().ShowMessage(Format(kRetrimQuestion, drive.m_strDrive.c_str()),
                                             MB_YESNOCANCEL | MB_ICONQUESTION);
    }
    if (answer == IDCANCEL) {
      stopped = true;
      break;
    }
    if (answer == IDYES) {
      // The drive need not be analysed: its free clusters come from the
      // volume bitmap as it is now.
      MakeCurrent(row, false);
      if (!RetrimWorker(row)) {
        stopped = true;
        break;
      }
    } else if (operation == OP_ANALYZE) {
      m_view.EmptyFileList();
      MakeCurrent(row, false);
      m_engine.DeleteCache(drive);
      drive.m_nState = DRIVE_STATE_NOT_ANALYZED;
      AnalyzeCurrent(true);
    } else {
      // Analysed afresh (from its cache when it has one): the engine may
      // hold another drive's files since this one was analysed.
      MakeCurrent(row, true);
      // A drive whose analysis did not finish is not defragmented.
      if (drive.m_nState != DRIVE_STATE_ANALYZED || IsCancelled()) continue;
      if (operation == OP_DEFRAG_DRIVE)
        DefragDriveWorker(row);
      else
        DefragFreeWorker(row);
    }
    if (!done.empty()) done += ", ";
    done += drive.m_strDrive;
  }
  if (!any) {
    m_engine.Prompt().ShowMessage(kNoDriveChecked, MB_OK | MB_ICONERROR);
    // The buttons were disabled when the operation was asked for.
    m_view.EnableControls(true);
    return done;
  }
  if (operation != OP_ANALYZE && !(stopped && done.empty())) {
    const std::string message = operation == OP_RETRIM
                                    ? "Retrim is complete for drive(s):\n" + done + " "
                                    : CompletionMessage(done, IsCancelled());
    if (m_view.ShowCompletion(CompletionCaption(operation), message) == IDOK)
      m_view.Notify(UM_SHOW_REPORT, 0, true);
  }
  return done;
}

}  // namespace vt
