#include "contacts/phone_field.h"

#include <gtest/gtest.h>

#include <string_view>

namespace dialmend {
namespace {

struct FieldRow {
  PhoneField field;
  std::string_view label;
  std::string_view property;
};

class PhoneFieldNames : public testing::TestWithParam<FieldRow> {};

TEST_P(PhoneFieldNames, GiveTheLabelAndPropertyOfTheField) {
  const FieldRow& row = GetParam();
  EXPECT_EQ(PhoneFieldLabel(row.field), row.label);
  EXPECT_EQ(PhoneFieldProperty(row.field), row.property);
  EXPECT_LE(PhoneFieldLabel(row.field).size(), 12u);
}

// In table order; the index of each row is the field's position in that order.
constexpr FieldRow kRows[] = {
    {PhoneField::Assistant, "Assistant", "AssistantTelephoneNumber"},
    {PhoneField::Business, "Business", "BusinessTelephoneNumber"},
    {PhoneField::Business2, "Business 2", "Business2TelephoneNumber"},
    {PhoneField::BusinessFax, "Business Fax", "BusinessFaxNumber"},
    {PhoneField::Callback, "Callback", "CallbackTelephoneNumber"},
    {PhoneField::Car, "Car", "CarTelephoneNumber"},
    {PhoneField::CompanyMain, "Company", "CompanyMainTelephoneNumber"},
    {PhoneField::Home, "Home", "HomeTelephoneNumber"},
    {PhoneField::Home2, "Home 2", "Home2TelephoneNumber"},
    {PhoneField::HomeFax, "Home Fax", "HomeFaxNumber"},
    {PhoneField::Isdn, "ISDN", "ISDNNumber"},
    {PhoneField::Mobile, "Mobile", "MobileTelephoneNumber"},
    {PhoneField::Other, "Other", "OtherTelephoneNumber"},
    {PhoneField::OtherFax, "Other Fax", "OtherFaxNumber"},
    {PhoneField::Pager, "Pager", "PagerNumber"},
    {PhoneField::Primary, "Primary", "PrimaryTelephoneNumber"},
    {PhoneField::Radio, "Radio", "RadioTelephoneNumber"},
    {PhoneField::Telex, "Telex", "TelexNumber"},
    {PhoneField::TtyTdd, "TTY/TTDD", "TTYTDDTelephoneNumber"},
};

INSTANTIATE_TEST_SUITE_P(AllFields, PhoneFieldNames, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<FieldRow>& info) {
                           return std::string(PhoneFieldProperty(info.param.field));
                         });

TEST(PhoneField, EnumeratesTheNineteenFieldsInTableOrder) {
  ASSERT_EQ(std::size(kRows), static_cast<std::size_t>(kPhoneFieldCount));
  for (int i = 0; i < kPhoneFieldCount; ++i) {
    EXPECT_EQ(static_cast<int>(kRows[i].field), i) << kRows[i].label;
  }
}

TEST(PhoneField, GivesEmptyNamesForAValueOutsideTheEnumeration) {
  const auto outside = static_cast<PhoneField>(kPhoneFieldCount);
  EXPECT_EQ(PhoneFieldLabel(outside), "");
  EXPECT_EQ(PhoneFieldProperty(outside), "");
}

}  // namespace
}  // namespace dialmend
