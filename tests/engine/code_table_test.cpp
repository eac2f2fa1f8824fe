#include "engine/code_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "engine/fix_number.h"

namespace dialmend {
namespace {

TEST(CodeTable, FindsEveryRowByItsOldCodeOnly) {
  for (const CodeChange& row : CodeChanges()) {
    EXPECT_EQ(FindCodeChange(row.old_code), &row) << row.old_code;
    EXPECT_EQ(FindCodeChange(std::string(row.old_code) + "0"), nullptr) << row.old_code;
    EXPECT_EQ(FindCodeChange(row.old_code.substr(1)), nullptr) << row.old_code;
  }
  EXPECT_EQ(FindCodeChange(""), nullptr);
  EXPECT_EQ(FindCodeChange("0121"), nullptr);
  EXPECT_EQ(FindCodeChange("0020"), nullptr);
  EXPECT_EQ(FindCodeChange("0000171"), nullptr);
  EXPECT_EQ(FindCodeChange("01x1"), nullptr);
}

// A complete old number, one digit for each placeholder, becomes an eleven-digit number that
// starts with the new code and ends with the old local digits, whatever the row.
TEST(CodeTable, EveryRowTurnsCompleteOldNumberIntoElevenDigits) {
  NumberOptions compact;
  compact.style = NumberStyle::Compact;
  for (const CodeChange& row : CodeChanges()) {
    const auto placeholders = std::count(row.pattern.begin(), row.pattern.end(), 'X');
    const std::string local = std::string("987654321").substr(0, placeholders);
    const std::string result = FixNumber(std::string(row.old_code) + " " + local, compact);
    EXPECT_EQ(result.size(), 11u) << row.old_code << " " << local << " -> " << result;
    EXPECT_TRUE(result.starts_with(row.new_code)) << row.old_code << " -> " << result;
    EXPECT_TRUE(result.ends_with(local)) << row.old_code << " -> " << result;
  }
}

}  // namespace
}  // namespace dialmend
