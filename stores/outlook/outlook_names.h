#pragma once

#include <string_view>

#include "contacts/contact_store.h"
#include "contacts/phone_field.h"

// Outlook's own numbers and member names, in one place: the rest of the program speaks of
// contacts, groups and folders.

namespace dialmend {

// The DefaultItemType of a folder that holds contacts.
inline constexpr int kOutlookContactFolderType = 2;
// The Class of a contact and of a distribution list.
inline constexpr int kOutlookContactClass = 40;
inline constexpr int kOutlookDistributionListClass = 69;

// What an item of Outlook's `item_class` is: a contact, a group, or something else.
[[nodiscard]] ItemKind ItemKindOfClass(int item_class);

// What a folder of Outlook's `default_item_type` holds.
[[nodiscard]] FolderKind FolderKindOfItemType(int default_item_type);

// The Outlook contact property that holds the field; empty text for a value outside the
// enumeration.
[[nodiscard]] std::string_view PhoneFieldProperty(PhoneField field);

}  // namespace dialmend
