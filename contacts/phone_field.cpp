#include "contacts/phone_field.h"

#include <array>
#include <cstddef>

namespace dialmend {
namespace {

struct FieldNames {
  std::string_view label;
  std::string_view property;
};

constexpr std::array<FieldNames, kPhoneFieldCount> kFieldNames{{
    {"Assistant", "AssistantTelephoneNumber"},
    {"Business", "BusinessTelephoneNumber"},
    {"Business 2", "Business2TelephoneNumber"},
    {"Business Fax", "BusinessFaxNumber"},
    {"Callback", "CallbackTelephoneNumber"},
    {"Car", "CarTelephoneNumber"},
    {"Company", "CompanyMainTelephoneNumber"},
    {"Home", "HomeTelephoneNumber"},
    {"Home 2", "Home2TelephoneNumber"},
    {"Home Fax", "HomeFaxNumber"},
    {"ISDN", "ISDNNumber"},
    {"Mobile", "MobileTelephoneNumber"},
    {"Other", "OtherTelephoneNumber"},
    {"Other Fax", "OtherFaxNumber"},
    {"Pager", "PagerNumber"},
    {"Primary", "PrimaryTelephoneNumber"},
    {"Radio", "RadioTelephoneNumber"},
    {"Telex", "TelexNumber"},
    {"TTY/TTDD", "TTYTDDTelephoneNumber"},
}};

static_assert(static_cast<int>(PhoneField::TtyTdd) + 1 == kPhoneFieldCount);

constexpr FieldNames kNoField{"", ""};

const FieldNames& NamesOf(PhoneField field) {
  const auto index = static_cast<std::size_t>(field);
  // A value outside the enumeration can only come from a cast; it gets empty names rather than
  // undefined behaviour.
  return index < kFieldNames.size() ? kFieldNames[index] : kNoField;
}

}  // namespace

std::string_view PhoneFieldLabel(PhoneField field) {
  return NamesOf(field).label;
}

std::string_view PhoneFieldProperty(PhoneField field) {
  return NamesOf(field).property;
}

}  // namespace dialmend
