#pragma once

// One Outlook item as the walk sees it: read from the item itself, or from its folder's table
// and opened by EntryID only to change it. Windows only; failures throw as ContactItem says.

#include <array>
#include <memory>
#include <optional>
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

// The StoreID of the store a folder is in, read once, when the first of its items is asked for
// its identity.
class FolderStoreId {
 public:
  explicit FolderStoreId(OutlookObject folder) : m_folder(std::move(folder)) {}
  // Empty when Outlook will not give it (the contact is then known by its EntryID alone);
  // throws StoreLostError about `subject` when Outlook is lost.
  const std::string& Get(OutlookSession& session, const std::string& subject);

 private:
  OutlookObject m_folder;
  std::optional<std::string> m_id;
};

// An item of an Items collection, or one found by EntryID: everything is read from it. Its
// identity names the store `store_id` gives, if any. `position` names it until its filing name
// is read.
[[nodiscard]] std::unique_ptr<ContactItem> MakeOutlookItem(
    OutlookSessionPtr session, OutlookObject item, std::string position,
    std::shared_ptr<FolderStoreId> store_id = nullptr);

// A contact read from its folder's table; the item itself is opened only to change it.
[[nodiscard]] std::unique_ptr<ContactItem> MakeOutlookItem(OutlookSessionPtr session,
                                                           OutlookTableRow row,
                                                           std::string position);

// The items of a folder's Items collection, first to last; the folder is in the store
// `store_id` gives.
[[nodiscard]] std::unique_ptr<ItemCursor> MakeOutlookItems(OutlookCollection items,
                                                           std::shared_ptr<FolderStoreId> store_id);

}  // namespace dialmend
