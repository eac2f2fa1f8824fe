#include "tests/stores/outlook/fake_outlook.h"

#include <algorithm>
#include <cwctype>
#include <string_view>

#include "tests/stores/outlook/fake_outlook_dispatch.h"

namespace dialmend {
namespace {

class FakeRecipient : public FakeObject {
 public:
  explicit FakeRecipient(FakeOutlook& world) : FakeObject(world, RecipientType()) {}

 protected:
  HRESULT Call(std::wstring_view, WORD flags, DISPPARAMS* params, VARIANT* result,
               EXCEPINFO*) override {
    if (!IsGet(flags, params)) return DISP_E_BADPARAMCOUNT;
    return ReturnText(result, m_world.user);
  }
};

const FakeType& TypeOf(const FakeItem& item) {
  return item.item_class == kOutlookContactClass            ? ContactType()
         : item.item_class == kOutlookDistributionListClass ? DistListType()
                                                            : MailType();
}

class FakeItemObject : public FakeObject {
 public:
  FakeItemObject(FakeOutlook& world, const FakeType& type, FakeItem& item)
      : FakeObject(world, type), m_item(item) {
    if (!m_item.in_memory) m_item.in_memory = m_item.phones;
    ++m_world.live_items;
    m_world.most_live_items = std::max(m_world.most_live_items, m_world.live_items);
  }
  ~FakeItemObject() override { --m_world.live_items; }

 protected:
  bool RejectCall() override {
    if (m_item.calls_to_reject == 0) return false;
    --m_item.calls_to_reject;
    ++m_item.rejected;
    return true;
  }
  void Accepted() override {
    ++m_item.calls;
    if (m_item.calls_before_gone > 0 && --m_item.calls_before_gone == 0) m_world.gone = true;
  }

  HRESULT Call(std::wstring_view member, WORD flags, DISPPARAMS* params, VARIANT* result,
               EXCEPINFO* exception) override {
    if (member == L"Save") {
      if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
      if (m_item.save_failure != S_OK) {
        return Raise(exception, m_item.save_failure, m_item.save_description);
      }
      m_item.phones = Values();
      ++m_item.saves;
      return S_OK;
    }
    if (member == L"Close") {
      if (!(flags & DISPATCH_METHOD) || IndexArgument(params) != kOutlookDiscard) {
        return DISP_E_TYPEMISMATCH;
      }
      m_item.in_memory = m_item.phones;
      m_item.user_edits = false;
      ++m_item.discards;
      return S_OK;
    }
    if (const VARIANT* value = PutValue(flags, params)) {
      const int field = PhoneIndex(member);
      if (field < 0) return DISP_E_MEMBERNOTFOUND;
      if (field == m_item.failing_put) return Raise(exception, E_ACCESSDENIED, L"");
      Values()[field].assign(value->bstrVal, SysStringLen(value->bstrVal));
      ++m_item.writes[field];
      return S_OK;
    }
    if (!IsGet(flags, params)) return DISP_E_BADPARAMCOUNT;
    if (member == L"Class") return ReturnNumber(result, m_item.item_class);
    if (member == L"EntryID") return ReturnText(result, m_item.entry_id);
    if (member == L"Saved") {
      if (result) {
        VariantInit(result);
        result->vt = VT_BOOL;
        result->boolVal =
            !m_item.user_edits && Values() == m_item.phones ? VARIANT_TRUE : VARIANT_FALSE;
      }
      return S_OK;
    }
    if (member == L"FileAs" || member == L"DLName" || member == L"Subject") {
      return ReturnText(result, m_item.file_as);
    }
    const int field = PhoneIndex(member);
    if (field < 0) return DISP_E_MEMBERNOTFOUND;
    ++m_item.reads[field];
    return ReturnText(result, Values()[field]);
  }

 private:
  std::array<std::wstring, kPhoneFieldCount>& Values() { return *m_item.in_memory; }

  FakeItem& m_item;
};

// The object of an item of the class it has.
IDispatch* NewItemObject(FakeOutlook& world, FakeItem& item) {
  return new FakeItemObject(world, TypeOf(item), item);
}

class FakeItems : public FakeObject {
 public:
  FakeItems(FakeOutlook& world, std::vector<FakeItem>& items)
      : FakeObject(world, ItemsType()), m_items(items) {}

 protected:
  HRESULT Call(std::wstring_view member, WORD flags, DISPPARAMS* params, VARIANT* result,
               EXCEPINFO*) override {
    if (member == L"Count") return ReturnNumber(result, static_cast<long>(m_items.size()));
    const long index = IndexArgument(params);
    if (!(flags & DISPATCH_METHOD) || index < 1 || index > static_cast<long>(m_items.size())) {
      return DISP_E_BADINDEX;
    }
    return ReturnObject(result, NewItemObject(m_world, m_items[index - 1]));
  }

 private:
  std::vector<FakeItem>& m_items;
};

// The members of a table's Columns: the column names only, as Outlook keeps them.
class FakeColumns : public FakeObject {
 public:
  FakeColumns(FakeOutlook& world, std::vector<std::wstring>& names)
      : FakeObject(world, ColumnsType()), m_names(names) {}

 protected:
  HRESULT Call(std::wstring_view member, WORD flags, DISPPARAMS* params, VARIANT*,
               EXCEPINFO* exception) override {
    if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
    if (member == L"RemoveAll") {
      m_names.clear();
      return S_OK;
    }
    if (!params || params->cArgs != 1 || params->rgvarg[0].vt != VT_BSTR) {
      return DISP_E_TYPEMISMATCH;
    }
    const std::wstring name(params->rgvarg[0].bstrVal, SysStringLen(params->rgvarg[0].bstrVal));
    if (name != L"EntryID" && name != L"FileAs" && name != L"MessageClass" &&
        PhoneIndex(name) < 0) {
      return Raise(exception, E_INVALIDARG, L"The property \"" + name + L"\" is unknown.");
    }
    m_names.push_back(name);
    return S_OK;
  }

 private:
  std::vector<std::wstring>& m_names;
};

// A row of a table: its values, taken over from the table.
class FakeRow : public FakeObject {
 public:
  FakeRow(FakeOutlook& world, SAFEARRAY* values) : FakeObject(world, RowType()), m_values(values) {}
  ~FakeRow() override { SafeArrayDestroy(m_values); }

 protected:
  HRESULT Call(std::wstring_view, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*) override {
    if (!result) return S_OK;
    VariantInit(result);
    result->vt = VT_ARRAY | VT_VARIANT;
    return SafeArrayCopy(m_values, &result->parray);
  }

 private:
  SAFEARRAY* m_values;
};

// A folder's PropertyAccessor, which knows PR_ATTR_HIDDEN alone, and only where it is set.
class FakePropertyAccessor : public FakeObject {
 public:
  FakePropertyAccessor(FakeOutlook& world, bool hidden)
      : FakeObject(world, PropertyAccessorType()), m_hidden(hidden) {}

 protected:
  HRESULT Call(std::wstring_view, WORD, DISPPARAMS* params, VARIANT* result,
               EXCEPINFO* exception) override {
    if (!params || params->cArgs != 1 || params->rgvarg[0].vt != VT_BSTR) {
      return DISP_E_TYPEMISMATCH;
    }
    if (!m_hidden || std::wstring_view(params->rgvarg[0].bstrVal) != kOutlookHiddenProperty) {
      return Raise(exception, static_cast<HRESULT>(0x8004010F), L"The property cannot be found.");
    }
    if (result) {
      VariantInit(result);
      result->vt = VT_BOOL;
      result->boolVal = VARIANT_TRUE;
    }
    return S_OK;
  }

 private:
  bool m_hidden;
};

// A folder's table: its items (contacts and groups alone under the store's filter), read as
// saved, a block of rows per GetArray.
class FakeTable : public FakeObject {
 public:
  FakeTable(FakeOutlook& world, FakeFolder& folder, bool contacts_only)
      : FakeObject(world, TableType()), m_folder(folder) {
    for (FakeItem& item : folder.items) {
      if (contacts_only && item.item_class != kOutlookContactClass &&
          item.item_class != kOutlookDistributionListClass) {
        continue;
      }
      if (item.entry_id.empty()) item.entry_id = L"00EID" + std::to_wstring(++world.entry_ids);
      m_rows.push_back(&item);
    }
    m_columns = {L"EntryID", L"Subject", L"CreationTime", L"LastModificationTime", L"MessageClass"};
  }

 protected:
  HRESULT Call(std::wstring_view member, WORD flags, DISPPARAMS* params, VARIANT* result,
               EXCEPINFO* exception) override {
    if (member == L"Columns") return ReturnObject(result, new FakeColumns(m_world, m_columns));
    if (member == L"EndOfTable") {
      if (result) {
        VariantInit(result);
        result->vt = VT_BOOL;
        result->boolVal = m_next == m_rows.size() ? VARIANT_TRUE : VARIANT_FALSE;
      }
      return S_OK;
    }
    if (member == L"GetNextRow") {
      if (m_next == m_rows.size() || m_next + 1 > RowsBeforeFailure()) {
        return Raise(exception, E_FAIL, L"The table cannot be read.");
      }
      return ReturnObject(result, new FakeRow(m_world, Rows(1, /*alone=*/true)));
    }
    const long wanted = IndexArgument(params);
    if (!(flags & DISPATCH_METHOD) || wanted < 1) return DISP_E_TYPEMISMATCH;
    if (m_next + wanted > RowsBeforeFailure()) {
      return Raise(exception, E_FAIL, L"The table cannot be read.");
    }
    SAFEARRAY* rows = Rows(std::min(m_rows.size() - m_next, static_cast<std::size_t>(wanted)));
    if (!rows) return E_OUTOFMEMORY;
    if (!result) {
      SafeArrayDestroy(rows);
      return S_OK;
    }
    VariantInit(result);
    result->vt = VT_ARRAY | VT_VARIANT;
    result->parray = rows;
    return S_OK;
  }

 private:
  std::size_t RowsBeforeFailure() const {
    return m_folder.rows_before_failure < 0
               ? m_rows.size() + 1000000
               : static_cast<std::size_t>(m_folder.rows_before_failure);
  }

  // The next `count` rows, as GetArray lays them out; or the next row `alone`, its columns
  // alone, as its GetValues does.
  SAFEARRAY* Rows(std::size_t count, bool alone = false) {
    const auto columns = static_cast<ULONG>(m_columns.size());
    const bool columns_first = m_world.columns_first || alone;
    SAFEARRAYBOUND bounds[2] = {{columns, 0}, {static_cast<ULONG>(count), 0}};
    if (!columns_first) std::swap(bounds[0], bounds[1]);
    SAFEARRAY* rows = SafeArrayCreate(VT_VARIANT, alone ? 1 : 2, bounds);
    for (std::size_t r = 0; rows && r < count; ++r, ++m_next) {
      for (std::size_t c = 0; c < m_columns.size(); ++c) {
        VARIANT cell;
        VariantInit(&cell);
        (void)ReturnText(&cell, ColumnText(*m_rows[m_next], m_columns[c]));
        // Indexes go in the order of the bounds.
        LONG indexes[2] = {static_cast<LONG>(c), static_cast<LONG>(r)};
        if (!columns_first) std::swap(indexes[0], indexes[1]);
        SafeArrayPutElement(rows, indexes, &cell);
        VariantClear(&cell);
      }
    }
    return rows;
  }

  static std::wstring ColumnText(const FakeItem& item, const std::wstring& column) {
    if (column == L"EntryID") return item.entry_id;
    if (column == L"FileAs" || column == L"Subject") return item.file_as;
    if (column == L"MessageClass") {
      return item.item_class == kOutlookDistributionListClass ? L"IPM.DistList" : L"IPM.Contact";
    }
    const int field = PhoneIndex(column);
    return field >= 0 ? item.phones[field] : std::wstring();
  }

  FakeFolder& m_folder;
  std::vector<FakeItem*> m_rows;
  std::vector<std::wstring> m_columns;
  std::size_t m_next = 0;
};

class FakeFolders;

class FakeFolderObject : public FakeObject {
 public:
  FakeFolderObject(FakeOutlook& world, FakeFolder& folder, std::wstring_view store)
      : FakeObject(world, world.without_tables ? OldFolderType() : FolderType()),
        m_folder(folder),
        m_store(folder.store_id.empty() ? store : folder.store_id) {}

 protected:
  HRESULT Call(std::wstring_view member, WORD flags, DISPPARAMS* params, VARIANT* result,
               EXCEPINFO* exception) override;

 private:
  FakeFolder& m_folder;
  std::wstring m_store;
};

class FakeFolders : public FakeObject {
 public:
  FakeFolders(FakeOutlook& world, std::vector<FakeFolder>& folders, std::wstring_view store)
      : FakeObject(world, FoldersType()), m_folders(folders), m_store(store) {}

 protected:
  HRESULT Call(std::wstring_view member, WORD flags, DISPPARAMS* params, VARIANT* result,
               EXCEPINFO*) override {
    if (member == L"Count") return ReturnNumber(result, static_cast<long>(m_folders.size()));
    const long index = IndexArgument(params);
    if (!(flags & DISPATCH_METHOD) || index < 1 || index > static_cast<long>(m_folders.size())) {
      return DISP_E_BADINDEX;
    }
    return ReturnObject(result, new FakeFolderObject(m_world, m_folders[index - 1], m_store));
  }

 private:
  std::vector<FakeFolder>& m_folders;
  std::wstring m_store;
};

HRESULT FakeFolderObject::Call(std::wstring_view member, WORD flags, DISPPARAMS* params,
                               VARIANT* result, EXCEPINFO* exception) {
  if (member == L"GetTable") {
    if (!(flags & DISPATCH_METHOD) || !params || params->cArgs != 1 ||
        params->rgvarg[0].vt != VT_BSTR) {
      return DISP_E_TYPEMISMATCH;
    }
    m_world.table_filter.assign(params->rgvarg[0].bstrVal, SysStringLen(params->rgvarg[0].bstrVal));
    if (m_folder.table_failure != S_OK) {
      return Raise(exception, m_folder.table_failure, L"The table cannot be made.");
    }
    const bool contacts_only = m_world.table_filter == kOutlookContactFilter;
    if (!contacts_only && !m_world.table_filter.empty()) {
      return Raise(exception, E_INVALIDARG, L"The condition is not valid.");
    }
    return ReturnObject(result, new FakeTable(m_world, m_folder, contacts_only));
  }
  if (!IsGet(flags, params)) return DISP_E_BADPARAMCOUNT;
  if (member == L"StoreID") return ReturnText(result, m_store);
  if (member == L"PropertyAccessor") {
    return ReturnObject(result, new FakePropertyAccessor(m_world, m_folder.hidden));
  }
  if (member == L"Name") return ReturnText(result, m_folder.name);
  if (member == L"DefaultItemType") return ReturnNumber(result, m_folder.default_item_type);
  if (member == L"Items") {
    if (m_folder.items_failure != S_OK) {
      return Raise(exception, m_folder.items_failure, L"The folder cannot be opened.");
    }
    return ReturnObject(result, new FakeItems(m_world, m_folder.items));
  }
  return ReturnObject(result, new FakeFolders(m_world, m_folder.folders, m_store));
}

class FakeNamespace : public FakeObject {
 public:
  explicit FakeNamespace(FakeOutlook& world) : FakeObject(world, NamespaceType()) {}

 protected:
  HRESULT Call(std::wstring_view member, WORD flags, DISPPARAMS* params, VARIANT* result,
               EXCEPINFO* exception) override {
    if (member == L"GetItemFromID") {
      if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
      return GetItemFromId(params, result, exception);
    }
    if (!IsGet(flags, params)) return DISP_E_BADPARAMCOUNT;
    if (member == L"CurrentProfileName") return ReturnText(result, m_world.profile);
    if (member == L"CurrentUser") {
      if (m_world.user_failure == E_ACCESSDENIED) return E_ACCESSDENIED;
      if (m_world.user_failure != S_OK) {
        return Raise(exception, m_world.user_failure, m_world.user_description);
      }
      return ReturnObject(result, new FakeRecipient(m_world));
    }
    return ReturnObject(result, new FakeFolders(m_world, m_world.folders, kStoreId));
  }

 private:
  HRESULT GetItemFromId(DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception) {
    // The item's EntryID, and the store's ID after it when given; the arguments come last first.
    if (!params || params->cArgs < 1 || params->cArgs > 2) return DISP_E_BADPARAMCOUNT;
    for (UINT i = 0; i < params->cArgs; ++i) {
      if (params->rgvarg[i].vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
    }
    const VARIANT& entry = params->rgvarg[params->cArgs - 1];
    const std::wstring_view entry_id(entry.bstrVal, SysStringLen(entry.bstrVal));
    const std::wstring_view store =
        params->cArgs == 1
            ? std::wstring_view(kStoreId)
            : std::wstring_view(params->rgvarg[0].bstrVal, SysStringLen(params->rgvarg[0].bstrVal));
    FakeItem* item = Find(m_world.folders, entry_id, store, kStoreId);
    if (!item) {
      return Raise(exception, static_cast<HRESULT>(0x8004010F),
                   L"The operation failed. An object could not be found.");
    }
    ++m_world.opened_by_id;
    return ReturnObject(result, NewItemObject(m_world, *item));
  }

  // The item `entry_id` names in `store`, among `folders` of the store `in`.
  static FakeItem* Find(std::vector<FakeFolder>& folders, std::wstring_view entry_id,
                        std::wstring_view store, std::wstring_view in) {
    for (FakeFolder& folder : folders) {
      const std::wstring_view folder_store = folder.store_id.empty() ? in : folder.store_id;
      for (FakeItem& item : folder.items) {
        if (folder_store == store && !entry_id.empty() && item.entry_id == entry_id) return &item;
      }
      if (FakeItem* item = Find(folder.folders, entry_id, store, folder_store)) return item;
    }
    return nullptr;
  }
};

class FakeApplication : public FakeObject {
 public:
  explicit FakeApplication(FakeOutlook& world) : FakeObject(world, ApplicationType()) {}

 protected:
  HRESULT Call(std::wstring_view, WORD flags, DISPPARAMS* params, VARIANT* result,
               EXCEPINFO* exception) override {
    if (!(flags & DISPATCH_METHOD) || !params || params->cArgs != 1 ||
        params->rgvarg[0].vt != VT_BSTR ||
        std::wstring_view(params->rgvarg[0].bstrVal) != L"MAPI") {
      return DISP_E_TYPEMISMATCH;
    }
    if (m_world.namespace_failure != S_OK) {
      return Raise(exception, m_world.namespace_failure, L"Cannot open the profile.");
    }
    return ReturnObject(result, new FakeNamespace(m_world));
  }
};

}  // namespace

FakeItem FakeContact(std::wstring file_as,
                     std::initializer_list<std::pair<PhoneField, std::wstring>> numbers) {
  FakeItem item;
  item.file_as = std::move(file_as);
  item.entry_id = L"00000000EID" + item.file_as;
  for (const auto& [field, number] : numbers) item.phones[static_cast<int>(field)] = number;
  return item;
}

std::unique_ptr<IdentityCursor> Identities(std::vector<std::string> where) {
  class Listed : public IdentityCursor {
   public:
    explicit Listed(std::vector<std::string> where) : m_where(std::move(where)) {}
    std::unique_ptr<ContactIdentity> Next() override {
      if (m_next == m_where.size()) return nullptr;
      return std::make_unique<ContactIdentity>(ContactIdentity{m_where[m_next++], -1, {}});
    }

   private:
    std::vector<std::string> m_where;
    std::size_t m_next = 0;
  };
  return std::make_unique<Listed>(std::move(where));
}

void BuildContractProfile(FakeOutlook& outlook) {
  FakeFolder work{L"Work"};
  work.items.push_back(FakeContact(L"Riverside Dental", {{PhoneField::Home, L"0171 930 8890"},
                                                         {PhoneField::Mobile, L"0370 123456"}}));
  FakeItem team;
  team.item_class = kOutlookDistributionListClass;
  team.file_as = L"Team";
  work.items.push_back(team);
  FakeFolder clients{L"Clients"};
  clients.items.push_back(FakeContact(L"Acme", {{PhoneField::Business, L"01232 123456"}}));
  work.folders.push_back(clients);
  outlook.folders.push_back(work);
  outlook.folders.push_back(FakeFolder{L"Calendar", 1});
}

IDispatch* FakeOutlook::Application() {
  return new FakeApplication(*this);
}

FakeItem& FakeOutlook::Item(std::initializer_list<std::size_t> folder_path, std::size_t index) {
  std::vector<FakeFolder>* level = &folders;
  FakeFolder* folder = nullptr;
  for (std::size_t step : folder_path) {
    folder = &level->at(step);
    level = &folder->folders;
  }
  return folder->items.at(index);
}

}  // namespace dialmend
