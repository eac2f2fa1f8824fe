#include "platform/date_format.h"

#include <clocale>

namespace dialmend {

void UseUserDateFormat() {
  // Only LC_TIME: numbers in the log and in files keep the C locale's digits and points.
  std::setlocale(LC_TIME, "");
}

}  // namespace dialmend
