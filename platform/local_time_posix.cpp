#include <cstdio>

#include "platform/local_time.h"

namespace vt {

std::string UserTimeText(const SYSTEMTIME& t) {
  char buf[80];
  const unsigned hour12 = t.wHour % 12 == 0 ? 12u : t.wHour % 12u;
  std::snprintf(buf, sizeof(buf), "%u:%02u:%02u %s", hour12, static_cast<unsigned>(t.wMinute),
                static_cast<unsigned>(t.wSecond), t.wHour < 12 ? "AM" : "PM");
  return buf;
}

std::string UserShortDateText(const SYSTEMTIME& t) {
  char buf[80];
  std::snprintf(buf, sizeof(buf), "%u/%u/%u", static_cast<unsigned>(t.wMonth),
                static_cast<unsigned>(t.wDay), static_cast<unsigned>(t.wYear));
  return buf;
}

bool ToLocalCalendar(std::time_t when, std::tm* local) {
  return localtime_r(&when, local) != nullptr;
}

}  // namespace vt
