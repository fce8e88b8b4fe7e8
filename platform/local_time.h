// The user's local time texts and the C library's local calendar.
#pragma once

#include <ctime>
#include <string>

#include "base/winshapes.h"

namespace vt {

// The user's time and short-date formats (GetTimeFormat / GetDateFormat
// with DATE_SHORTDATE on Windows). Outside Windows the texts follow the US
// English defaults ("3:04:05 PM", "3/5/2009"). Empty when formatting fails.
std::string UserTimeText(const SYSTEMTIME& t);
std::string UserShortDateText(const SYSTEMTIME& t);

// The local calendar time of when; false when the C library cannot give it.
bool ToLocalCalendar(std::time_t when, std::tm* local);

}  // namespace vt
