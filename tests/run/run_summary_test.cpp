#include <gtest/gtest.h>

#include <string>

#include "run/run_summary.h"

namespace dialmend {
namespace {

TEST(UndoSummary, CountsWhatWasRestoredAndLeft) {
  SummaryFacts facts;
  facts.completed = true;
  facts.update = true;
  facts.undo = true;
  facts.counters.updated = 2;
  facts.counters.numbers = 3;
  facts.counters.left = 1;
  facts.counters.problems = 1;
  facts.now_text = "NOW";
  EXPECT_EQ(SummaryText(facts),
            "\r\nUndo complete - NOW\r\n\r\n"
            "Overall running time: 0 secs\r\n\r\n"
            "Summary:\r\n"
            "Contacts restored: 2\r\n"
            "Numbers restored:  3\r\n"
            "Left because changed: 1\r\n"
            "Could not find: 0\r\n"
            "Problems: 1\r\n");
}

}  // namespace
}  // namespace dialmend
