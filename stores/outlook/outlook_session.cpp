#include "stores/outlook/outlook_session.h"

#include <utility>

#include "stores/outlook/outlook_names.h"

namespace dialmend {

const std::array<std::wstring, kPhoneFieldCount>& PhoneMembers() {
  static const auto members = [] {
    std::array<std::wstring, kPhoneFieldCount> names;
    for (int i = 0; i < kPhoneFieldCount; ++i) {
      const std::string_view ascii = PhoneFieldProperty(static_cast<PhoneField>(i));
      names[i].assign(ascii.begin(), ascii.end());
    }
    return names;
  }();
  return members;
}

OutlookSession::~OutlookSession() {
  name_space.Reset();
  application.Reset();
  if (filter_registered) {
    IMessageFilter* ours = nullptr;
    CoRegisterMessageFilter(previous_filter.Get(), &ours);
    if (ours) ours->Release();
  }
  previous_filter.Reset();
  watch.reset();
  if (com_started) CoUninitialize();
}

ComPtr<IDispatch> DispatchOf(const VARIANT& value) {
  IUnknown* unknown = nullptr;
  if (value.vt == VT_DISPATCH) unknown = value.pdispVal;
  if (value.vt == VT_UNKNOWN) unknown = value.punkVal;
  ComPtr<IDispatch> object;
  if (unknown) (void)unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(object.Put()));
  return object;
}

std::optional<std::wstring> TextOf(const VARIANT& value) {
  if (value.vt == VT_EMPTY || value.vt == VT_NULL) return std::wstring();
  if (value.vt == VT_BSTR) {
    return value.bstrVal ? std::wstring(value.bstrVal, SysStringLen(value.bstrVal))
                         : std::wstring();
  }
  Variant copy;
  if (FAILED(VariantChangeType(copy.Raw(), const_cast<VARIANT*>(&value), 0, VT_BSTR)))
    return std::nullopt;
  return TextOf(copy.Get());
}

std::optional<long> NumberOf(const VARIANT& value) {
  if (value.vt == VT_I4) return value.lVal;
  Variant copy;
  if (FAILED(VariantChangeType(copy.Raw(), const_cast<VARIANT*>(&value), 0, VT_I4)))
    return std::nullopt;
  return copy.Get().lVal;
}

void ThrowFailure(const Automation::Failure& failure, const std::string& subject,
                  std::string reason) {
  if (failure.fatal) throw StoreLostError(subject, std::move(reason));
  throw StoreError(subject, std::move(reason));
}

Variant ReadMember(OutlookSession& session, IDispatch* object, int kind, std::wstring_view name,
                   const std::string& subject) {
  Variant value;
  if (auto failure = session.automation.Call(object, kind, name, DISPATCH_PROPERTYGET, nullptr, 0,
                                             value.Put(), FailureContext::Read)) {
    // Outlook gone is said alone: the member it was asked for means nothing to the user.
    ThrowFailure(*failure, subject,
                 failure->fatal ? failure->reason
                                : "cannot read " + Utf16ToUtf8Lossy(name) + ": " + failure->reason);
  }
  return value;
}

long ReadNumber(OutlookSession& session, IDispatch* object, int kind, std::wstring_view name,
                const std::string& subject) {
  const auto number = NumberOf(ReadMember(session, object, kind, name, subject).Get());
  if (!number) throw StoreError(subject, Utf16ToUtf8Lossy(name) + " is not a number");
  return *number;
}

ComPtr<IDispatch> ReadObject(OutlookSession& session, IDispatch* object, int kind,
                             std::wstring_view name, const std::string& subject) {
  auto result = DispatchOf(ReadMember(session, object, kind, name, subject).Get());
  if (!result) throw StoreError(subject, Utf16ToUtf8Lossy(name) + " gave no object");
  return result;
}

OutlookCollection::OutlookCollection(OutlookSessionPtr session, ComPtr<IDispatch> collection,
                                     int kind, const std::string& subject)
    : m_session(std::move(session)), m_collection(std::move(collection)), m_kind(kind) {
  m_count = ReadNumber(*m_session, m_collection.Get(), m_kind, L"Count", subject);
}

ComPtr<IDispatch> OutlookCollection::Next(std::string_view what, std::string& subject) {
  if (m_next > m_count) return {};
  const long index = m_next++;
  subject = std::string(what) + " " + std::to_string(index);
  Variant argument = Variant::Int(index);
  Variant value;
  if (auto failure = m_session->automation.Call(
          m_collection.Get(), m_kind, L"Item", DISPATCH_METHOD | DISPATCH_PROPERTYGET,
          argument.Raw(), 1, value.Put(), FailureContext::Read)) {
    ThrowFailure(*failure, subject, failure->reason);
  }
  auto element = DispatchOf(value.Get());
  if (!element) throw StoreError(subject, "Outlook gave no object");
  return element;
}

}  // namespace dialmend
