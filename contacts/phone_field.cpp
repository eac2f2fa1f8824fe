#include "contacts/phone_field.h"

#include <array>
#include <cstddef>

namespace dialmend {
namespace {

constexpr std::array<std::string_view, kPhoneFieldCount> kLabels{{
    "Assistant", "Business", "Business 2", "Business Fax", "Callback", "Car",   "Company",
    "Home",      "Home 2",   "Home Fax",   "ISDN",         "Mobile",   "Other", "Other Fax",
    "Pager",     "Primary",  "Radio",      "Telex",        "TTY/TTDD",
}};

static_assert(static_cast<int>(PhoneField::TtyTdd) + 1 == kPhoneFieldCount);

}  // namespace

std::string_view PhoneFieldLabel(PhoneField field) {
  const auto index = static_cast<std::size_t>(field);
  // A value outside the enumeration can only come from a cast; it gets empty text rather than
  // undefined behaviour.
  return index < kLabels.size() ? kLabels[index] : std::string_view();
}

}  // namespace dialmend
