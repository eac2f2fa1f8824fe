#include "platform/result.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace dialmend {
namespace {

TEST(Status, IsOkWithNoMessageByDefault) {
  const Status status;
  EXPECT_TRUE(status.Ok());
  EXPECT_EQ(status.Message(), "");
}

TEST(Status, FailureKeepsItsMessage) {
  const Status status = Status::Failure("\"/x\" is not a folder");
  EXPECT_FALSE(status.Ok());
  EXPECT_EQ(status.Message(), "\"/x\" is not a folder");
}

TEST(Status, FailureKeepsItsReasonApartFromItsMessage) {
  const Status status =
      Status::Failure("Cannot save \"Ann.vcf\": permission denied.", "permission denied");
  EXPECT_EQ(status.Message(), "Cannot save \"Ann.vcf\": permission denied.");
  EXPECT_EQ(status.Reason(), "permission denied");
}

TEST(Status, ReasonIsTheMessageWhenTheFailureGaveNone) {
  EXPECT_EQ(Status::Failure("\"/x\" is not a folder").Reason(), "\"/x\" is not a folder");
  EXPECT_EQ(Status().Reason(), "");
}

TEST(Status, FailureWithAnEmptyMessageIsStillAFailure) {
  EXPECT_FALSE(Status::Failure("").Ok());
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
