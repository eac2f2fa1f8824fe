#include "platform/environment.h"

#include <gtest/gtest.h>

namespace dialmend {
namespace {

TEST(HttpDate, ReadsTheServersDateInUtcAndNothingElse) {
  const std::optional<std::chrono::sys_seconds> when = HttpDate("Sun, 06 Nov 1994 08:49:37 GMT");
  ASSERT_TRUE(when.has_value());
  EXPECT_EQ(when->time_since_epoch().count(), 784111777);
  EXPECT_FALSE(HttpDate("in an hour").has_value());
}

}  // namespace
}  // namespace dialmend
