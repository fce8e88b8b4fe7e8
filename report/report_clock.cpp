#include "report/report_clock.h"

#include <cstdio>

#include "platform/system_ops.h"

namespace vt {

std::string IsoDate(const SYSTEMTIME& t) {
  char buf[32];
  std::snprintf(buf, sizeof(buf), "%04u-%02u-%02u", static_cast<unsigned>(t.wYear),
                static_cast<unsigned>(t.wMonth), static_cast<unsigned>(t.wDay));
  return buf;
}

namespace {

class CHostReportClock : public IReportClock {
 public:
  SYSTEMTIME LocalTime() override { return HostSystem().GetLocalTime(); }

#ifdef _WIN32
  std::string TimeText(const SYSTEMTIME& t) override {
    char buf[80];
    if (::GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &t, nullptr, buf, sizeof(buf)) == 0) return "";
    return buf;
  }
  std::string DateText(const SYSTEMTIME& t) override {
    char buf[80];
    if (::GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &t, nullptr, buf, sizeof(buf)) == 0)
      return "";
    return buf;
  }
#else
  std::string TimeText(const SYSTEMTIME& t) override {
    char buf[80];
    const unsigned hour12 = t.wHour % 12 == 0 ? 12u : t.wHour % 12u;
    std::snprintf(buf, sizeof(buf), "%u:%02u:%02u %s", hour12, static_cast<unsigned>(t.wMinute),
                  static_cast<unsigned>(t.wSecond), t.wHour < 12 ? "AM" : "PM");
    return buf;
  }
  std::string DateText(const SYSTEMTIME& t) override {
    char buf[80];
    std::snprintf(buf, sizeof(buf), "%u/%u/%u", static_cast<unsigned>(t.wMonth),
                  static_cast<unsigned>(t.wDay), static_cast<unsigned>(t.wYear));
    return buf;
  }
#endif
};

}  // namespace

IReportClock& HostReportClock() {
  static CHostReportClock clock;
  return clock;
}

}  // namespace vt
