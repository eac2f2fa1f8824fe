#pragma once

// What the Outlook store's pieces share: COM on the run's thread, the late-bound calls, and
// the reads and walks whose failures are thrown as the walk expects them. Windows only.

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "contacts/contact_store.h"
#include "contacts/phone_field.h"
#include "stores/outlook/call_watch.h"
#include "stores/outlook/com_dispatch.h"
#include "stores/outlook/com_ptr.h"

namespace dialmend {

// The kinds of object whose DISPIDs are kept apart. Items of every class share the Class
// member; everything else on an item is looked up per class.
enum OutlookKind {
  kApplication,
  kNamespace,
  kRecipient,
  kFolders,
  kItems,
  kFolder,
  kTable,
  kColumns,
  kAnyItem,
  kItemOfClass,  // plus the item's class
};

// Outlook's names of the nineteen phone fields, in field order.
[[nodiscard]] const std::array<std::wstring, kPhoneFieldCount>& PhoneMembers();

// COM for this thread, the message filter, and the member names found so far. Every folder
// and item holds it, so COM stays up until the last of them is let go.
struct OutlookSession {
  OutlookSession() = default;
  OutlookSession(const OutlookSession&) = delete;
  OutlookSession& operator=(const OutlookSession&) = delete;
  ~OutlookSession();

  bool com_started = false;
  // Made once COM is up on this thread; the message filter asks it while a call waits.
  std::unique_ptr<CallWatch> watch;
  bool filter_registered = false;
  ComPtr<IMessageFilter> previous_filter;
  Automation automation;
  ComPtr<IDispatch> application;
  ComPtr<IDispatch> name_space;
  // Outlook has no Table object (2003 and older): every folder is read item by item.
  bool without_tables = false;
};

using OutlookSessionPtr = std::shared_ptr<OutlookSession>;

// The object a call returned, or empty when it returned none.
[[nodiscard]] ComPtr<IDispatch> DispatchOf(const VARIANT& value);

// The text of a returned value; std::nullopt when it cannot be read exactly.
[[nodiscard]] std::optional<std::wstring> TextOf(const VARIANT& value);

// The whole number of a returned value; std::nullopt when it is none.
[[nodiscard]] std::optional<long> NumberOf(const VARIANT& value);

// Throws the error for a failed call about `subject`: StoreLostError when Outlook is gone or
// stays busy, so the walk stops at once instead of failing every contact after it.
[[noreturn]] void ThrowFailure(const Automation::Failure& failure, const std::string& subject,
                               std::string reason);

// Reads one member of an object in the walk, or throws about `subject`.
[[nodiscard]] Variant ReadMember(OutlookSession& session, IDispatch* object, int kind,
                                 std::wstring_view name, const std::string& subject);
// The same, for a member that holds a whole number.
[[nodiscard]] long ReadNumber(OutlookSession& session, IDispatch* object, int kind,
                              std::wstring_view name, const std::string& subject);
// The same, for a member that holds an object.
[[nodiscard]] ComPtr<IDispatch> ReadObject(OutlookSession& session, IDispatch* object, int kind,
                                           std::wstring_view name, const std::string& subject);

// Walks an Outlook collection by Count and 1-based Item, first to last.
class OutlookCollection {
 public:
  // Reads Count; throws StoreError about `subject` when it cannot.
  OutlookCollection(OutlookSessionPtr session, ComPtr<IDispatch> collection, int kind,
                    const std::string& subject);

  // The next element, or empty at the end; throws StoreError naming `what` and its position,
  // having moved past it.
  [[nodiscard]] ComPtr<IDispatch> Next(std::string_view what, std::string& subject);

  [[nodiscard]] const OutlookSessionPtr& SharedSession() const { return m_session; }

 private:
  OutlookSessionPtr m_session;
  ComPtr<IDispatch> m_collection;
  int m_kind;
  long m_count = 0;
  long m_next = 1;
};

}  // namespace dialmend
