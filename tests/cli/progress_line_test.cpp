#include "cli/progress_line.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/cli/capture.h"

namespace dialmend {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

struct TextRow {
  const char* name;
  ProgressFacts facts;
  std::size_t columns;
  std::string expected;
};

class ProgressTextRows : public testing::TestWithParam<TextRow> {};

TEST_P(ProgressTextRows, ReadsAsExpected) {
  EXPECT_EQ(ProgressText(GetParam().facts, GetParam().columns), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ProgressTextRows,
    testing::Values(
        TextRow{"CountedWithTimeLeft",
                {"\\Work", 250, 1000, 40, seconds(30)},
                80,
                "\\Work  contacts 250 of 1000  numbers 40  0:30 elapsed, 1:30 left"},
        TextRow{"NoTimeLeftBeforeTheFirstContact",
                {"\\Work", 0, 1000, 0, seconds(1)},
                80,
                "\\Work  contacts 0 of 1000  numbers 0  0:01 elapsed"},
        TextRow{"UncountedStoreShowsNoTotal",
                {"\\Work", 7, std::nullopt, 2, seconds(3725)},
                80,
                "\\Work  contacts 7  numbers 2  1:02:05 elapsed"},
        // A file of many cards counts as one: past the count, "of N" would mislead.
        TextRow{"MoreContactsThanCountedShowsNoTotal",
                {"", 12, 10, 0, seconds(5)},
                80,
                "contacts 12  numbers 0  0:05 elapsed"},
        TextRow{"LongFolderKeepsItsEnd",
                {"\\Work\\Clients\\Riverside Dental", 1, 4, 0, seconds(2)},
                70,
                "...erside Dental  contacts 1 of 4  numbers 0  0:02 elapsed, 0:06 left"},
        TextRow{
            "NarrowTerminalCutsTheEnd", {"\\Work", 1, 4, 0, seconds(2)}, 20, "contacts 1 of 4  nu"},
        TextRow{"FolderNamesCountCodePointsNotBytes",
                {"\\Caf\xC3\xA9s", 1, std::nullopt, 0, seconds(0)},
                44,  // exactly room for the folder's six characters (seven bytes)
                "\\Caf\xC3\xA9s  contacts 1  numbers 0  0:00 elapsed"}),
    [](const testing::TestParamInfo<TextRow>& row) { return std::string(row.param.name); });

// A clock the test moves by hand.
struct ManualClock {
  std::chrono::steady_clock::time_point now{};
  ProgressLine::Clock Seam() {
    return [this] { return now; };
  }
};

TEST(ProgressLine, RedrawsAtMostTenTimesASecond) {
  std::FILE* out = std::tmpfile();
  ManualClock clock;
  ProgressLine line(out, 80, clock.Seam());
  line.SetTotal(10);
  line.Start();
  RunCounters counters;
  line.Update(counters);
  counters.checked = 1;
  clock.now += milliseconds(99);
  line.Update(counters);  // too soon: not drawn
  counters.checked = 2;
  clock.now += milliseconds(1);
  line.Update(counters);
  EXPECT_EQ(Slurp(out),
            "\rcontacts 0 of 10  numbers 0  0:00 elapsed"
            "\rcontacts 2 of 10  numbers 0  0:00 elapsed, 0:00 left");
}

TEST(ProgressLine, BlanksWhatALongerLineLeftAndErasesAtTheEnd) {
  std::FILE* out = std::tmpfile();
  ManualClock clock;
  ProgressLine line(out, 80, clock.Seam());
  line.Start();
  line.Erase();  // never drawn: nothing written
  line.SetFolder("\\Work");
  line.Update({});
  line.SetFolder("");
  clock.now += seconds(1);
  line.Update({});
  line.Erase();
  line.Erase();  // nothing shown: nothing written
  const std::string first = "\\Work  contacts 0  numbers 0  0:00 elapsed";
  const std::string second = "contacts 0  numbers 0  0:01 elapsed";
  EXPECT_EQ(Slurp(out), "\r" + first + "\r" + second +
                            std::string(first.size() - second.size(), ' ') + "\r" +
                            std::string(second.size(), ' ') + "\r");
}

}  // namespace
}  // namespace dialmend
