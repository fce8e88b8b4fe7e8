// Local time and its texts for reports and log names; tests pin them.
#pragma once

#include <string>

#include "base/winshapes.h"

namespace vt {

class IReportClock {
 public:
  virtual ~IReportClock() = default;
  virtual SYSTEMTIME LocalTime() = 0;
  // The user's time and short-date formats (GetTimeFormat / GetDateFormat
  // with DATE_SHORTDATE on Windows).
  virtual std::string TimeText(const SYSTEMTIME& t) = 0;
  virtual std::string DateText(const SYSTEMTIME& t) = 0;
};

// The process's clock. Outside Windows the texts follow the US English
// defaults ("3:04:05 PM", "3/5/2009").
IReportClock& HostReportClock();

// "%Y-%m-%d" of the date, as log files are named.
std::string IsoDate(const SYSTEMTIME& t);

}  // namespace vt
