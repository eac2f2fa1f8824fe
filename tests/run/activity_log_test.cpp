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

TEST(ActivityLog, KeepsNoCopyWhenToldNotToButStillTellsTheListener) {
  ActivityLog log(false);
  std::string heard;
  log.SetListener([&](std::string_view text) { heard += text; });
  log.WriteLog("abc\r\n");
  log.WriteLog("def\r\n");
  EXPECT_EQ(heard, "abc\r\ndef\r\n");
  EXPECT_EQ(log.Text(), "");
}

}  // namespace
}  // namespace dialmend
