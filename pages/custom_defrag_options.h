// The custom defrag options: the filter the drive page's worker reads from
// the settings, and the logic of the "Custom Defrag Options" page (its size
// entries, its type lists, the known extensions), which the dialog shows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/settings_file.h"
#include "base/winshapes.h"
#include "pages/defrag_filter.h"
#include "platform/class_keys.h"

namespace vt {

// The option identifiers, as "CustomDefragByFileType" stores them.
constexpr int kFilterOptionAll = 2139;
constexpr int kFilterOptionSize = 2140;
constexpr int kFilterOptionPercent = 2141;
constexpr int kFilterOptionOnlyTypes = 2169;
constexpr int kFilterOptionExcludeTypes = 2170;

// Longest type-list entry taken from the settings.
constexpr size_t kMaxTypeEntryChars = 259;

struct CSizeEntry {
  const char* m_pszText;
  uint32_t m_nBytes;
};
constexpr size_t kSizeEntryCount = 5;
extern const CSizeEntry kSizeEntries[kSizeEntryCount];

// A stored type list: the text before each comma, each cut to 259
// characters, up to the first empty entry; a last entry without its comma
// is not read.
std::vector<std::string> ReadTypeList(const std::string& text);

// The size threshold of the "By file size:" filter: the stored bytes, or the
// first size choice when no size is stored (missing, 0, negative, text).
uint32_t ReadSizeThreshold(const SettingsFile& settings);

// The filter of the next drive pass, as the drive page's worker reads it.
// Values that cannot be meant (text, a negative size, a degree outside 0 to
// 99) give the worker's defaults.
CDefragFilter ReadDefragFilter(const SettingsFile& settings);

// The drive pass with that filter, silent, as the drive page's worker runs
// it. Returns the clusters moved.
uint64_t RunDefragDrive(CDefrag& engine, const CDefragFilter& filter);

// The known extensions: the names that begin with "." in index order, up to
// the first name without a dot after a dotted one. A name too long for the
// buffer is passed over.
std::vector<std::string> KnownExtensions(IClassKeySource& source);

// The state of the options page between showing it and accepting it.
class CCustomDefragOptions {
 public:
  // On showing the page.
  void Load(const SettingsFile& settings);
  // A radio button was chosen; a type option reloads its own list.
  void ChooseOption(int option, const SettingsFile& settings);
  // The list, the drop-down and both arrows are usable.
  bool TypeListEnabled() const;

  // "<": the drop-down's text as an entry (a dot put in front when missing),
  // selected. False when it is empty, already listed, or cannot be stored.
  bool AddType(const std::string& text);
  // ">": removes the selected entry and selects the last one left.
  bool RemoveSelectedType();
  void SelectType(int index);

  void SelectSize(size_t index);
  void SetMakeRoom(bool on) { m_bMakeRoom = on; }
  // The spin control's new position, clamped to 0 to 99; returns the
  // number field's text, "%u %%".
  std::string SetPercent(int position);

  // When the sheet is accepted. False when a value could not be written.
  bool Save(SettingsFile& settings) const;

  int Option() const { return m_nOption; }
  size_t SizeIndex() const { return m_nSizeIndex; }
  int Percent() const { return m_nPercent; }
  const std::vector<std::string>& Types() const { return m_types; }
  int SelectedType() const { return m_nSelectedType; }
  bool MakeRoom() const { return m_bMakeRoom; }

 private:
  void LoadTypes(const SettingsFile& settings);

  int m_nOption = kFilterOptionAll;
  size_t m_nSizeIndex = 0;
  int m_nPercent = 50;
  std::vector<std::string> m_types;
  int m_nSelectedType = -1;
  bool m_bMakeRoom = true;
};

}  // namespace vt
