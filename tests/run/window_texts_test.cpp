#include "run/window_texts.h"

#include <gtest/gtest.h>

#include <string>

#include "run/contact_run.h"

namespace dialmend {
namespace {

TEST(ProfileProblemText, FollowsTheTwoLinesWithThePathOnceAndTheReason) {
  const std::string lines(kProfileProblem);
  EXPECT_EQ(ProfileProblemText("/home/ann/Contacts", "access is denied"),
            lines + "\n(\"/home/ann/Contacts\": access is denied)");
  EXPECT_EQ(ProfileProblemText("/x", "\"/x\": there is no such file or folder"),
            lines + "\n(\"/x\": there is no such file or folder)");
  EXPECT_EQ(ProfileProblemText("", "Outlook could not be started"),
            lines + "\n(Outlook could not be started)");
}

}  // namespace
}  // namespace dialmend
