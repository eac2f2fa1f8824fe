#include "run/window_texts.h"

#include <gtest/gtest.h>

#include <string>

#include "run/contact_run.h"

namespace dialmend {
namespace {

TEST(ProfileProblemText, FollowsTheDesignedLinesWithThePathAndTheReason) {
  EXPECT_EQ(ProfileProblemText("/home/ann/Contacts", "access is denied"),
            std::string(kProfileProblem) + "\n(\"/home/ann/Contacts\": access is denied)");
}

TEST(ProfileProblemText, NamesThePathOnceWhenTheReasonNamesIt) {
  EXPECT_EQ(ProfileProblemText("/x", "\"/x\": there is no such file or folder"),
            std::string(kProfileProblem) + "\n(\"/x\": there is no such file or folder)");
}

TEST(ProfileProblemText, GivesTheReasonAloneWithoutAPath) {
  EXPECT_EQ(ProfileProblemText("", "Outlook could not be started"),
            std::string(kProfileProblem) + "\n(Outlook could not be started)");
}

}  // namespace
}  // namespace dialmend
