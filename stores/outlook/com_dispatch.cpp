#include "stores/outlook/com_dispatch.h"

#include <algorithm>
#include <cstdio>
#include <cwctype>
#include <utility>

#include "platform/reason.h"

namespace dialmend {
namespace {

// MAPI's codes, as Outlook passes them on; mapicode.h is not part of mingw.
constexpr HRESULT kMapiNoSupport = static_cast<HRESULT>(0x80040102);
constexpr HRESULT kMapiObjectChanged = static_cast<HRESULT>(0x80040109);
constexpr HRESULT kMapiObjectDeleted = static_cast<HRESULT>(0x8004010A);
constexpr HRESULT kMapiBusy = static_cast<HRESULT>(0x8004010B);
constexpr HRESULT kMapiNotEnoughDisk = static_cast<HRESULT>(0x8004010D);
constexpr HRESULT kMapiNotFound = static_cast<HRESULT>(0x8004010F);
constexpr HRESULT kMapiLogonFailed = static_cast<HRESULT>(0x80040111);
constexpr HRESULT kMapiUserCancel = static_cast<HRESULT>(0x80040113);
constexpr HRESULT kMapiNetworkError = static_cast<HRESULT>(0x80040115);
constexpr HRESULT kMapiStoreFull = static_cast<HRESULT>(0x8004060C);
// The server-gone codes, as HRESULTs; RPC_S_* are plain Win32 numbers in winerror.h.
constexpr HRESULT kServerDied = static_cast<HRESULT>(0x80010007);             // RPC_E_SERVER_DIED
constexpr HRESULT kServerDiedNotExecuted = static_cast<HRESULT>(0x80010012);  // ..._DNE
constexpr HRESULT kServerUnavailable =
    static_cast<HRESULT>(0x800706BA);                              // RPC_S_SERVER_UNAVAILABLE
constexpr HRESULT kCallFailed = static_cast<HRESULT>(0x800706BE);  // RPC_S_CALL_FAILED
constexpr HRESULT kCallFailedNotExecuted = static_cast<HRESULT>(0x800706BF);  // ..._DNE
constexpr HRESULT kServerStopping = static_cast<HRESULT>(0x80080008);  // CO_E_SERVER_STOPPING

BstrAllocator g_allocator = nullptr;

// Whether text from the system or Outlook is English, where a first capital is only the start
// of a sentence. Both speak the user's interface language.
bool UserSpeaksEnglish() {
  return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_ENGLISH;
}

std::string KnownText(HRESULT result, FailureContext context) {
  if (IsServerGone(result) || result == CO_E_OBJNOTCONNECTED) return "Outlook has closed";
  switch (result) {
    case kMapiObjectChanged:
      return "the item has been changed by another user or in another window";
    case kMapiObjectDeleted:
      return "the item has been deleted";
    case kMapiNotFound:
      return "the item no longer exists (it may have been moved or deleted)";
    case kMapiNoSupport:
      return context == FailureContext::Read ? "Outlook does not allow it to be read"
                                             : "the folder does not allow items to be changed";
    case kMapiBusy:
      return "Outlook is busy";
    case kMapiNotEnoughDisk:
      return "the disk is full";
    case kMapiStoreFull:
      return "the mailbox is full";
    case kMapiLogonFailed:
      return "the profile could not be logged on to";
    case kMapiUserCancel:
      return "the request was cancelled";
    case kMapiNetworkError:
      return "the mail server cannot be reached";
    case E_ACCESSDENIED:
      return context == FailureContext::Save
                 ? "the folder is read-only or shared without permission to change it"
                 : "access was refused";
    case RPC_E_CALL_REJECTED:
    case RPC_E_SERVERCALL_RETRYLATER:
      return "Outlook stayed busy and did not answer for 30 seconds (a dialog box may be open in "
             "Outlook)";
    case RPC_E_CALL_CANCELED:
      return "Outlook did not answer, and the wait for it was stopped";
    case CO_E_CLASSSTRING:
    case REGDB_E_CLASSNOTREG:
      return "Outlook is not installed";
    case CO_E_SERVER_EXEC_FAILURE:
      // What Windows answers when Outlook runs as the user and this program as administrator
      // (or the other way round): COM will not join the two.
      return "Outlook could not be started; if Outlook is open, it is running as a different "
             "user or elevation than this program (start both as the same user, both as "
             "administrator or neither)";
    case E_OUTOFMEMORY:
      return "out of memory";
    default:
      return {};
  }
}

bool Contains(std::wstring_view text, std::wstring_view part) {
  return std::search(text.begin(), text.end(), part.begin(), part.end(), [](wchar_t a, wchar_t b) {
           return std::towlower(a) == std::towlower(b);
         }) != text.end();
}

// Outlook's own descriptions name the common refusals even when the code is a generic one.
std::string DescriptionText(std::wstring_view description, FailureContext context) {
  if (Contains(description, L"has been changed") || Contains(description, L"changed by another")) {
    return KnownText(kMapiObjectChanged, context);
  }
  // A read is not a change: Outlook's own words say more than ours would.
  if (context == FailureContext::Read) return {};
  if (Contains(description, L"read-only") || Contains(description, L"read only")) {
    return "the folder is read-only";
  }
  if (Contains(description, L"permission")) {
    return "you do not have permission to change items in this folder";
  }
  return {};
}

std::string CodeText(HRESULT result) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(result));
  return std::string("an unexplained failure (code ") + code + ")";
}

}  // namespace

void SetBstrAllocator(BstrAllocator allocator) {
  g_allocator = allocator;
}

std::string AsClause(std::string text, bool english) {
  while (!text.empty() &&
         (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.')) {
    text.pop_back();
  }
  const auto start = text.find_first_not_of(" \r\n");
  text.erase(0, start == std::string::npos ? text.size() : start);
  const std::string_view first_word = std::string_view(text).substr(0, text.find(' '));
  const bool name = first_word == "Outlook" || first_word == "Microsoft" ||
                    first_word == "Exchange" || first_word == "Windows";
  if (!english || name || text.size() < 2 || text[1] < 'a' || text[1] > 'z') return text;
  return AsReason(std::move(text));
}

bool IsFatal(HRESULT result) {
  return IsServerGone(result) || IsBusyReply(result) || result == RPC_E_CALL_CANCELED;
}

bool IsServerGone(HRESULT result) {
  switch (result) {
    case RPC_E_DISCONNECTED:
    case kServerDied:
    case kServerDiedNotExecuted:
    case kServerUnavailable:
    case kCallFailed:
    case kCallFailedNotExecuted:
    case kServerStopping:
      return true;
    default:
      return false;
  }
}

bool IsLogonFailure(HRESULT result) {
  return result == kMapiLogonFailed;
}

Bstr::Bstr(std::wstring_view text)
    : m_raw((g_allocator ? g_allocator : SysAllocStringLen)(text.data(),
                                                            static_cast<UINT>(text.size()))) {}

Bstr& Bstr::operator=(Bstr&& other) noexcept {
  if (this != &other) {
    SysFreeString(m_raw);
    m_raw = std::exchange(other.m_raw, nullptr);
  }
  return *this;
}

Bstr::~Bstr() {
  SysFreeString(m_raw);
}

std::wstring_view Bstr::View() const {
  return m_raw ? std::wstring_view(m_raw, SysStringLen(m_raw)) : std::wstring_view();
}

BSTR* Bstr::Put() {
  SysFreeString(std::exchange(m_raw, nullptr));
  return &m_raw;
}

Variant::Variant(Variant&& other) noexcept : m_value(other.m_value) {
  VariantInit(&other.m_value);
}

Variant& Variant::operator=(Variant&& other) noexcept {
  if (this != &other) {
    VariantClear(&m_value);
    m_value = other.m_value;
    VariantInit(&other.m_value);
  }
  return *this;
}

Variant Variant::Int(long value) {
  Variant v;
  v.m_value.vt = VT_I4;
  v.m_value.lVal = value;
  return v;
}

Variant Variant::Text(Bstr text) {
  Variant v;
  v.m_value.vt = VT_BSTR;
  v.m_value.bstrVal = text.Detach();
  return v;
}

VARIANT* Variant::Put() {
  VariantClear(&m_value);
  return &m_value;
}

std::string SystemMessage(HRESULT result) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(result), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  if (length == 0 || !buffer) return {};
  std::string text = Utf16ToUtf8Lossy(std::wstring_view(buffer, length));
  LocalFree(buffer);
  return AsClause(std::move(text), UserSpeaksEnglish());
}

std::string FailureText(HRESULT result, const EXCEPINFO* exception, FailureContext context) {
  if (result == DISP_E_EXCEPTION && exception) {
    const HRESULT code = exception->scode != 0 ? exception->scode
                         : exception->wCode != 0
                             // Automation's rule: wCode counts up from 0x80040200.
                             ? static_cast<HRESULT>(0x80040200u + exception->wCode)
                             : E_FAIL;
    if (std::string text = KnownText(code, context); !text.empty()) return text;
    const std::wstring_view description =
        exception->bstrDescription ? std::wstring_view(exception->bstrDescription,
                                                       SysStringLen(exception->bstrDescription))
                                   : std::wstring_view();
    if (std::string text = DescriptionText(description, context); !text.empty()) return text;
    if (std::string text = AsClause(Utf16ToUtf8Lossy(description), UserSpeaksEnglish());
        !text.empty()) {
      return text;
    }
    if (std::string text = SystemMessage(code); !text.empty()) return text;
    return CodeText(code);
  }
  if (std::string text = KnownText(result, context); !text.empty()) return text;
  if (std::string text = SystemMessage(result); !text.empty()) return text;
  return CodeText(result);
}

std::optional<unsigned long> RetryDelay(unsigned long elapsed_ms, unsigned long limit_ms) {
  if (elapsed_ms >= limit_ms) return std::nullopt;
  return kRetryStepMs;
}

bool IsBusyReply(HRESULT result) {
  return result == RPC_E_CALL_REJECTED || result == RPC_E_SERVERCALL_RETRYLATER;
}

STDMETHODIMP BusyServerFilter::QueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMessageFilter)) {
    *object = static_cast<IMessageFilter*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) BusyServerFilter::AddRef() {
  return InterlockedIncrement(&m_references);
}

STDMETHODIMP_(ULONG) BusyServerFilter::Release() {
  const LONG left = InterlockedDecrement(&m_references);
  if (left == 0) delete this;
  return left;
}

STDMETHODIMP_(DWORD) BusyServerFilter::HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO) {
  return SERVERCALL_ISHANDLED;
}

STDMETHODIMP_(DWORD)
BusyServerFilter::RetryRejectedCall(HTASK, DWORD tick_count, DWORD reject_type) {
  // Outlook rejects calls while a dialog of its own is open, and asks to retry while busy;
  // both pass once the user or Outlook is done.
  if (reject_type != SERVERCALL_RETRYLATER && reject_type != SERVERCALL_REJECTED) {
    return static_cast<DWORD>(-1);
  }
  if (m_signals) {
    m_signals->rejected = true;
    if (m_signals->cancel) return static_cast<DWORD>(-1);
  }
  const auto delay = RetryDelay(tick_count, m_limit_ms);
  return delay ? *delay : static_cast<DWORD>(-1);
}

STDMETHODIMP_(DWORD) BusyServerFilter::MessagePending(HTASK, DWORD, DWORD) {
  // Windows then fails the call at once; wine goes on waiting, and the waiting thread leaves
  // it behind.
  return m_signals && m_signals->cancel ? static_cast<DWORD>(PENDINGMSG_CANCELCALL)
                                        : static_cast<DWORD>(PENDINGMSG_WAITDEFPROCESS);
}

std::optional<unsigned long> Automation::Retry(HRESULT result, unsigned long elapsed_ms) {
  if (!IsBusyReply(result)) return std::nullopt;
  if (m_signals) {
    m_signals->rejected = true;
    if (m_signals->cancel) return std::nullopt;
  }
  return RetryDelay(elapsed_ms, m_retry_limit_ms);
}

std::optional<Automation::Failure> Automation::Lookup(IDispatch* object, int kind,
                                                      std::wstring_view name, DISPID& id) {
  const auto key = std::make_pair(kind, name);
  if (const auto found = m_ids.find(key); found != m_ids.end()) {
    id = found->second;
    return std::nullopt;
  }
  std::wstring text(name);
  LPOLESTR names[] = {text.data()};
  const ULONGLONG start = GetTickCount64();
  for (;;) {
    const HRESULT result = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (SUCCEEDED(result)) break;
    if (const auto delay = Retry(result, static_cast<unsigned long>(GetTickCount64() - start))) {
      Sleep(*delay);
      continue;
    }
    std::string reason = result == DISP_E_UNKNOWNNAME
                             ? "Outlook does not know \"" + Utf16ToUtf8Lossy(name) + "\""
                             : FailureText(result);
    return Failure{result, std::move(reason), IsFatal(result)};
  }
  m_ids.emplace(key, id);
  return std::nullopt;
}

std::optional<Automation::Failure> Automation::Call(IDispatch* object, int kind,
                                                    std::wstring_view name, WORD flags,
                                                    VARIANT* args, unsigned arg_count,
                                                    VARIANT* result, FailureContext context) {
  if (m_lost) return m_lost;
  if (!object) return Failure{E_POINTER, "Outlook gave no object"};
  DISPID id = DISPID_UNKNOWN;
  if (auto failure = Lookup(object, kind, name, id)) {
    if (failure->fatal) m_lost = failure;
    return failure;
  }

  // IDispatch takes its arguments last first.
  std::reverse(args, args + arg_count);
  DISPID put_id = DISPID_PROPERTYPUT;
  DISPPARAMS params{};
  params.rgvarg = args;
  params.cArgs = arg_count;
  if (flags & DISPATCH_PROPERTYPUT) {
    params.rgdispidNamedArgs = &put_id;
    params.cNamedArgs = 1;
  }
  const ULONGLONG start = GetTickCount64();
  for (;;) {
    EXCEPINFO exception{};
    UINT bad_argument = 0;
    if (result) VariantClear(result);
    const HRESULT outcome = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                                           result, &exception, &bad_argument);
    if (outcome == DISP_E_EXCEPTION && exception.pfnDeferredFillIn) {
      exception.pfnDeferredFillIn(&exception);
    }
    std::optional<Failure> failure;
    if (FAILED(outcome)) {
      const HRESULT code =
          outcome == DISP_E_EXCEPTION && exception.scode != 0 ? exception.scode : outcome;
      if (const auto delay = Retry(code, static_cast<unsigned long>(GetTickCount64() - start))) {
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
        Sleep(*delay);
        continue;
      }
      failure = Failure{code, FailureText(outcome, &exception, context), IsFatal(code)};
      if (failure->fatal) m_lost = failure;
    }
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    std::reverse(args, args + arg_count);
    return failure;
  }
}

}  // namespace dialmend
