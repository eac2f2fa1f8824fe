#include "contacts/phone_field.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace dialmend {
namespace {

struct FieldRow {
  PhoneField field;
  std::string_view label;
};

// In table order; the index of each row is the field's position in that order.
constexpr FieldRow kRows[] = {
    {PhoneField::Assistant, "Assistant"},
    {PhoneField::Business, "Business"},
    {PhoneField::Business2, "Business 2"},
    {PhoneField::BusinessFax, "Business Fax"},
    {PhoneField::Callback, "Callback"},
    {PhoneField::Car, "Car"},
    {PhoneField::CompanyMain, "Company"},
    {PhoneField::Home, "Home"},
    {PhoneField::Home2, "Home 2"},
    {PhoneField::HomeFax, "Home Fax"},
    {PhoneField::Isdn, "ISDN"},
    {PhoneField::Mobile, "Mobile"},
    {PhoneField::Other, "Other"},
    {PhoneField::OtherFax, "Other Fax"},
    {PhoneField::Pager, "Pager"},
    {PhoneField::Primary, "Primary"},
    {PhoneField::Radio, "Radio"},
    {PhoneField::Telex, "Telex"},
    {PhoneField::TtyTdd, "TTY/TTDD"},
};

// A label fits the log's column of twelve.
TEST(PhoneField, EnumeratesTheNineteenFieldsInTableOrderEachWithItsLabel) {
  ASSERT_EQ(std::size(kRows), static_cast<std::size_t>(kPhoneFieldCount));
  for (int i = 0; i < kPhoneFieldCount; ++i) {
    EXPECT_EQ(static_cast<int>(kRows[i].field), i) << kRows[i].label;
    EXPECT_EQ(PhoneFieldLabel(kRows[i].field), kRows[i].label);
    EXPECT_LE(PhoneFieldLabel(kRows[i].field).size(), 12u) << kRows[i].label;
  }
}

TEST(PhoneField, GivesAnEmptyLabelForAValueOutsideTheEnumeration) {
  const auto outside = static_cast<PhoneField>(kPhoneFieldCount);
  EXPECT_EQ(PhoneFieldLabel(outside), "");
}

}  // namespace
}  // namespace dialmend
