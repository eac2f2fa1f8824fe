#include "stores/outlook/outlook_thread.h"

#include <objbase.h>

#include <chrono>
#include <utility>

#include "stores/outlook/call_watch.h"
#include "stores/outlook/com_ptr.h"

namespace dialmend {
namespace {

// How often a waiting call asks the stop hook when no message comes.
constexpr DWORD kStopPollMs = 100;
// How long each side of a call first waits on the counter the other moves, before it waits on
// an event and pumps its messages.
constexpr auto kQuickWait = std::chrono::milliseconds(50);
// How long the end of the Outlook thread is waited for: it only lets go of objects.
constexpr DWORD kEndWaitMs = 10000;

// Waits on `counter` (WaitOnAddress: no trip to the wine server, no messages) until it
// reaches `wanted` or kQuickWait has passed; whether it did.
bool QuickWait(const std::atomic<std::uint64_t>& counter, std::uint64_t wanted) {
  const auto end = std::chrono::steady_clock::now() + kQuickWait;
  for (;;) {
    std::uint64_t seen = counter;
    if (seen >= wanted) return true;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    WaitOnAddress(const_cast<std::atomic<std::uint64_t>*>(&counter), &seen, sizeof seen,
                  static_cast<DWORD>(left.count()));
  }
}

// Wine's ole32 exports CoCancelCall as a stub that ends the process when called (wine 8).
bool CanCancelCalls() {
  static const bool can = [] {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return !(ntdll && GetProcAddress(ntdll, "wine_get_version"));
  }();
  return can;
}

// The object a returned value holds, with a reference of its own; nullptr when none.
IDispatch* ObjectOf(const VARIANT& value) {
  IUnknown* unknown = nullptr;
  if (value.vt == VT_DISPATCH) unknown = value.pdispVal;
  if (value.vt == VT_UNKNOWN) unknown = value.punkVal;
  IDispatch* object = nullptr;
  if (unknown) (void)unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&object));
  return object;
}

}  // namespace

OutlookObject::Held::Held(std::shared_ptr<OutlookThreadCore> owner, IDispatch* object)
    : core(std::move(owner)), raw(object) {}

OutlookObject::Held::~Held() {
  if (raw) core->Release(raw);
}

OutlookThreadCore::OutlookThreadCore(unsigned long busy_wait_ms)
    : m_busy_wait_ms(busy_wait_ms),
      m_work_event(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      m_done_event(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      m_ended(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  m_automation.SetRetryLimit(busy_wait_ms);
  m_automation.SetSignals(&m_signals);
}

OutlookThreadCore::~OutlookThreadCore() {
  for (HANDLE event : {m_work_event, m_done_event, m_ended}) {
    if (event) CloseHandle(event);
  }
}

std::optional<Automation::Failure> OutlookThreadCore::Call(const OutlookObject& object, int kind,
                                                           std::wstring_view name, WORD flags,
                                                           VARIANT* args, unsigned arg_count,
                                                           OutlookReply* reply,
                                                           FailureContext context) {
  Variant result;
  auto failure = m_automation.Call(object.Get(), kind, name, flags, args, arg_count,
                                   reply ? result.Put() : nullptr, context);
  if (failure || !reply) return failure;
  // An object stays on this thread; the caller gets a handle to it.
  if (IDispatch* returned = ObjectOf(result.Get())) {
    reply->object = Adopt(returned);
    reply->value = Variant();
  } else {
    reply->object = OutlookObject();
    reply->value = std::move(result);
  }
  return std::nullopt;
}

OutlookObject OutlookThreadCore::Adopt(IDispatch* raw) {
  OutlookObject object;
  if (raw) object.m_held = std::make_shared<OutlookObject::Held>(shared_from_this(), raw);
  return object;
}

std::uint64_t OutlookThreadCore::Post(OutlookWork work) {
  std::uint64_t ticket = 0;
  {
    const std::lock_guard lock(m_mutex);
    ticket = ++m_posted;
    m_queue.emplace_back(ticket, std::move(work));
    m_queued = ticket;
  }
  WakeByAddressSingle(&m_queued);
  if (m_serving_waits) SetEvent(m_work_event);
  return ticket;
}

void OutlookThreadCore::Release(IDispatch* raw) {
  if (GetCurrentThreadId() == m_thread_id) {
    raw->Release();
    return;
  }
  // Once the thread has ended nothing takes it: the reference is left, as to a closed Outlook.
  (void)Post([raw](OutlookThreadCore&) { raw->Release(); });
}

void OutlookThreadCore::Serve() {
  m_thread_id = GetCurrentThreadId();
  m_com_started = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  ComPtr<IMessageFilter> previous;
  bool filter_registered = false;
  bool cancellation_enabled = false;
  if (SUCCEEDED(m_com_started)) {
    auto* filter = new BusyServerFilter(m_busy_wait_ms, &m_signals);
    filter_registered = SUCCEEDED(CoRegisterMessageFilter(filter, previous.Put()));
    filter->Release();
    // CoCancelCall reaches this thread's calls only with it. Wine takes it but cancels
    // nothing; the waiting thread then leaves the call behind.
    cancellation_enabled = SUCCEEDED(CoEnableCallCancellation(nullptr));
  }
  ServeQueue();
  if (filter_registered) {
    IMessageFilter* ours = nullptr;
    CoRegisterMessageFilter(previous.Get(), &ours);
    if (ours) ours->Release();
  }
  previous.Reset();
  if (cancellation_enabled) (void)CoDisableCallCancellation(nullptr);
  if (SUCCEEDED(m_com_started)) CoUninitialize();
  SetEvent(m_ended);
}

void OutlookThreadCore::ServeQueue() {
  for (;;) {
    std::pair<std::uint64_t, OutlookWork> next;
    {
      const std::lock_guard lock(m_mutex);
      if (!m_queue.empty()) {
        next = std::move(m_queue.front());
        m_queue.pop_front();
      } else if (m_quit) {
        return;
      }
    }
    if (next.second) {
      m_signals.rejected = false;
      // Work reports its own failures; what it throws (out of memory) leaves its result unset.
      try {
        next.second(*this);
      } catch (...) {
      }
      next.second = nullptr;
      m_completed = next.first;
      WakeByAddressAll(&m_completed);
      if (m_caller_waits > 0) SetEvent(m_done_event);
      continue;
    }
    AwaitWork();
  }
}

void OutlookThreadCore::AwaitWork() {
  const auto queued = [this] { return m_queued > m_completed; };
  if (QuickWait(m_queued, m_completed + 1)) return;
  m_serving_waits = true;
  // Work queued after the last look, but before that was said, set no event.
  if (!queued()) {
    // An apartment thread pumps its messages while it waits: COM works through them.
    if (MsgWaitForMultipleObjectsEx(1, &m_work_event, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE) !=
        WAIT_OBJECT_0) {
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
  }
  m_serving_waits = false;
}

OutlookThread::OutlookThread(OutlookWaitHooks hooks, unsigned long busy_wait_ms)
    : m_hooks(std::move(hooks)),
      m_core(std::make_shared<OutlookThreadCore>(busy_wait_ms)),
      m_thread([core = m_core] { core->Serve(); }) {}

OutlookThread::~OutlookThread() {
  {
    const std::lock_guard lock(m_core->m_mutex);
    m_core->m_quit = true;
  }
  SetEvent(m_core->m_work_event);
  // A thread left in a call Outlook never answered cannot be waited for; it ends on its own if
  // Outlook ever answers.
  if (!m_abandoned && WaitForSingleObject(m_core->m_ended, kEndWaitMs) == WAIT_OBJECT_0) {
    m_thread.join();
  } else {
    m_thread.detach();
  }
}

bool OutlookThread::Run(OutlookWork work) {
  if (m_abandoned) return false;
  return Wait(m_core->Post(std::move(work)));
}

void OutlookThread::Post(OutlookWork work) {
  if (!m_abandoned) (void)m_core->Post(std::move(work));
}

void OutlookThread::GiveUp() {
  m_core->m_signals.cancel = true;
  if (const DWORD thread = m_core->m_thread_id) {
    // Windows cancels the call itself; under wine the message filter, woken by the message,
    // answers that the call is cancelled, which wine does not act on.
    if (CanCancelCalls()) (void)CoCancelCall(thread, 0);
    PostThreadMessageW(thread, WM_NULL, 0, 0);
  }
}

bool OutlookThread::Wait(std::uint64_t ticket) {
  if (QuickWait(m_core->m_completed, ticket)) return true;
  ++m_core->m_caller_waits;
  const bool answered = WaitLong(ticket);
  --m_core->m_caller_waits;
  return answered;
}

bool OutlookThread::WaitLong(std::uint64_t ticket) {
  const HANDLE wakes[2] = {m_core->m_done_event, OutlookCancelEvent()};
  const ULONGLONG start = GetTickCount64();
  bool told = false;
  bool stopping = false;
  for (;;) {
    // Work done after the last look, but before this wait was said, set no event.
    if (m_core->m_completed >= ticket) return true;
    const ULONGLONG waited = GetTickCount64() - start;
    if (stopping && waited >= kStopAfterMs) {
      m_abandoned = true;
      GiveUp();
      return false;
    }
    // Once stopping, only the call's end is waited for, until it may be left.
    const DWORD woke =
        stopping ? WaitForSingleObject(wakes[0], static_cast<DWORD>(kStopAfterMs - waited))
                 : MsgWaitForMultipleObjects(wakes[1] ? 2 : 1, wakes, FALSE, kStopPollMs,
                                             m_hooks.stop ? QS_ALLINPUT : 0);
    if (m_core->m_completed >= ticket) return true;
    if (!told && GetTickCount64() - start >= kWaitNoticeMs && m_hooks.waiting) {
      told = true;
      m_hooks.waiting(m_core->m_signals.rejected ? kBusyNotice : kWaitNotice);
    }
    if (!stopping && woke != WAIT_OBJECT_0) {
      stopping = (wakes[1] && WaitForSingleObject(wakes[1], 0) == WAIT_OBJECT_0) ||
                 (m_hooks.stop && m_hooks.stop());
    }
  }
}

}  // namespace dialmend
