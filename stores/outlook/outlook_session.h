#pragma once

// What the Outlook store's pieces share: the Outlook thread every call runs on, and the reads
// and walks whose failures are thrown as the walk expects them. Windows only.

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "contacts/contact_store.h"
#include "contacts/phone_field.h"
#include "stores/outlook/com_dispatch.h"
#include "stores/outlook/outlook_thread.h"

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
  kRow,
  kPropertyAccessor,
  kAnyItem,
  kItemOfClass,  // plus the item's class
};

// Outlook's names of the nineteen phone fields, in field order.
[[nodiscard]] const std::array<std::wstring, kPhoneFieldCount>& PhoneMembers();

// The Outlook thread and the profile's objects. Every folder and item holds it, so the thread
// stays up until the last of them is let go. Used from the run's thread.
struct OutlookSession {
  OutlookSession(OutlookWaitHooks hooks, unsigned long busy_wait_ms)
      : thread(std::move(hooks), busy_wait_ms) {}

  // Runs `work` on the Outlook thread (see OutlookWork); false, with `lost` set, when Outlook
  // was lost before or the wait for it was stopped.
  [[nodiscard]] bool Run(OutlookWork work);

  // Calls `name` on `object` on the Outlook thread, as OutlookThreadCore::Call does, with
  // `args` in their natural order; std::nullopt on success. A fatal failure loses Outlook.
  [[nodiscard]] std::optional<Automation::Failure> Call(
      const OutlookObject& object, int kind, std::wstring_view name, WORD flags,
      std::vector<Variant> args = {}, OutlookReply* reply = nullptr,
      FailureContext context = FailureContext::Call);

  // Notes a failure; a fatal one loses Outlook: no call is made after it.
  void Note(const std::optional<Automation::Failure>& failure);

  OutlookThread thread;
  OutlookObject application;
  OutlookObject name_space;
  // Outlook has no Table object (2003 and older): every folder is read item by item.
  bool without_tables = false;
  // Outlook has no PropertyAccessor (2003 and older): no folder is taken for hidden.
  bool without_property_accessor = false;
  // Why Outlook is lost, once it is: every call fails so at once.
  std::optional<Automation::Failure> lost;
};

using OutlookSessionPtr = std::shared_ptr<OutlookSession>;

// Work on the Outlook thread that fills an Outcome, a struct with a `failure` member: `work`
// is called there as work(core, outcome). The Outcome comes back as the work left it, or with
// the failure that lost Outlook.
template <class Outcome, class Work>
[[nodiscard]] Outcome OnOutlookThread(OutlookSession& session, Work work) {
  auto outcome = std::make_shared<Outcome>();
  // Work that throws (out of memory) leaves this.
  outcome->failure = Automation::Failure{E_OUTOFMEMORY, "out of memory"};
  if (!session.Run([outcome, work](OutlookThreadCore& core) { work(core, *outcome); })) {
    // The work may still fill its own outcome later: a fresh one is given instead.
    Outcome lost;
    lost.failure = session.lost;
    return lost;
  }
  session.Note(outcome->failure);
  return std::move(*outcome);
}

// The text of a returned value; std::nullopt when it cannot be read exactly.
[[nodiscard]] std::optional<std::wstring> TextOf(const VARIANT& value);

// The whole number of a returned value; std::nullopt when it is none.
[[nodiscard]] std::optional<long> NumberOf(const VARIANT& value);

// Throws the error for a failed call about `subject`: StoreLostError when Outlook is gone or
// stays busy, so the walk stops at once instead of failing every contact after it.
[[noreturn]] void ThrowFailure(const Automation::Failure& failure, const std::string& subject,
                               std::string reason);

// Reads one member of an object in the walk, or throws about `subject`.
[[nodiscard]] Variant ReadMember(OutlookSession& session, const OutlookObject& object, int kind,
                                 std::wstring_view name, const std::string& subject);
// The same, for a member that holds a whole number.
[[nodiscard]] long ReadNumber(OutlookSession& session, const OutlookObject& object, int kind,
                              std::wstring_view name, const std::string& subject);
// The same, for a member that holds an object.
[[nodiscard]] OutlookObject ReadObject(OutlookSession& session, const OutlookObject& object,
                                       int kind, std::wstring_view name,
                                       const std::string& subject);

// Walks an Outlook collection by Count and 1-based Item, first to last.
class OutlookCollection {
 public:
  // Reads Count; throws StoreError about `subject` when it cannot.
  OutlookCollection(OutlookSessionPtr session, OutlookObject collection, int kind,
                    const std::string& subject);

  // The next element, or empty at the end; throws StoreError naming `what` and its position,
  // having moved past it.
  [[nodiscard]] OutlookObject Next(std::string_view what, std::string& subject);

  [[nodiscard]] const OutlookSessionPtr& SharedSession() const { return m_session; }
  [[nodiscard]] const OutlookObject& Object() const { return m_collection; }

  // Moves past the next element without reading it; its 1-based position, or 0 at the end.
  [[nodiscard]] long Skip() { return m_next <= m_count ? m_next++ : 0; }

 private:
  OutlookSessionPtr m_session;
  OutlookObject m_collection;
  int m_kind;
  long m_count = 0;
  long m_next = 1;
};

}  // namespace dialmend
