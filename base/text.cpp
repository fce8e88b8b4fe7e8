#include "base/text.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "base/codepage.h"
#include "base/winshapes.h"

namespace vt {

std::string ToLowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

bool EqualsNoCase(const std::string& a, const std::string& b) { return Utf8EqualNoCase(a, b); }

std::string LongPathForm(const std::string& path) {
  const bool drivePath = path.size() >= 3 && path[1] == ':' && path[2] == '\\';
  if (path.size() < MAX_PATH || !drivePath) return path;
  return "\\\\?\\" + path;
}

std::string GroupThousands(uint64_t n) {
  std::string digits = std::to_string(n);
  std::string out;
  size_t lead = digits.size() % 3;
  if (lead == 0) lead = 3;
  out.append(digits, 0, lead);
  for (size_t i = lead; i < digits.size(); i += 3) {
    out += ',';
    out.append(digits, i, 3);
  }
  return out;
}

std::string FormatByteSize(uint64_t bytes) {
  if (bytes < 1024) return Format("%u bytes", static_cast<unsigned>(bytes));
  static const char* const kUnits[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
  long double unit = 1024.0L;
  for (int u = 0; u < 6; ++u, unit *= 1024.0L) {
    const long double value = static_cast<long double>(bytes) / unit;
    if (value < 10.0L)
      return Format("%.2f %s", static_cast<double>(std::floor(value * 100.0L) / 100.0L), kUnits[u]);
    if (value < 100.0L)
      return Format("%.1f %s", static_cast<double>(std::floor(value * 10.0L) / 10.0L), kUnits[u]);
    if (value < 1000.0L || u == 5)
      return Format("%.0f %s", static_cast<double>(std::floor(value)), kUnits[u]);
  }
  return std::string();
}

std::string FormatElapsed(uint64_t milliseconds, bool withDays) {
  uint64_t seconds = milliseconds / 1000;
  const uint64_t days = seconds / 86400;
  seconds %= 86400;
  const unsigned h = static_cast<unsigned>(seconds / 3600);
  const unsigned m = static_cast<unsigned>(seconds / 60 % 60);
  const unsigned s = static_cast<unsigned>(seconds % 60);
  if (withDays)
    return Format("%llu:%02u:%02u:%02u", static_cast<unsigned long long>(days), h, m, s);
  return Format("%02u:%02u:%02u", h, m, s);
}

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string out;
  if (n > 0) {
    std::vector<char> buf(static_cast<size_t>(n) + 1);
    std::vsnprintf(buf.data(), buf.size(), format, args);
    out.assign(buf.data(), static_cast<size_t>(n));
  }
  va_end(args);
  return out;
}

}  // namespace vt
