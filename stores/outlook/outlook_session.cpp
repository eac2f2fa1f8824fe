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

bool OutlookSession::Run(OutlookWork work) {
  if (lost) return false;
  if (thread.Run(std::move(work))) return true;
  lost = Automation::Failure{RPC_E_CALL_CANCELED, FailureText(RPC_E_CALL_CANCELED), true};
  return false;
}

void OutlookSession::Note(const std::optional<Automation::Failure>& failure) {
  if (!failure || !failure->fatal || lost) return;
  lost = failure;
  thread.GiveUp();
}

std::optional<Automation::Failure> OutlookSession::Call(const OutlookObject& object, int kind,
                                                        std::wstring_view name, WORD flags,
                                                        std::vector<Variant> args,
                                                        OutlookReply* reply,
                                                        FailureContext context) {
  struct Outcome {
    std::optional<Automation::Failure> failure;
    OutlookReply reply;
  };
  // Copyable for std::function: the arguments are shared, not copied.
  auto shared_args = std::make_shared<std::vector<Variant>>(std::move(args));
  Outcome outcome = OnOutlookThread<Outcome>(
      *this, [object, kind, name, flags, shared_args, context, wants = reply != nullptr](
                 OutlookThreadCore& core, Outcome& out) {
        std::vector<VARIANT> raw;
        raw.reserve(shared_args->size());
        for (Variant& arg : *shared_args) raw.push_back(*arg.Raw());
        out.failure =
            core.Call(object, kind, name, flags, raw.data(), static_cast<unsigned>(raw.size()),
                      wants ? &out.reply : nullptr, context);
      });
  if (reply) *reply = std::move(outcome.reply);
  return outcome.failure;
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

namespace {

// The reply to reading `name` of `object`; a failure is thrown as the item's.
OutlookReply ReadReply(OutlookSession& session, const OutlookObject& object, int kind,
                       std::wstring_view name, const std::string& subject) {
  OutlookReply reply;
  if (auto failure = session.Call(object, kind, name, DISPATCH_PROPERTYGET, {}, &reply,
                                  FailureContext::Read)) {
    // Outlook gone is said alone: the member it was asked for means nothing to the user.
    ThrowFailure(*failure, subject,
                 failure->fatal ? failure->reason
                                : "cannot read " + Utf16ToUtf8Lossy(name) + ": " + failure->reason);
  }
  return reply;
}

}  // namespace

Variant ReadMember(OutlookSession& session, const OutlookObject& object, int kind,
                   std::wstring_view name, const std::string& subject) {
  return std::move(ReadReply(session, object, kind, name, subject).value);
}

long ReadNumber(OutlookSession& session, const OutlookObject& object, int kind,
                std::wstring_view name, const std::string& subject) {
  const auto number = NumberOf(ReadMember(session, object, kind, name, subject).Get());
  if (!number) throw StoreError(subject, Utf16ToUtf8Lossy(name) + " is not a number");
  return *number;
}

OutlookObject ReadObject(OutlookSession& session, const OutlookObject& object, int kind,
                         std::wstring_view name, const std::string& subject) {
  OutlookReply reply = ReadReply(session, object, kind, name, subject);
  if (!reply.object) throw StoreError(subject, Utf16ToUtf8Lossy(name) + " gave no object");
  return std::move(reply.object);
}

OutlookCollection::OutlookCollection(OutlookSessionPtr session, OutlookObject collection, int kind,
                                     const std::string& subject)
    : m_session(std::move(session)), m_collection(std::move(collection)), m_kind(kind) {
  m_count = ReadNumber(*m_session, m_collection, m_kind, L"Count", subject);
}

OutlookObject OutlookCollection::Next(std::string_view what, std::string& subject) {
  const long index = Skip();
  if (index == 0) return {};
  subject = std::string(what) + " " + std::to_string(index);
  std::vector<Variant> args;
  args.push_back(Variant::Int(index));
  OutlookReply reply;
  if (auto failure =
          m_session->Call(m_collection, m_kind, L"Item", DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                          std::move(args), &reply, FailureContext::Read)) {
    ThrowFailure(*failure, subject, failure->reason);
  }
  if (!reply.object) throw StoreError(subject, "Outlook gave no object");
  return std::move(reply.object);
}

}  // namespace dialmend
