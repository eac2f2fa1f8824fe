#pragma once

// The other Windows headers need what windows.h declares first.
#include <windows.h>

#include <oaidl.h>

#include <array>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "contacts/contact_store.h"
#include "contacts/phone_field.h"
#include "stores/outlook/outlook_names.h"

// A stand-in for Outlook's object model: small C++ objects answering IDispatch by member
// name, over contacts held here. Each kind of object has its own DISPIDs, as Outlook's do
// (only Class is shared by every item), so a caller that mixes them up is caught. Each object
// counts the calls made on it, and failures can be set up per folder or item.

namespace dialmend {

// One item as the fake stores it, with its failures and what was done to it.
struct FakeItem {
  int item_class = kOutlookContactClass;
  std::wstring file_as;
  // What EntryID gives and NameSpace.GetItemFromID finds it by; FakeContact makes one from the
  // filing name, and an item without one gets one when first listed in a table.
  std::wstring entry_id;
  std::array<std::wstring, kPhoneFieldCount> phones;  // as saved

  // Save fails with DISP_E_EXCEPTION carrying this code and description.
  HRESULT save_failure = S_OK;
  std::wstring save_description;
  // The next calls on the item are rejected as busy (RPC_E_CALL_REJECTED).
  int calls_to_reject = 0;
  // After this many more accepted calls on the item, Outlook closes: every later call on any
  // object fails with FakeOutlook::gone_code. Negative: never.
  int calls_before_gone = -1;
  // A put of this field fails with E_ACCESSDENIED inside DISP_E_EXCEPTION; -1: none does.
  int failing_put = -1;
  // The user has typed into the item in an open window and not saved it: Saved is false.
  bool user_edits = false;

  // The item as Outlook holds it in memory, shared by every object handed out for it (and by
  // a window the user has open): set from phones when the first object is made, and read back
  // from them by Close(olDiscard).
  std::optional<std::array<std::wstring, kPhoneFieldCount>> in_memory;

  // Over every object handed out for the item.
  int calls = 0;  // accepted Invoke calls
  int rejected = 0;
  int saves = 0;
  int discards = 0;
  std::array<int, kPhoneFieldCount> reads{};
  std::array<int, kPhoneFieldCount> writes{};
};

struct FakeFolder {
  explicit FakeFolder(std::wstring folder_name, int item_type = kOutlookContactFolderType)
      : name(std::move(folder_name)), default_item_type(item_type) {}

  std::wstring name;
  int default_item_type = kOutlookContactFolderType;
  // Outlook hides it (PR_ATTR_HIDDEN is set), as it does the Recipient Cache.
  bool hidden = false;
  // The StoreID of the store a top-level folder is; empty: the default store (for a subfolder:
  // its parent's). NameSpace.GetItemFromID finds an item outside the default store only when
  // given its StoreID.
  std::wstring store_id;
  // Reading Items fails with DISP_E_EXCEPTION carrying this code.
  HRESULT items_failure = S_OK;
  // GetTable fails with DISP_E_EXCEPTION carrying this code.
  HRESULT table_failure = S_OK;
  // GetArray and GetNextRow fail with DISP_E_EXCEPTION when asked for rows past this many,
  // as Outlook 2007 fails GetArray past the last row; negative: never.
  int rows_before_failure = -1;
  std::vector<FakeItem> items;
  std::vector<FakeFolder> folders;
};

// A contact filed as `file_as` with the given numbers; every other field empty.
[[nodiscard]] FakeItem FakeContact(
    std::wstring file_as, std::initializer_list<std::pair<PhoneField, std::wstring>> numbers);

class FakeOutlook;

// The identities `where` names, in order, as an undo's record gives them.
[[nodiscard]] std::unique_ptr<IdentityCursor> Identities(std::vector<std::string> where);

// The profile of the store contract: Work (Riverside Dental, a group, Acme in Clients below)
// and a calendar folder.
void BuildContractProfile(FakeOutlook& outlook);

class FakeOutlook {
 public:
  FakeOutlook() = default;
  FakeOutlook(const FakeOutlook&) = delete;
  FakeOutlook& operator=(const FakeOutlook&) = delete;

  // A new reference to the Application object; the caller releases it. The folders must not
  // gain or lose elements while objects handed out are alive.
  [[nodiscard]] IDispatch* Application();

  // The item at `path` of folder indexes, then the item index, all 0-based.
  [[nodiscard]] FakeItem& Item(std::initializer_list<std::size_t> folder_path, std::size_t index);

  std::wstring user = L"Test User";
  std::wstring profile = L"Outlook";  // NameSpace.CurrentProfileName
  // CurrentUser fails: E_ACCESSDENIED is returned as it is; any other code comes inside
  // DISP_E_EXCEPTION with user_description, as Outlook's security prompt does.
  HRESULT user_failure = S_OK;
  std::wstring user_description;
  // GetNamespace fails with DISP_E_EXCEPTION carrying this code.
  HRESULT namespace_failure = S_OK;
  // Folders have no GetTable member, as in Outlook 2003 and older.
  bool without_tables = false;
  // GetArray's first index is the column, as Microsoft's reference describes it; otherwise the
  // row, as add-in code reads it.
  bool columns_first = false;
  // Once Outlook has closed (see FakeItem::calls_before_gone), what every call returns.
  HRESULT gone_code = RPC_E_DISCONNECTED;
  bool gone = false;
  // Called as each call is accepted, after `calls` counts it: a server process of the fake
  // exits or stops answering here.
  std::function<void()> on_call;
  std::vector<FakeFolder> folders;

  // What was done, over all objects.
  int lookups = 0;                            // names passed to GetIDsOfNames
  std::map<std::string, int> member_lookups;  // "ContactItem.FileAs" -> count
  int calls = 0;                              // accepted Invoke calls
  int puts = 0;                               // of which property puts
  int opened_by_id = 0;                       // GetItemFromID calls that found the item
  std::wstring table_filter;                  // the filter of the last GetTable
  int live_objects = 0;
  int live_items = 0;
  int most_live_items = 0;
  int entry_ids = 0;  // EntryIDs given so far
};

}  // namespace dialmend
