#include "platform/reason.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <system_error>

namespace dialmend {
namespace {

struct ReasonRow {
  const char* name;
  std::string text;
  std::string reason;
};

class ReasonRows : public testing::TestWithParam<ReasonRow> {};

TEST_P(ReasonRows, SitAfterAColon) {
  EXPECT_EQ(AsReason(GetParam().text), GetParam().reason);
}

INSTANTIATE_TEST_SUITE_P(
    Reason, ReasonRows,
    testing::Values(ReasonRow{"LowersAWord", "Permission denied", "permission denied"},
                    ReasonRow{"KeepsAnInitialism", "RPC struct is bad", "RPC struct is bad"},
                    ReasonRow{"KeepsLowerCase", "no space left", "no space left"},
                    ReasonRow{"KeepsOneLetter", "A", "A"}, ReasonRow{"KeepsEmpty", "", ""}),
    [](const testing::TestParamInfo<ReasonRow>& info) { return info.param.name; });

TEST(Reason, GivesTheSystemsWordsForAnErrorCode) {
  EXPECT_EQ(ErrorText(std::error_code(ENOENT, std::generic_category())),
            "no such file or directory");
}

}  // namespace
}  // namespace dialmend
