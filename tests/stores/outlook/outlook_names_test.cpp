#include "stores/outlook/outlook_names.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace dialmend {
namespace {

struct PropertyRow {
  PhoneField field;
  std::string_view property;
};

class PhoneFieldProperties : public testing::TestWithParam<PropertyRow> {};

TEST_P(PhoneFieldProperties, NameTheOutlookPropertyOfTheField) {
  EXPECT_EQ(PhoneFieldProperty(GetParam().field), GetParam().property);
}

constexpr PropertyRow kRows[] = {
    {PhoneField::Assistant, "AssistantTelephoneNumber"},
    {PhoneField::Business, "BusinessTelephoneNumber"},
    {PhoneField::Business2, "Business2TelephoneNumber"},
    {PhoneField::BusinessFax, "BusinessFaxNumber"},
    {PhoneField::Callback, "CallbackTelephoneNumber"},
    {PhoneField::Car, "CarTelephoneNumber"},
    {PhoneField::CompanyMain, "CompanyMainTelephoneNumber"},
    {PhoneField::Home, "HomeTelephoneNumber"},
    {PhoneField::Home2, "Home2TelephoneNumber"},
    {PhoneField::HomeFax, "HomeFaxNumber"},
    {PhoneField::Isdn, "ISDNNumber"},
    {PhoneField::Mobile, "MobileTelephoneNumber"},
    {PhoneField::Other, "OtherTelephoneNumber"},
    {PhoneField::OtherFax, "OtherFaxNumber"},
    {PhoneField::Pager, "PagerNumber"},
    {PhoneField::Primary, "PrimaryTelephoneNumber"},
    {PhoneField::Radio, "RadioTelephoneNumber"},
    {PhoneField::Telex, "TelexNumber"},
    {PhoneField::TtyTdd, "TTYTDDTelephoneNumber"},
};

INSTANTIATE_TEST_SUITE_P(AllFields, PhoneFieldProperties, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<PropertyRow>& info) {
                           return std::string(info.param.property);
                         });

TEST(OutlookNames, GiveNoPropertyForAValueOutsideTheEnumeration) {
  EXPECT_EQ(PhoneFieldProperty(static_cast<PhoneField>(kPhoneFieldCount)), "");
}

TEST(OutlookNames, MapContactAndDistributionListClassesToKinds) {
  EXPECT_EQ(ItemKindOfClass(40), ItemKind::Contact);
  EXPECT_EQ(ItemKindOfClass(69), ItemKind::Group);
  EXPECT_EQ(ItemKindOfClass(43), ItemKind::Other);
}

TEST(OutlookNames, TakeOnlyContactFoldersForContacts) {
  EXPECT_EQ(FolderKindOfItemType(2), FolderKind::Contacts);
  EXPECT_EQ(FolderKindOfItemType(1), FolderKind::Other);
}

}  // namespace
}  // namespace dialmend
