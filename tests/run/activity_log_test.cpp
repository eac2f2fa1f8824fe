#include "run/activity_log.h"

#include <gtest/gtest.h>

#include <string>

namespace dialmend {
namespace {

TEST(ActivityLog, AppendsUnchangedAndTellsTheListener) {
  ActivityLog log;
  std::string heard;
  log.SetListener([&](std::string_view text) { heard += "[" + std::string(text) + "]"; });
  log.WriteLog("abc");
  log.WriteLog("def");
  log.WriteLog("\r\n");
  EXPECT_EQ(log.Text(), "abcdef\r\n");
  EXPECT_EQ(heard, "[abc][def][\r\n]");
  log.Clear();
  EXPECT_EQ(log.Text(), "");
}

}  // namespace
}  // namespace dialmend
