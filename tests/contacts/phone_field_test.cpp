#include "contacts/phone_field.h"

#include <gtest/gtest.h>

namespace dialmend {
namespace {

// The labels themselves are read back in the vCard and log tests, which name every field.
TEST(PhoneField, GivesAnEmptyLabelForAValueOutsideTheEnumeration) {
  const auto outside = static_cast<PhoneField>(kPhoneFieldCount);
  EXPECT_EQ(PhoneFieldLabel(outside), "");
}

}  // namespace
}  // namespace dialmend
