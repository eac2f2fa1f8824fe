#include "tests/stores/outlook/fake_outlook_dispatch.h"

#include <algorithm>
#include <cwctype>
#include <string_view>

namespace dialmend {

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
  static const FakeType type{"MAPIFolder",
                             {{L"Name", 0x2102},
                              {L"DefaultItemType", 0x3106},
                              {L"Items", 0x3100},
                              {L"Folders", 0x2103},
                              {L"StoreID", 0x3108},
                              {L"GetTable", 0xFA0C},
                              {L"PropertyAccessor", 0xFAF0}}};
  return type;
}
const FakeType& OldFolderType() {
  static const FakeType type{"MAPIFolder",
                             {{L"Name", 0x2102},
                              {L"DefaultItemType", 0x3106},
                              {L"Items", 0x3100},
                              {L"Folders", 0x2103},
                              {L"StoreID", 0x3108}}};
  return type;
}
const FakeType& TableType() {
  static const FakeType type{"Table",
                             {{L"Columns", 0xFB01},
                              {L"EndOfTable", 0xFB02},
                              {L"GetArray", 0xFB03},
                              {L"GetNextRow", 0xFB04}}};
  return type;
}
const FakeType& RowType() {
  static const FakeType type{"Row", {{L"GetValues", 0xFD01}}};
  return type;
}
const FakeType& PropertyAccessorType() {
  static const FakeType type{"PropertyAccessor", {{L"GetProperty", 0xFE01}}};
  return type;
}
const FakeType& ColumnsType() {
  static const FakeType type{"Columns", {{L"RemoveAll", 0xFC01}, {L"Add", 0xFC02}}};
  return type;
}

const FakeType& ItemsType() {
  static const FakeType type{"Items", {{L"Count", 0x60}, {L"Item", 0x61}}};
  return type;
}
const FakeType& ContactType() {
  static const FakeType type = [] {
    FakeType t{"ContactItem",
               {{L"Class", kClassId},
                {L"EntryID", kEntryId},
                {L"FileAs", 0x3A06},
                {L"Save", 0xF048},
                {L"Saved", 0xF0A3},
                {L"Close", 0xF023}}};
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

int PhoneIndex(std::wstring_view member) {
  for (int i = 0; i < kPhoneFieldCount; ++i) {
    const std::string_view name = PhoneFieldProperty(static_cast<PhoneField>(i));
    if (std::equal(name.begin(), name.end(), member.begin(), member.end())) return i;
  }
  return -1;
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

const VARIANT* PutValue(WORD flags, const DISPPARAMS* params) {
  if (flags != DISPATCH_PROPERTYPUT || !params || params->cArgs != 1 || params->cNamedArgs != 1 ||
      params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT || params->rgvarg[0].vt != VT_BSTR) {
    return nullptr;
  }
  return &params->rgvarg[0];
}

}  // namespace dialmend
