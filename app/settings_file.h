// The settings file Vantrel.ini: every reader opens it when it needs a value
// and every writer writes one key at once. Sections "Settings" (every key of
// the program) and "Position" (the main window's rectangle).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/plain_files.h"
#include "platform/process_control.h"
#include "platform/window_placement.h"

namespace vt {

constexpr const char* kSettingsSection = "Settings";
constexpr const char* kPositionSection = "Position";
constexpr const char* kPositionKey = "Vantrel";
constexpr const char* kSettingsFileName = "Vantrel.ini";

// Text values are read through a buffer of this many characters.
constexpr size_t kTextBufferChars = 4096;
// The window position is read through a smaller one.
constexpr size_t kPositionBufferChars = 520;
// A larger file is not ours; it is neither read nor rewritten.
constexpr size_t kMaxSettingsFileBytes = 8u << 20;

class SettingsFile {
 public:
  // The user's file: the settings folder (created when missing) and
  // "Vantrel.ini". Without a settings folder every read gives its default
  // and every write fails.
  SettingsFile();
  // A file of the caller's choosing; its folder must exist.
  explicit SettingsFile(std::string path);

  const std::string& Path() const { return m_strPath; }

  // Section "Settings". A missing file, section or key, or a value that is
  // not a whole number in range, gives def.
  int GetInt(const char* key, int def) const;
  // The same for a count of bytes or similar: a negative value gives def.
  uint32_t GetUInt(const char* key, uint32_t def) const;
  // Writes "%d". False when the file could not be written (see LastError).
  bool SetInt(const char* key, int value);
  // Quotes removed; def when the key is missing; at most 4095 characters.
  std::string GetString(const char* key, const std::string& def = std::string()) const;
  // Writes the text between double quotes, so outer blanks survive. Text
  // with a line break or a NUL cannot be stored and is refused.
  bool SetString(const char* key, const std::string& text);

  // One accessor per key of section "Settings", with the key's default from
  // app/settings_keys.cpp where the key is missing or holds no whole number.
  // Where a reader takes only some values, any other gives the default too
  // (noted at the accessor). Setters return false when the file could not
  // be written.
  std::string SelectedDrives() const;  // "C:\,D:\,"
  bool SetSelectedDrives(const std::string& list);
  bool IncludeRemovable() const;
  bool SetIncludeRemovable(bool on);
  bool IncludeFloppy() const;
  bool SetIncludeFloppy(bool on);
  int DefragFreeMode() const;  // kFreeModeDontFragment or kFreeModeMaximize
  bool SetDefragFreeMode(int mode);
  int DefragFileMode() const;
  bool SetDefragFileMode(int mode);
  int CustomDefragByFileType() const;  // one of the filter option identifiers
  bool SetCustomDefragByFileType(int option);
  uint32_t IgnoreFilesGreaterThanSize() const;  // bytes; a negative value is the default
  bool SetIgnoreFilesGreaterThanSize(uint32_t bytes);
  int ByFragmentationPercentage() const;  // 0 to 99
  bool SetByFragmentationPercentage(int percent);
  // The drive pass reads a missing or unwritten threshold as 0, not the page's 50.
  int WorkerFragmentationPercentage() const;
  std::string CustomFileTypeInclude() const;
  bool SetCustomFileTypeInclude(const std::string& list);
  std::string CustomFileTypeIgnore() const;
  bool SetCustomFileTypeIgnore(const std::string& list);
  bool MakeRoomForLargeFiles() const;
  bool SetMakeRoomForLargeFiles(bool on);
  int Processors() const;  // the affinity mask as stored, -1 for all
  bool SetProcessors(int mask);
  int ProcessorPriority() const;  // 0 (leave it) or a priority class the page offers
  bool SetProcessorPriority(int priorityClass);
  bool SaveLogFiles() const;
  bool SetSaveLogFiles(bool on);
  int BlockSize() const;  // 1 to 10
  bool SetBlockSize(int size);
  bool AutoDefrag() const;
  bool SetAutoDefrag(bool on);
  int AutoDefragDays() const;  // bit 0 Sunday ... bit 6 Saturday; higher bits dropped
  bool SetAutoDefragDays(int days);
  int AutoDefragRecur() const;              // weeks
  std::string AutoDefragRecurText() const;  // the stored text, for the page's edit box
  bool SetAutoDefragRecur(int weeks);
  bool AutoDefragIdle() const;
  bool SetAutoDefragIdle(bool on);
  std::string AutoDefragStartTime() const;
  bool SetAutoDefragStartTime(const std::string& text);
  std::string AutoDefragAccount() const;
  bool SetAutoDefragAccount(const std::string& account);
  std::string AutoDefragPassword() const;  // as protected for storing
  bool SetAutoDefragPassword(const std::string& stored);
  std::string AutoDefragDrives() const;  // "0,2,"
  bool SetAutoDefragDrives(const std::string& list);

  // Any section: the value with one pair of surrounding quotes removed, cut
  // to bufferChars - 1 characters. False when the key is absent.
  bool ReadValue(const char* section, const char* key, size_t bufferChars,
                 std::string* value) const;
  // Any section: the value stored exactly as given.
  bool WriteValue(const char* section, const char* key, const std::string& value);

  // Writes the window's restored rectangle, unless it is minimised.
  bool SaveWindowPosition(IWindowPlacementHost& window);
  // Applies the saved rectangle when one is stored, complete and wholly on
  // the screen; a hidden window stays hidden.
  bool RestoreWindowPosition(IWindowPlacementHost& window) const;

  // Applies "ProcessorPriority" and "Processors" to the process; platform
  // errors are ignored.
  void ApplyProcessSettings(IProcessControl& process = HostProcessControl()) const;
  // All processors and normal priority again.
  static void ResetProcessSettings(IProcessControl& process = HostProcessControl());

  // Whether the file can be read now (a missing file is fine: defaults).
  FileReadResult Probe(std::string* error) const;
  // Why the last write failed.
  const std::string& LastError() const { return m_strError; }

 private:
  std::string m_strPath;
  std::string m_strError;
};

// Decimal integers as the file holds them: optional blanks around, an
// optional sign, digits. False for anything else or a value out of range.
bool ParseInt32(const std::string& text, int32_t* value);
bool ParseUInt32(const std::string& text, uint32_t* value);

// One pair of matching double or single quotes around the value removed, as
// the Windows profile functions do.
std::string StripProfileQuotes(const std::string& value);

// Comma-terminated lists: every element is followed by ","; the text after
// the last comma is not an element.
std::vector<std::string> SplitTerminatedList(const std::string& text);
std::string JoinTerminatedList(const std::vector<std::string>& items);

// "left,top,right,bottom": the first four fields must be whole numbers.
bool ParseWindowRect(const std::string& text, CWindowRect* rect);
std::string FormatWindowRect(const CWindowRect& rect);

}  // namespace vt
