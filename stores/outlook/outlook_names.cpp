#include "stores/outlook/outlook_names.h"

#include <array>
#include <cstddef>

namespace dialmend {
namespace {

constexpr std::array<std::string_view, kPhoneFieldCount> kProperties{{
    "AssistantTelephoneNumber",
    "BusinessTelephoneNumber",
    "Business2TelephoneNumber",
    "BusinessFaxNumber",
    "CallbackTelephoneNumber",
    "CarTelephoneNumber",
    "CompanyMainTelephoneNumber",
    "HomeTelephoneNumber",
    "Home2TelephoneNumber",
    "HomeFaxNumber",
    "ISDNNumber",
    "MobileTelephoneNumber",
    "OtherTelephoneNumber",
    "OtherFaxNumber",
    "PagerNumber",
    "PrimaryTelephoneNumber",
    "RadioTelephoneNumber",
    "TelexNumber",
    "TTYTDDTelephoneNumber",
}};

static_assert(static_cast<int>(PhoneField::TtyTdd) + 1 == kPhoneFieldCount);

}  // namespace

ItemKind ItemKindOfClass(int item_class) {
  if (item_class == kOutlookContactClass) return ItemKind::Contact;
  if (item_class == kOutlookDistributionListClass) return ItemKind::Group;
  return ItemKind::Other;
}

FolderKind FolderKindOfItemType(int default_item_type) {
  return default_item_type == kOutlookContactFolderType ? FolderKind::Contacts : FolderKind::Other;
}

std::string OutlookIdentity(std::string_view entry_id, std::string_view store_id) {
  std::string identity(entry_id);
  if (!store_id.empty()) identity.append("@").append(store_id);
  return identity;
}

std::pair<std::string_view, std::string_view> SplitOutlookIdentity(std::string_view identity) {
  const auto at = identity.find('@');
  if (at == std::string_view::npos) return {identity, {}};
  return {identity.substr(0, at), identity.substr(at + 1)};
}

std::string_view PhoneFieldProperty(PhoneField field) {
  const auto index = static_cast<std::size_t>(field);
  // A value outside the enumeration can only come from a cast; it gets empty text rather than
  // undefined behaviour.
  return index < kProperties.size() ? kProperties[index] : std::string_view();
}

}  // namespace dialmend
