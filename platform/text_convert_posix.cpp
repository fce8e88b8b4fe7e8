#include "base/codepage.h"
#include "platform/text_convert.h"

namespace vt {

std::string Utf16ToSystemAnsi(const std::u16string& text) {
  std::string out;
  Utf16ToSystemAnsi(text.data(), text.size(), &out);
  return out;
}

void Utf16ToSystemAnsi(const char16_t* text, size_t count, std::string* out) {
  out->clear();
  AppendUtf16AsUtf8(text, count, *out);
}

}  // namespace vt
