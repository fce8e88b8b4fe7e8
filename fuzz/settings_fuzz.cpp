// libFuzzer target for the settings file's parser and editor: any bytes are
// read, looked up and edited without a crash, untouched text comes back byte
// for byte, and a value just written is the value read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "pages/custom_defrag_options.h"
#include "app/ini_text.h"
#include "app/settings_file.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void Exercise(const std::string& value) {
  const std::string text = vt::StripProfileQuotes(value);
  int32_t i = 0;
  uint32_t u = 0;
  vt::ParseInt32(text, &i);
  vt::ParseUInt32(text, &u);
  vt::CWindowRect rect;
  if (vt::ParseWindowRect(text, &rect)) {
    vt::CWindowRect again;
    Check(vt::ParseWindowRect(vt::FormatWindowRect(rect), &again));
    Check(again.left == rect.left && again.bottom == rect.bottom);
  }
  for (const auto& entry : vt::ReadTypeList(text))
    Check(!entry.empty() && entry.size() <= vt::kMaxTypeEntryChars);
  vt::SplitTerminatedList(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  vt::CIniText ini;
  ini.Parse(bytes);

  // Reading and writing back without an edit changes nothing.
  const std::string same = ini.Serialize();
  const bool utf16 = ini.GetEncoding() == vt::CIniText::ENC_UTF16LE ||
                     ini.GetEncoding() == vt::CIniText::ENC_UTF16BE;
  if (!utf16) Check(same == bytes);
  if (utf16 && !ini.IsLossy() && size % 2 == 0) Check(same == bytes);

  const char* const sections[] = {"Settings", "Position", ""};
  const char* const keys[] = {"BlockSize", "SelectedDrives", "Vantrel", "CustomFileTypeInclude"};
  for (const char* section : sections) {
    for (const char* key : keys) {
      std::string value;
      if (ini.Find(section, key, &value)) Exercise(value);
    }
    for (const auto& entry : ini.Keys(section)) Exercise(entry.second);
  }

  // A written value is what the next reader finds, also after a reparse.
  ini.Set("Settings", "BlockSize", "5");
  ini.Set("Position", "Vantrel", "1,2,3,4");
  ini.Set("Settings", "SelectedDrives", "\"C:\\,\"");
  vt::CIniText reread;
  reread.Parse(ini.Serialize());
  std::string value;
  Check(reread.Find("Settings", "BlockSize", &value) && value == "5");
  Check(reread.Find("Position", "Vantrel", &value) && value == "1,2,3,4");
  Check(reread.Find("Settings", "SelectedDrives", &value) && value == "\"C:\\,\"");
  return 0;
}
