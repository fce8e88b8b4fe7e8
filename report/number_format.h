// Number and size texts as the user sees them.
#pragma once

#include <cstdint>
#include <string>

namespace vt {

// Decimal digits with a comma every three: 1234567 -> "1,234,567".
std::string FormatGroupedNumber(uint64_t n);

// A byte count with at most three significant digits and a unit, truncated
// as the Windows shell does: "532 bytes", "1.30 KB", "22.9 KB", "2.28 MB".
std::string FormatByteSize(uint64_t bytes);

}  // namespace vt
