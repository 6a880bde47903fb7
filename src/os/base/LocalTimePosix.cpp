#include "os/base/LocalTime.h"

namespace os {

std::string LocalTimeText(std::time_t when) {
  char stamp[32] = {};
  if (!ctime_r(&when, stamp)) stamp[0] = 0;
  for (char* p = stamp; *p; ++p)
    if (*p == '\n') *p = 0;
  return stamp;
}

}  // namespace os
