#pragma once

#include <chrono>
#include <string>

namespace dialmend {

// The local date and time in the user's locale: the short date, a space, the time
// ("06/12/26 21:45:03"). Each program takes the user's format at start (UseUserDateFormat).
[[nodiscard]] std::string LocalDateTimeText(std::chrono::system_clock::time_point when);

}  // namespace dialmend
