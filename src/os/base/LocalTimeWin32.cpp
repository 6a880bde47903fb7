#include <cstdio>
#include <ctime>

#include "os/base/LocalTime.h"

namespace os {

std::string LocalTimeText(std::time_t when) {
  // The C runtime's thread-safe localtime; the text is formatted here as ctime() would.
  std::tm parts{};
  if (localtime_s(&parts, &when) != 0) return {};
  static const char kDays[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  if (parts.tm_wday < 0 || parts.tm_wday > 6 || parts.tm_mon < 0 || parts.tm_mon > 11) return {};
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%s %s %2d %02d:%02d:%02d %d", kDays[parts.tm_wday], kMonths[parts.tm_mon],
                parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec, parts.tm_year + 1900);
  return stamp;
}

}  // namespace os
