#pragma once

// The other Windows headers need what windows.h declares first.
#include <windows.h>

#include <objidl.h>
#include <oleauto.h>

#include <atomic>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/utf16.h"
#include "stores/outlook/com_ptr.h"

// Late-bound calls through IDispatch and the text, ownership and failure helpers they need.
// Windows only. Nothing here throws; callers turn a failure into their own error.

namespace dialmend {

// Makes the text of every Bstr(text): SysAllocStringLen unless a test sets one that fails.
using BstrAllocator = BSTR (*)(const OLECHAR* text, UINT length);
// Sets the allocator; nullptr puts SysAllocStringLen back.
void SetBstrAllocator(BstrAllocator allocator);

// A BSTR owned by one holder and freed when it goes.
class Bstr {
 public:
  Bstr() = default;
  // Holds no text when the allocation fails (see Ok()).
  explicit Bstr(std::wstring_view text);
  Bstr(Bstr&& other) noexcept : m_raw(std::exchange(other.m_raw, nullptr)) {}
  Bstr& operator=(Bstr&& other) noexcept;
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr();

  [[nodiscard]] BSTR Get() const { return m_raw; }
  // False when the text could not be allocated: a null BSTR reads as empty text, so one must
  // never be sent in place of a value.
  [[nodiscard]] bool Ok() const { return m_raw != nullptr; }
  // The text, embedded NULs included; empty for a null BSTR.
  [[nodiscard]] std::wstring_view View() const;
  // For an out-parameter: frees the text held now, then gives the slot to fill.
  [[nodiscard]] BSTR* Put();
  // Hands the text over to the caller, who frees it.
  [[nodiscard]] BSTR Detach() { return std::exchange(m_raw, nullptr); }

 private:
  BSTR m_raw = nullptr;
};

// A VARIANT cleared when it goes.
class Variant {
 public:
  Variant() { VariantInit(&m_value); }
  Variant(Variant&& other) noexcept;
  Variant& operator=(Variant&& other) noexcept;
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  ~Variant() { VariantClear(&m_value); }

  [[nodiscard]] static Variant Int(long value);
  // Takes the text over from `text`.
  [[nodiscard]] static Variant Text(Bstr text);

  [[nodiscard]] const VARIANT& Get() const { return m_value; }
  [[nodiscard]] VARIANT* Raw() { return &m_value; }
  // For an out-parameter: clears the value held now, then gives the slot to fill.
  [[nodiscard]] VARIANT* Put();

 private:
  VARIANT m_value;
};

// What a failure is about, where the same code reads differently.
enum class FailureContext { Call, Read, Save };

// Why a call failed, in words ("the item has been changed by another user"): the known
// Outlook, MAPI and COM codes first, then the description Outlook gave, then the system's
// text for the code. Never only a number.
[[nodiscard]] std::string FailureText(HRESULT result, const EXCEPINFO* exception = nullptr,
                                      FailureContext context = FailureContext::Call);

// The system's text for `result` without its final full stop, or empty text.
[[nodiscard]] std::string SystemMessage(HRESULT result);

// A sentence from Outlook or the system made to follow "...: ": no final full stop or line end.
// Its first letter is lowered only when `english` (the words of another language keep their
// capitals: "Zugriff verweigert") and the first word is not a name or an initialism.
[[nodiscard]] std::string AsClause(std::string text, bool english);

// True for the failures after which no call is tried: Outlook has gone, stayed busy for the
// whole wait, or did not answer and the wait was cancelled.
[[nodiscard]] bool IsFatal(HRESULT result);

// True for the codes that say Outlook has gone: closed, crashed or cut off. No later call can
// succeed.
[[nodiscard]] bool IsServerGone(HRESULT result);

// True when the profile could not be logged on to.
[[nodiscard]] bool IsLogonFailure(HRESULT result);

// How long a busy Outlook is waited for, and the wait between tries.
inline constexpr unsigned long kRetryLimitMs = 30000;
inline constexpr unsigned long kRetryStepMs = 100;

// The wait before trying a rejected call again, `elapsed_ms` after the first try, or
// std::nullopt when `limit_ms` has passed and it is time to give up.
[[nodiscard]] std::optional<unsigned long> RetryDelay(unsigned long elapsed_ms,
                                                      unsigned long limit_ms = kRetryLimitMs);

// True for the replies of a server too busy to take the call now.
[[nodiscard]] bool IsBusyReply(HRESULT result);

// What the calls of one thread share with the thread that waits for them.
struct CallSignals {
  // The wait has been given up: retry nothing more, and cancel the call in hand.
  std::atomic<bool> cancel{false};
  // Outlook has refused the call in hand as busy at least once.
  std::atomic<bool> rejected{false};
};

// The message filter of the thread that calls Outlook: a call that Outlook rejects or asks to
// retry later is tried again by COM every kRetryStepMs for up to `limit_ms`, and tells
// `signals` so; once `signals` says cancel, no call is tried again and a call waiting for its
// answer is cancelled.
class BusyServerFilter : public IMessageFilter {
 public:
  explicit BusyServerFilter(unsigned long limit_ms = kRetryLimitMs, CallSignals* signals = nullptr)
      : m_limit_ms(limit_ms), m_signals(signals) {}
  virtual ~BusyServerFilter() = default;

  STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP_(DWORD)
  HandleInComingCall(DWORD call_type, HTASK caller, DWORD tick_count,
                     LPINTERFACEINFO info) override;
  STDMETHODIMP_(DWORD)
  RetryRejectedCall(HTASK callee, DWORD tick_count, DWORD reject_type) override;
  STDMETHODIMP_(DWORD) MessagePending(HTASK callee, DWORD tick_count, DWORD pending_type) override;

 private:
  LONG m_references = 1;
  unsigned long m_limit_ms;
  CallSignals* m_signals;
};

// Calls members by name, on the thread the objects belong to. Each name is looked up once per
// kind of object (GetIDsOfNames) and its DISPID kept; a call that Outlook rejects as busy is
// tried again within RetryDelay. After a fatal failure every later call fails the same way at
// once, without reaching Outlook.
class Automation {
 public:
  // What a call left behind when it failed.
  struct Failure {
    HRESULT result = S_OK;
    std::string reason;  // in words
    // Outlook has gone, or stayed busy for the whole wait: nothing more can be done with it.
    bool fatal = false;
  };

  // How long a busy Outlook is waited for on each call; kRetryLimitMs unless a test shortens it.
  void SetRetryLimit(unsigned long limit_ms) { m_retry_limit_ms = limit_ms; }
  // Tells `signals` of busy refusals and stops retrying once it says cancel; nullptr: none.
  void SetSignals(CallSignals* signals) { m_signals = signals; }

  // Calls `name` on `object`, an object of `kind`, with `args` in their natural order;
  // `flags` is DISPATCH_METHOD, DISPATCH_PROPERTYGET or DISPATCH_PROPERTYPUT. `name` must
  // outlive the Automation (a literal or a static). Returns std::nullopt on success.
  [[nodiscard]] std::optional<Failure> Call(IDispatch* object, int kind, std::wstring_view name,
                                            WORD flags, VARIANT* args, unsigned arg_count,
                                            VARIANT* result,
                                            FailureContext context = FailureContext::Call);

 private:
  std::optional<Failure> Lookup(IDispatch* object, int kind, std::wstring_view name, DISPID& id);

  std::map<std::pair<int, std::wstring_view>, DISPID> m_ids;
  // Whether a call refused as busy is tried again after `elapsed_ms`, having said it was
  // refused.
  std::optional<unsigned long> Retry(HRESULT result, unsigned long elapsed_ms);

  unsigned long m_retry_limit_ms = kRetryLimitMs;
  CallSignals* m_signals = nullptr;
  std::optional<Failure> m_lost;
};

}  // namespace dialmend
