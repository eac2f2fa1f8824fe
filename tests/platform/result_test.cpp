#include "platform/result.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace dialmend {
namespace {

TEST(Status, IsOkWithNoMessageOrReasonByDefault) {
  const Status status;
  EXPECT_TRUE(status.Ok());
  EXPECT_EQ(status.Message(), "");
  EXPECT_EQ(status.Reason(), "");
}

TEST(Status, FailureKeepsItsMessageAsTheReasonUnlessGivenOneApart) {
  const Status status = Status::Failure("\"/x\" is not a folder");
  EXPECT_FALSE(status.Ok());
  EXPECT_EQ(status.Message(), "\"/x\" is not a folder");
  EXPECT_EQ(status.Reason(), "\"/x\" is not a folder");
  const Status apart =
      Status::Failure("Cannot save \"Ann.vcf\": permission denied.", "permission denied");
  EXPECT_EQ(apart.Message(), "Cannot save \"Ann.vcf\": permission denied.");
  EXPECT_EQ(apart.Reason(), "permission denied");
  EXPECT_FALSE(Status::Failure("").Ok()) << "an empty message is still a failure";
}

TEST(Result, HoldsAValueThatCanBeMovedOut) {
  Result<std::unique_ptr<int>> result = std::make_unique<int>(7);
  ASSERT_TRUE(result.Ok());
  EXPECT_EQ(result.Message(), "");
  const std::unique_ptr<int> value = std::move(result.Value());
  EXPECT_EQ(*value, 7);
}

TEST(Result, FailureHasNoValueAndKeepsItsMessage) {
  const Result<std::string> result = Result<std::string>::Failure("no address books found");
  EXPECT_FALSE(result.Ok());
  EXPECT_EQ(result.Message(), "no address books found");
}

}  // namespace
}  // namespace dialmend
