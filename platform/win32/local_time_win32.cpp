#include "platform/local_time.h"

namespace vt {

std::string UserTimeText(const SYSTEMTIME& t) {
  char buf[80];
  if (::GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &t, nullptr, buf, sizeof(buf)) == 0) return "";
  return buf;
}

std::string UserShortDateText(const SYSTEMTIME& t) {
  char buf[80];
  if (::GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &t, nullptr, buf, sizeof(buf)) == 0)
    return "";
  return buf;
}

bool ToLocalCalendar(std::time_t when, std::tm* local) { return localtime_s(local, &when) == 0; }

}  // namespace vt
