#include "cli/text_out.h"

#include <cstdio>

#include "cli/json_writer.h"
#include "platform/console.h"

namespace vt {

std::string AnsiForTerminal(const std::string& text) {
  if (ConsoleTakesTextAsIs()) return text;
  // The JSON escaper already turns Windows-1252 into UTF-8; take its result
  // without the quotes, and undo its escapes of control characters.
  std::string out;
  out.reserve(text.size());
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || static_cast<unsigned char>(text[i]) < 0x20 || text[i] == '"' ||
        text[i] == '\\') {
      if (i > start) {
        std::string piece = JsonEscape(text.substr(start, i - start));
        out.append(piece, 1, piece.size() - 2);
      }
      if (i < text.size()) out += text[i];
      start = i + 1;
    }
  }
  return out;
}

void PrintText(const std::string& text) {
  const std::string out = AnsiForTerminal(text);
  std::fwrite(out.data(), 1, out.size(), stdout);
}

}  // namespace vt
