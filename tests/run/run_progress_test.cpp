#include "run/run_progress.h"

#include <gtest/gtest.h>

#include <string>

namespace dialmend {
namespace {

using std::chrono::seconds;

struct CaptionRow {
  const char* name;
  seconds elapsed;
  std::int64_t done;
  std::optional<std::int64_t> total;
  std::string expected;
};

class ProgressCaptionRows : public testing::TestWithParam<CaptionRow> {};

TEST_P(ProgressCaptionRows, ReadsAsExpected) {
  const CaptionRow& row = GetParam();
  EXPECT_EQ(ProgressCaption(row.elapsed, row.done, row.total), row.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Captions, ProgressCaptionRows,
    testing::Values(CaptionRow{"NoTimeLeftBeforeTheFirstContact", seconds(1), 0, 10000,
                               "0 of 10,000 contacts"},
                    CaptionRow{"MinutesAtThePaceSoFar", seconds(60), 1234, 10000,
                               "1,234 of 10,000 contacts, about 7 min left"},
                    CaptionRow{"UnderAMinute", seconds(2), 999, 1000,
                               "999 of 1,000 contacts, less than a minute left"},
                    CaptionRow{"HoursAndMinutes", seconds(3000), 1000, 3500,
                               "1,000 of 3,500 contacts, about 2 h 5 min left"},
                    CaptionRow{"UncountedStore", seconds(9), 1, std::nullopt, "1 contact"},
                    CaptionRow{"PastTheCount", seconds(9), 9999999, 9999998, "9,999,999 contacts"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace dialmend
