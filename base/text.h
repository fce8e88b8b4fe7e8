// Text helpers shared by the engine and its hosts: comparisons, grouped
// numbers, byte sizes and elapsed times in the program's formats.
#pragma once

#include <cstdint>
#include <string>

namespace vt {

// Case-insensitive comparison of UTF-8 names, folding letters as the file
// systems do (Latin, Greek, Cyrillic and others; not only ASCII).
bool EqualsNoCase(const std::string& a, const std::string& b);
std::string ToLowerAscii(std::string s);

// A drive path of MAX_PATH characters or more in its \\?\ form, which every
// Windows takes at any length; shorter paths stay as they are.
std::string LongPathForm(const std::string& path);

// 1234567 -> "1,234,567".
std::string GroupThousands(uint64_t n);

// The platform's byte-size notation: "512 bytes", "1.50 KB", "12.3 MB",
// "120 GB" (three significant digits, truncated, binary units).
std::string FormatByteSize(uint64_t bytes);

// Elapsed time as "%H:%M:%S" (hours within the day), or "%D:%H:%M:%S" with
// the whole days in front when withDays is set.
std::string FormatElapsed(uint64_t milliseconds, bool withDays = false);

// printf into a std::string.
std::string Format(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

}  // namespace vt
