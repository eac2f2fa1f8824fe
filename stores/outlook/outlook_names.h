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

// The Table filter that keeps a folder's contacts and groups alone: message class IPM.Contact
// (custom contact forms' classes begin with it) and IPM.DistList.
inline constexpr std::wstring_view kOutlookContactFilter =
    L"@SQL=\"http://schemas.microsoft.com/mapi/proptag/0x001a001f\" LIKE 'IPM.Contact%' OR "
    L"\"http://schemas.microsoft.com/mapi/proptag/0x001a001f\" LIKE 'IPM.DistList%'";

// Close's argument that drops the item's unsaved changes (olDiscard).
inline constexpr int kOutlookDiscard = 1;

// What an item of Outlook's `item_class` is: a contact, a group, or something else.
[[nodiscard]] ItemKind ItemKindOfClass(int item_class);

// What a folder of Outlook's `default_item_type` holds.
[[nodiscard]] FolderKind FolderKindOfItemType(int default_item_type);

// The Outlook contact property that holds the field; empty text for a value outside the
// enumeration.
[[nodiscard]] std::string_view PhoneFieldProperty(PhoneField field);

}  // namespace dialmend
