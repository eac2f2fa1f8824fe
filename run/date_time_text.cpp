#include "run/date_time_text.h"

#include <ctime>

#include "platform/environment.h"

namespace dialmend {

std::string LocalDateTimeText(std::chrono::system_clock::time_point when) {
  const std::tm local = LocalTime(when);
  char text[128];
  const std::size_t n = std::strftime(text, sizeof text, "%x %X", &local);
  return std::string(text, n);
}

}  // namespace dialmend
