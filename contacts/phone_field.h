#pragma once

#include <string_view>

namespace dialmend {

// The nineteen telephone fields of a contact, in the order they are processed and reported.
enum class PhoneField {
  Assistant,
  Business,
  Business2,
  BusinessFax,
  Callback,
  Car,
  CompanyMain,
  Home,
  Home2,
  HomeFax,
  Isdn,
  Mobile,
  Other,
  OtherFax,
  Pager,
  Primary,
  Radio,
  Telex,
  TtyTdd,
};

// The number of PhoneField values; PhoneField{0} to PhoneField{kPhoneFieldCount - 1} are all valid.
inline constexpr int kPhoneFieldCount = 19;

// The text that names the field in a change line; at most 12 characters. A value outside the
// enumeration gives empty text.
std::string_view PhoneFieldLabel(PhoneField field);

}  // namespace dialmend
