#include "base/codepage.h"
#include "base/winshapes.h"
#include "platform/text_convert.h"

namespace vt {

std::string Utf16ToSystemAnsi(const std::u16string& text) {
  if (text.empty()) return std::string();
  const wchar_t* wide = reinterpret_cast<const wchar_t*>(text.data());
  int n = ::WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(text.size()), nullptr, 0, nullptr,
                                nullptr);
  if (n <= 0) return Utf16ToUtf8(text);
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(text.size()), &out[0], n, nullptr,
                        nullptr);
  return out;
}

}  // namespace vt
