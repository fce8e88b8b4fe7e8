#include "pages/custom_defrag_options.h"

#include <algorithm>

#include "app/ini_text.h"
#include "base/text.h"

namespace vt {

const CSizeEntry kSizeEntries[kSizeEntryCount] = {
    {"Defrag files < 10 MB", 10485760},   {"Defrag files < 50 MB", 52428800},
    {"Defrag files < 100 MB", 104857600}, {"Defrag files < 500 MB", 524288000},
    {"Defrag files < 1 GB", 1048576000},  // 1000 MB, as the page has always stored it
};

namespace {

bool IsFilterOption(int option) {
  return option == kFilterOptionAll || option == kFilterOptionSize ||
         option == kFilterOptionPercent || option == kFilterOptionOnlyTypes ||
         option == kFilterOptionExcludeTypes;
}

bool IsTypeOption(int option) {
  return option == kFilterOptionOnlyTypes || option == kFilterOptionExcludeTypes;
}

// The stored list of the type option (the include list for "only", the
// ignore list for "exclude").
std::string TypeList(const SettingsFile& settings, int option) {
  return option == kFilterOptionOnlyTypes ? settings.CustomFileTypeInclude()
                                          : settings.CustomFileTypeIgnore();
}

bool SetTypeList(SettingsFile& settings, int option, const std::string& list) {
  return option == kFilterOptionOnlyTypes ? settings.SetCustomFileTypeInclude(list)
                                          : settings.SetCustomFileTypeIgnore(list);
}

}  // namespace

std::vector<std::string> ReadTypeList(const std::string& text) {
  std::vector<std::string> entries;
  size_t start = 0;
  for (;;) {
    const size_t comma = text.find(',', start);
    if (comma == std::string::npos || comma == start) break;
    entries.push_back(text.substr(start, std::min(comma - start, kMaxTypeEntryChars)));
    start = comma + 1;
  }
  return entries;
}

uint32_t ReadSizeThreshold(const SettingsFile& settings) {
  // A threshold of no size (missing, 0, negative or no number) would skip
  // every file; it means the first choice, which the options page shows for it.
  const uint32_t bytes = settings.IgnoreFilesGreaterThanSize();
  return bytes != 0 ? bytes : kSizeEntries[0].m_nBytes;
}

namespace {

CDefragFilter ReadFilterKind(const SettingsFile& settings) {
  switch (settings.CustomDefragByFileType()) {
    case kFilterOptionSize:
      return CDefragFilter::Size(ReadSizeThreshold(settings));
    case kFilterOptionPercent:
      return CDefragFilter::Percent(settings.WorkerFragmentationPercentage());
    case kFilterOptionOnlyTypes:
      return CDefragFilter::Types(OnlyTypes, ReadTypeList(settings.CustomFileTypeInclude()));
    case kFilterOptionExcludeTypes:
      return CDefragFilter::Types(ExcludeTypes, ReadTypeList(settings.CustomFileTypeIgnore()));
    default:
      return CDefragFilter::All();
  }
}

// Only a stored 0 turns making room off.
bool ReadMakeRoom(const SettingsFile& settings) { return settings.MakeRoomForLargeFiles(); }

}  // namespace

CDefragFilter ReadDefragFilter(const SettingsFile& settings) {
  CDefragFilter filter = ReadFilterKind(settings);
  filter.m_bMakeRoom = ReadMakeRoom(settings);
  return filter;
}

uint64_t RunDefragDrive(CDefrag& engine, const CDefragFilter& filter) {
  engine.m_bMakeRoom = filter.m_bMakeRoom;
  return engine.DefragDrive(filter.m_kind, true, filter.m_dPercentThreshold,
                            filter.m_nSizeThreshold, filter.m_types);
}

std::vector<std::string> KnownExtensions(IClassKeySource& source) {
  std::vector<std::string> extensions;
  bool dotted = false;
  // The class root is ordered by name, so the extensions come as one block.
  // The bound only guards against a source that never ends.
  for (DWORD index = 0; index < 1000000; ++index) {
    std::string name;
    const LONG rc = source.EnumKey(index, &name);
    if (rc == ERROR_MORE_DATA) continue;
    if (rc != ERROR_SUCCESS) break;
    if (!name.empty() && name[0] == '.') {
      extensions.push_back(name);
      dotted = true;
    } else if (dotted) {
      break;
    }
  }
  return extensions;
}

void CCustomDefragOptions::Load(const SettingsFile& settings) {
  m_nPercent = settings.ByFragmentationPercentage();
  const uint32_t bytes = settings.IgnoreFilesGreaterThanSize();
  m_nSizeIndex = 0;
  for (size_t i = 0; i < kSizeEntryCount; ++i)
    if (kSizeEntries[i].m_nBytes == bytes) m_nSizeIndex = i;
  // An identifier of no option means all files, as for the worker; the page
  // then has a button checked and something to store on accepting.
  m_nOption = settings.CustomDefragByFileType();
  if (!IsFilterOption(m_nOption)) m_nOption = kFilterOptionAll;
  LoadTypes(settings);
  m_bMakeRoom = ReadMakeRoom(settings);
}

void CCustomDefragOptions::LoadTypes(const SettingsFile& settings) {
  m_types.clear();
  m_nSelectedType = -1;
  if (IsTypeOption(m_nOption)) m_types = ReadTypeList(TypeList(settings, m_nOption));
}

void CCustomDefragOptions::ChooseOption(int option, const SettingsFile& settings) {
  if (!IsFilterOption(option) || option == m_nOption) return;
  m_nOption = option;
  if (IsTypeOption(option)) LoadTypes(settings);
}

bool CCustomDefragOptions::TypeListEnabled() const { return IsTypeOption(m_nOption); }

bool CCustomDefragOptions::AddType(const std::string& text) {
  if (!TypeListEnabled()) return false;
  std::string entry = TrimProfileBlanks(text);
  if (entry.empty()) return false;
  if (entry[0] != '.') entry.insert(entry.begin(), '.');
  // A comma would split the entry when stored; a longer entry would come
  // back cut.
  if (entry.size() > kMaxTypeEntryChars) return false;
  for (char c : entry)
    if (c == ',' || static_cast<unsigned char>(c) < 0x20) return false;
  for (const auto& existing : m_types)
    if (EqualsNoCase(existing, entry)) return false;
  m_types.push_back(entry);
  m_nSelectedType = static_cast<int>(m_types.size()) - 1;
  return true;
}

bool CCustomDefragOptions::RemoveSelectedType() {
  if (!TypeListEnabled() || m_nSelectedType < 0 ||
      m_nSelectedType >= static_cast<int>(m_types.size()))
    return false;
  m_types.erase(m_types.begin() + m_nSelectedType);
  m_nSelectedType = static_cast<int>(m_types.size()) - 1;
  return true;
}

void CCustomDefragOptions::SelectType(int index) {
  m_nSelectedType = index >= 0 && index < static_cast<int>(m_types.size()) ? index : -1;
}

void CCustomDefragOptions::SelectSize(size_t index) {
  if (index < kSizeEntryCount) m_nSizeIndex = index;
}

std::string CCustomDefragOptions::SetPercent(int position) {
  m_nPercent = position < 0 ? 0 : position > 99 ? 99 : position;
  return Format("%u %%", static_cast<unsigned>(m_nPercent));
}

bool CCustomDefragOptions::Save(SettingsFile& settings) const {
  bool ok = settings.SetByFragmentationPercentage(m_nPercent & 0xFFFF);
  ok = settings.SetIgnoreFilesGreaterThanSize(kSizeEntries[m_nSizeIndex].m_nBytes) && ok;
  ok = settings.SetCustomDefragByFileType(m_nOption) && ok;
  ok = settings.SetMakeRoomForLargeFiles(m_bMakeRoom) && ok;
  if (IsTypeOption(m_nOption))
    ok = SetTypeList(settings, m_nOption, JoinTerminatedList(m_types)) && ok;
  return ok;
}

}  // namespace vt
