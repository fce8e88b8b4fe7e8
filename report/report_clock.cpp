#include "report/report_clock.h"

#include <cstdio>

#include "platform/local_time.h"
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

  std::string TimeText(const SYSTEMTIME& t) override { return UserTimeText(t); }
  std::string DateText(const SYSTEMTIME& t) override { return UserShortDateText(t); }
};

}  // namespace

IReportClock& HostReportClock() {
  static CHostReportClock clock;
  return clock;
}

}  // namespace vt
