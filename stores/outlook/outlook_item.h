#pragma once

// One Outlook item as the walk sees it: read from the item itself, or from its folder's table
// and opened by EntryID only to change it. Windows only; failures throw as ContactItem says.

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "contacts/contact_store.h"
#include "stores/outlook/outlook_names.h"
#include "stores/outlook/outlook_session.h"

namespace dialmend {

// A contact as its folder's table gave it: read without opening the item.
struct OutlookTableRow {
  int item_class = kOutlookContactClass;
  Bstr entry_id;
  std::shared_ptr<const Bstr> store_id;  // the folder's store, shared by its rows
  std::string file_as;
  std::vector<PhoneValue> phones;
  std::array<bool, kPhoneFieldCount> inexact{};
};

// An item of an Items collection, or one found by EntryID: everything is read from it.
// `position` names it until its filing name is read.
[[nodiscard]] std::unique_ptr<ContactItem> MakeOutlookItem(OutlookSessionPtr session,
                                                           ComPtr<IDispatch> item,
                                                           std::string position);

// A contact read from its folder's table; the item itself is opened only to change it.
[[nodiscard]] std::unique_ptr<ContactItem> MakeOutlookItem(OutlookSessionPtr session,
                                                           OutlookTableRow row,
                                                           std::string position);

// The items of a folder's Items collection, first to last.
[[nodiscard]] std::unique_ptr<ItemCursor> MakeOutlookItems(OutlookCollection items);

}  // namespace dialmend
