// The local time as the log stamps its lines. Any thread.
#pragma once

#include <ctime>
#include <string>

namespace os {

// when in the C library's ctime format ("Fri Dec 11 00:51:55 2026") without the line end; empty
// when it cannot be converted.
std::string LocalTimeText(std::time_t when);

}  // namespace os
