#include "run/window_texts.h"

#include <gtest/gtest.h>

#include <string>

#include "run/contact_run.h"

namespace dialmend {
namespace {

TEST(ProfileProblemText, SaysWhatWentWrongInTheStoresOwnWords) {
  const struct {
    std::string_view place, reason, text;
  } rows[] = {
      {"/home/ann/Contacts", "access is denied",
       "Cannot open the contacts at \"/home/ann/Contacts\": access is denied."},
      {"/x", "\"/x\": there is no such file or folder",
       "Cannot open the contacts: \"/x\": there is no such file or folder."},
      {"https://dav.example.org/", "Cannot open the address books at https://dav.example.org/: no",
       "Cannot open the address books at https://dav.example.org/: no."},
  };
  for (const auto& row : rows) EXPECT_EQ(ProfileProblemText(row.place, row.reason), row.text);
#ifdef _WIN32
  EXPECT_EQ(ProfileProblemText("", "Outlook could not be started"),
            std::string(kProfileProblem) + "\n(Outlook could not be started)");
#else
  EXPECT_EQ(ProfileProblemText("", "no address books found"),
            "Cannot open the contacts: no address books found.");
#endif
}

}  // namespace
}  // namespace dialmend
