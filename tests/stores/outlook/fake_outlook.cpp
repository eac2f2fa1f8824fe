#include "tests/stores/outlook/fake_outlook.h"

#include <algorithm>
#include <cwctype>
#include <string_view>

namespace dialmend {
namespace {

struct Member {
  std::wstring name;
  DISPID id;
};

struct FakeType {
  std::string name;
  std::vector<Member> members;
};

// Outlook gives Class and EntryID the same DISPID on every item.
constexpr DISPID kClassId = 0xF00A;
constexpr DISPID kEntryId = 0xF01E;

const FakeType& ApplicationType() {
  static const FakeType type{"Application", {{L"GetNamespace", 0x110}}};
  return type;
}
const FakeType& NamespaceType() {
  static const FakeType type{"NameSpace",
                             {{L"CurrentUser", 0x2101},
                              {L"Folders", 0x2103},
                              {L"GetItemFromID", 0x2109},
                              {L"CurrentProfileName", 0x3110}}};
  return type;
}
const FakeType& RecipientType() {
  static const FakeType type{"Recipient", {{L"Name", 0x3001}}};
  return type;
}
const FakeType& FoldersType() {
  static const FakeType type{"Folders", {{L"Count", 0x50}, {L"Item", 0x51}}};
  return type;
}
const FakeType& FolderType() {
  static const FakeType type{
      "MAPIFolder",
      {{L"Name", 0x2102}, {L"DefaultItemType", 0x3106}, {L"Items", 0x3100}, {L"Folders", 0x2103}}};
  return type;
}
const FakeType& ItemsType() {
  static const FakeType type{"Items", {{L"Count", 0x60}, {L"Item", 0x61}}};
  return type;
}
const FakeType& ContactType() {
  static const FakeType type = [] {
    FakeType t{
        "ContactItem",
        {{L"Class", kClassId}, {L"EntryID", kEntryId}, {L"FileAs", 0x3A06}, {L"Save", 0xF048}}};
    for (int i = 0; i < kPhoneFieldCount; ++i) {
      const std::string_view name = PhoneFieldProperty(static_cast<PhoneField>(i));
      t.members.push_back({std::wstring(name.begin(), name.end()), 0x8000 + i});
    }
    return t;
  }();
  return type;
}
const FakeType& DistListType() {
  static const FakeType type{"DistListItem",
                             {{L"Class", kClassId},
                              {L"EntryID", kEntryId},
                              {L"DLName", 0x8053},
                              {L"FileAs", 0x9001},
                              {L"Save", 0x9002}}};
  return type;
}
const FakeType& MailType() {
  static const FakeType type{
      "MailItem",
      {{L"Class", kClassId}, {L"EntryID", kEntryId}, {L"Subject", 0x37}, {L"Save", 0xA002}}};
  return type;
}

bool SameName(std::wstring_view a, std::wstring_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](wchar_t x, wchar_t y) { return std::towlower(x) == std::towlower(y); });
}

HRESULT ReturnText(VARIANT* result, std::wstring_view text) {
  if (!result) return S_OK;
  VariantInit(result);
  result->vt = VT_BSTR;
  result->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return S_OK;
}

HRESULT ReturnNumber(VARIANT* result, long number) {
  if (!result) return S_OK;
  VariantInit(result);
  result->vt = VT_I4;
  result->lVal = number;
  return S_OK;
}

HRESULT ReturnObject(VARIANT* result, IDispatch* object) {
  if (!result) {
    object->Release();
    return S_OK;
  }
  VariantInit(result);
  result->vt = VT_DISPATCH;
  result->pdispVal = object;
  return S_OK;
}

HRESULT Raise(EXCEPINFO* exception, HRESULT code, std::wstring_view description) {
  if (exception) {
    *exception = EXCEPINFO{};
    exception->scode = code;
    exception->bstrSource = SysAllocString(L"Microsoft Outlook");
    exception->bstrDescription =
        SysAllocStringLen(description.data(), static_cast<UINT>(description.size()));
  }
  return DISP_E_EXCEPTION;
}

// The one argument of a call, as a whole number; -1 when there is none.
long IndexArgument(const DISPPARAMS* params) {
  if (!params || params->cArgs != 1) return -1;
  VARIANT copy;
  VariantInit(&copy);
  if (FAILED(VariantChangeType(&copy, &params->rgvarg[0], 0, VT_I4))) return -1;
  return copy.lVal;
}

bool IsGet(WORD flags, const DISPPARAMS* params) {
  return (flags & DISPATCH_PROPERTYGET) && params && params->cArgs == 0 && params->cNamedArgs == 0;
}

// A property put as IDispatch defines it: one text value, named DISPID_PROPERTYPUT.
const VARIANT* PutValue(WORD flags, const DISPPARAMS* params) {
  if (flags != DISPATCH_PROPERTYPUT || !params || params->cArgs != 1 || params->cNamedArgs != 1 ||
      params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT || params->rgvarg[0].vt != VT_BSTR) {
    return nullptr;
  }
  return &params->rgvarg[0];
}

class FakeObject : public IDispatch {
 public:
  FakeObject(FakeOutlook& world, const FakeType& type) : m_world(world), m_type(type) {
    ++m_world.live_objects;
  }
  virtual ~FakeObject() { --m_world.live_objects; }

  STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
      *object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++m_references; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --m_references;
    if (left == 0) delete this;
    return left;
  }
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }

  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    HRESULT result = S_OK;
    for (UINT i = 0; i < count; ++i) {
      ++m_world.lookups;
      const std::wstring_view name(names[i]);
      ++m_world.member_lookups[m_type.name + "." + std::string(name.begin(), name.end())];
      ids[i] = DISPID_UNKNOWN;
      for (const Member& member : m_type.members) {
        if (SameName(member.name, name)) ids[i] = member.id;
      }
      if (ids[i] == DISPID_UNKNOWN) result = DISP_E_UNKNOWNNAME;
    }
    return result;
  }

  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT*) override {
    const Member* member = nullptr;
    for (const Member& m : m_type.members) {
      if (m.id == id) member = &m;
    }
    if (!member) return DISP_E_MEMBERNOTFOUND;
    if (RejectCall()) return RPC_E_CALL_REJECTED;
    ++m_world.calls;
    if (flags & DISPATCH_PROPERTYPUT) ++m_world.puts;
    Accepted();
    return Call(member->name, flags, params, result, exception);
  }

 protected:
  virtual HRESULT Call(std::wstring_view member, WORD flags, DISPPARAMS* params, VARIANT* result,
                       EXCEPINFO* exception) = 0;
  virtual bool RejectCall() { return false; }
  virtual void Accepted() {}

  FakeOutlook& m_world;

 private:
  const FakeType& m_type;
  ULONG m_references = 1;
};

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

// The item whose EntryID is `id` in `folders` or below, or null.
FakeItem* FindEntry(std::vector<FakeFolder>& folders, std::wstring_view id) {
  for (FakeFolder& folder : folders) {
    for (FakeItem& item : folder.items) {
      if (item.entry_id == id) return &item;
    }
    if (FakeItem* found = FindEntry(folder.folders, id)) return found;
  }
  return nullptr;
}

class FakeItemObject : public FakeObject {
 public:
  FakeItemObject(FakeOutlook& world, const FakeType& type, FakeItem& item)
      : FakeObject(world, type), m_item(item), m_values(item.phones) {
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
  void Accepted() override { ++m_item.calls; }

  HRESULT Call(std::wstring_view member, WORD flags, DISPPARAMS* params, VARIANT* result,
               EXCEPINFO* exception) override {
    if (member == L"Save") {
      if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
      if (m_item.save_failure != S_OK) {
        return Raise(exception, m_item.save_failure, m_item.save_description);
      }
      m_item.phones = m_values;
      ++m_item.saves;
      return S_OK;
    }
    if (const VARIANT* value = PutValue(flags, params)) {
      const int field = PhoneIndex(member);
      if (field < 0) return DISP_E_MEMBERNOTFOUND;
      m_values[field].assign(value->bstrVal, SysStringLen(value->bstrVal));
      ++m_item.writes[field];
      return S_OK;
    }
    if (!IsGet(flags, params)) return DISP_E_BADPARAMCOUNT;
    if (member == L"Class") return ReturnNumber(result, m_item.item_class);
    if (member == L"EntryID") return ReturnText(result, m_item.entry_id);
    if (member == L"FileAs" || member == L"DLName" || member == L"Subject") {
      return ReturnText(result, m_item.file_as);
    }
    const int field = PhoneIndex(member);
    if (field < 0) return DISP_E_MEMBERNOTFOUND;
    ++m_item.reads[field];
    return ReturnText(result, m_values[field]);
  }

 private:
  static int PhoneIndex(std::wstring_view member) {
    for (int i = 0; i < kPhoneFieldCount; ++i) {
      const std::string_view name = PhoneFieldProperty(static_cast<PhoneField>(i));
      if (std::equal(name.begin(), name.end(), member.begin(), member.end())) return i;
    }
    return -1;
  }

  FakeItem& m_item;
  std::array<std::wstring, kPhoneFieldCount> m_values;  // this object's own, until saved
};

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
    FakeItem& item = m_items[index - 1];
    return ReturnObject(result, new FakeItemObject(m_world, TypeOf(item), item));
  }

 private:
  std::vector<FakeItem>& m_items;
};

class FakeFolders;

class FakeFolderObject : public FakeObject {
 public:
  FakeFolderObject(FakeOutlook& world, FakeFolder& folder)
      : FakeObject(world, FolderType()), m_folder(folder) {}

 protected:
  HRESULT Call(std::wstring_view member, WORD flags, DISPPARAMS* params, VARIANT* result,
               EXCEPINFO* exception) override;

 private:
  FakeFolder& m_folder;
};

class FakeFolders : public FakeObject {
 public:
  FakeFolders(FakeOutlook& world, std::vector<FakeFolder>& folders)
      : FakeObject(world, FoldersType()), m_folders(folders) {}

 protected:
  HRESULT Call(std::wstring_view member, WORD flags, DISPPARAMS* params, VARIANT* result,
               EXCEPINFO*) override {
    if (member == L"Count") return ReturnNumber(result, static_cast<long>(m_folders.size()));
    const long index = IndexArgument(params);
    if (!(flags & DISPATCH_METHOD) || index < 1 || index > static_cast<long>(m_folders.size())) {
      return DISP_E_BADINDEX;
    }
    return ReturnObject(result, new FakeFolderObject(m_world, m_folders[index - 1]));
  }

 private:
  std::vector<FakeFolder>& m_folders;
};

HRESULT FakeFolderObject::Call(std::wstring_view member, WORD flags, DISPPARAMS* params,
                               VARIANT* result, EXCEPINFO* exception) {
  if (!IsGet(flags, params)) return DISP_E_BADPARAMCOUNT;
  if (member == L"Name") return ReturnText(result, m_folder.name);
  if (member == L"DefaultItemType") return ReturnNumber(result, m_folder.default_item_type);
  if (member == L"Items") {
    if (m_folder.items_failure != S_OK) {
      return Raise(exception, m_folder.items_failure, L"The folder cannot be opened.");
    }
    return ReturnObject(result, new FakeItems(m_world, m_folder.items));
  }
  return ReturnObject(result, new FakeFolders(m_world, m_folder.folders));
}

class FakeNamespace : public FakeObject {
 public:
  explicit FakeNamespace(FakeOutlook& world) : FakeObject(world, NamespaceType()) {}

 protected:
  HRESULT Call(std::wstring_view member, WORD flags, DISPPARAMS* params, VARIANT* result,
               EXCEPINFO* exception) override {
    if (member == L"GetItemFromID") {
      // The store's ID may follow the item's; arguments come last first.
      if (!(flags & DISPATCH_METHOD) || !params || params->cArgs < 1 || params->cArgs > 2 ||
          params->rgvarg[params->cArgs - 1].vt != VT_BSTR) {
        return DISP_E_TYPEMISMATCH;
      }
      const VARIANT& id = params->rgvarg[params->cArgs - 1];
      FakeItem* item =
          FindEntry(m_world.folders, std::wstring_view(id.bstrVal, SysStringLen(id.bstrVal)));
      if (!item) {
        return Raise(exception, static_cast<HRESULT>(0x8004010F),
                     L"The operation failed. An object could not be found.");
      }
      return ReturnObject(result, new FakeItemObject(m_world, TypeOf(*item), *item));
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
    return ReturnObject(result, new FakeFolders(m_world, m_world.folders));
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
