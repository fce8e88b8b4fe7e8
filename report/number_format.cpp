#include "report/number_format.h"

#include <cstdio>

namespace vt {

std::string FormatGroupedNumber(uint64_t n) {
  const std::string digits = std::to_string(n);
  std::string out;
  out.reserve(digits.size() + digits.size() / 3);
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

namespace {

// floor(bytes * scale / unit) without overflowing 64 bits.
uint64_t Scaled(uint64_t bytes, uint64_t unit, uint64_t scale) {
  int shift = 0;
  while (shift < 20 && (unit >> shift) > (~uint64_t{0} / scale)) shift += 4;
  const uint64_t u = unit >> shift;
  const uint64_t whole = bytes / unit;
  const uint64_t rest = (bytes % unit) >> shift;
  return whole * scale + rest * scale / u;
}

}  // namespace

std::string FormatByteSize(uint64_t bytes) {
  static const char* const kUnits[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
  char buf[64];
  if (bytes < 1024) {
    std::snprintf(buf, sizeof(buf), "%u bytes", static_cast<unsigned>(bytes));
    return buf;
  }
  uint64_t unit = 1024;
  for (int k = 0; k < 6; ++k, unit <<= 10) {
    const bool last = k == 5;
    // Between 1000 and 1024 of a unit the next unit shows "0.97".
    if (bytes / unit < 10) {
      const uint64_t q = Scaled(bytes, unit, 100);
      std::snprintf(buf, sizeof(buf), "%llu.%02llu %s", static_cast<unsigned long long>(q / 100),
                    static_cast<unsigned long long>(q % 100), kUnits[k]);
      return buf;
    }
    if (bytes / unit < 100) {
      const uint64_t q = Scaled(bytes, unit, 10);
      std::snprintf(buf, sizeof(buf), "%llu.%llu %s", static_cast<unsigned long long>(q / 10),
                    static_cast<unsigned long long>(q % 10), kUnits[k]);
      return buf;
    }
    if (bytes / unit < 1000 || last) {
      std::snprintf(buf, sizeof(buf), "%llu %s", static_cast<unsigned long long>(bytes / unit),
                    kUnits[k]);
      return buf;
    }
  }
  return std::to_string(bytes) + " bytes";
}

}  // namespace vt
