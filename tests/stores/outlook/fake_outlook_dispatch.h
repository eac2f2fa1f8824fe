#pragma once

// The other Windows headers need what windows.h declares first.
#include <windows.h>

#include <oaidl.h>

#include <string>
#include <string_view>
#include <vector>

#include "tests/stores/outlook/fake_outlook.h"

// IDispatch for the stand-in Outlook: the members each kind of object has, the replies a member
// gives, and the object that looks names up and counts the calls made on it.

namespace dialmend {

struct Member {
  std::wstring name;
  DISPID id;
};

struct FakeType {
  std::string name;
  std::vector<Member> members;
};

// The members of each kind of object, with the DISPIDs Outlook gives them.
const FakeType& ApplicationType();
const FakeType& NamespaceType();
const FakeType& RecipientType();
const FakeType& FoldersType();
const FakeType& FolderType();
const FakeType& OldFolderType();
const FakeType& TableType();
const FakeType& RowType();
const FakeType& PropertyAccessorType();
const FakeType& ColumnsType();
const FakeType& ItemsType();
const FakeType& ContactType();
const FakeType& DistListType();
const FakeType& MailType();

// The store every folder of the fake lives in.
constexpr wchar_t kStoreId[] = L"0000FAKESTORE";

bool SameName(std::wstring_view a, std::wstring_view b);
// The index of the phone field Outlook names `member`, or -1.
int PhoneIndex(std::wstring_view member);
HRESULT ReturnText(VARIANT* result, std::wstring_view text);
HRESULT ReturnNumber(VARIANT* result, long number);
HRESULT ReturnObject(VARIANT* result, IDispatch* object);
HRESULT Raise(EXCEPINFO* exception, HRESULT code, std::wstring_view description);
// The one argument of a call, as a whole number; -1 when there is none.
long IndexArgument(const DISPPARAMS* params);
bool IsGet(WORD flags, const DISPPARAMS* params);
// A property put as IDispatch defines it: one text value, named DISPID_PROPERTYPUT.
const VARIANT* PutValue(WORD flags, const DISPPARAMS* params);

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
    if (m_world.gone) return m_world.gone_code;
    if (RejectCall()) return RPC_E_CALL_REJECTED;
    ++m_world.calls;
    if (m_world.on_call) m_world.on_call();
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

}  // namespace dialmend
