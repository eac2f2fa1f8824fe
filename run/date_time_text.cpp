#include "run/date_time_text.h"

#include <ctime>

namespace dialmend {

std::string LocalDateTimeText(std::chrono::system_clock::time_point when) {
  const std::time_t t = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &t);
#else
  localtime_r(&t, &local);
#endif
  char text[128];
  const std::size_t n = std::strftime(text, sizeof text, "%x %X", &local);
  return std::string(text, n);
}

}  // namespace dialmend
