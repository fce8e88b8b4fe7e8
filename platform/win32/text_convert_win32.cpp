#include "base/codepage.h"
#include "base/winshapes.h"
#include "platform/text_convert.h"

namespace vt {

std::string Utf16ToSystemAnsi(const std::u16string& text) {
  std::string out;
  Utf16ToSystemAnsi(text.data(), text.size(), &out);
  return out;
}

void Utf16ToSystemAnsi(const char16_t* text, size_t count, std::string* out) {
  out->clear();
  if (count == 0) return;
  // Four bytes a unit hold any code page's longest form, so one call does.
  const wchar_t* wide = reinterpret_cast<const wchar_t*>(text);
  const size_t room = count * 4;
  out->resize(room);
  const int n = ::WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(count), &(*out)[0],
                                      static_cast<int>(room), nullptr, nullptr);
  if (n > 0) {
    out->resize(static_cast<size_t>(n));
    return;
  }
  out->clear();
  AppendUtf16AsUtf8(text, count, *out);
}

}  // namespace vt
