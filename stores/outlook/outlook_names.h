#pragma once

#include <string>
#include <string_view>
#include <utility>

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

// The MAPI property that marks a folder Outlook hides (PR_ATTR_HIDDEN), as PropertyAccessor
// names it.
inline constexpr std::wstring_view kOutlookHiddenProperty =
    L"http://schemas.microsoft.com/mapi/proptag/0x10F4000B";

// Close's argument that drops the item's unsaved changes (olDiscard).
inline constexpr int kOutlookDiscard = 1;

// What an item of Outlook's `item_class` is: a contact, a group, or something else.
[[nodiscard]] ItemKind ItemKindOfClass(int item_class);

// What a folder of Outlook's `default_item_type` holds.
[[nodiscard]] FolderKind FolderKindOfItemType(int default_item_type);

// A contact's identity as the undo record keeps it: its EntryID, then "@" and the StoreID of its
// store when known, so that it is found again in a second mailbox or a PST. Both are
// hexadecimal, so "@" never occurs in them.
[[nodiscard]] std::string OutlookIdentity(std::string_view entry_id, std::string_view store_id);

// The EntryID and the StoreID an identity names; the StoreID is empty in one recorded without
// it.
[[nodiscard]] std::pair<std::string_view, std::string_view> SplitOutlookIdentity(
    std::string_view identity);

// The Outlook contact property that holds the field; empty text for a value outside the
// enumeration.
[[nodiscard]] std::string_view PhoneFieldProperty(PhoneField field);

}  // namespace dialmend
