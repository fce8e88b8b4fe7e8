#include "base/codepage.h"
#include "platform/text_convert.h"

namespace vt {

std::string Utf16ToSystemAnsi(const std::u16string& text) { return Utf16ToUtf8(text); }

}  // namespace vt
