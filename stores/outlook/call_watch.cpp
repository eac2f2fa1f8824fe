#include "stores/outlook/call_watch.h"

#include <objbase.h>

#include <atomic>
#include <chrono>
#include <utility>

namespace dialmend {
namespace {

// Shared with CancelOutlookCall, which runs on any thread. A store opened again while the
// items of the last one live makes a second watch: the newest is the one watched.
std::atomic<CallWatch*> g_current{nullptr};
std::atomic<DWORD> g_watched_thread{0};
std::atomic<ULONGLONG> g_call_started{0};  // GetTickCount64 at its start; 0: no call
std::atomic<bool> g_cancel{false};

// A call is nudged once it has waited this long: most answer in well under a millisecond.
constexpr ULONGLONG kNudgeAfterMs = 200;
constexpr auto kNudgeEvery = std::chrono::milliseconds(100);
// A cancelled call that has waited less than this is left to finish: it is no hung call, and
// the run stops between contacts anyway.
constexpr DWORD kCancelAfterMs = 500;

// Wine's ole32 exports CoCancelCall as a stub that ends the process when called (wine 8).
bool CanCancelCalls() {
  static const bool can = [] {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return !(ntdll && GetProcAddress(ntdll, "wine_get_version"));
  }();
  return can;
}

// How long the call in progress has waited, or 0.
ULONGLONG Waited() {
  const ULONGLONG started = g_call_started.load();
  return started == 0 ? 0 : GetTickCount64() - started;
}

// Whether Esc was pressed in a window of this thread (a window running the store) and, if so,
// takes the key. COM's wait for an answer dispatches no keys, so the window would never see it;
// taken here, it does not also press Quit once the run has ended. Only the first key waiting
// counts: the others stay for the window.
bool TakeEscape() {
  MSG key;
  if (!PeekMessageW(&key, nullptr, WM_KEYDOWN, WM_KEYDOWN, PM_NOREMOVE | PM_NOYIELD)) return false;
  if (key.wParam != VK_ESCAPE) return false;
  (void)PeekMessageW(&key, key.hwnd, WM_KEYDOWN, WM_KEYDOWN, PM_REMOVE | PM_NOYIELD);
  return true;
}

}  // namespace

void CancelOutlookCall() {
  g_cancel = true;
  const DWORD thread = g_watched_thread.load();
  if (thread == 0 || Waited() < kCancelAfterMs) return;
  // Windows cancels the call itself (its failure leaves the message filter to do it); under
  // wine the message filter, woken by the message, cancels it alone.
  if (CanCancelCalls()) (void)CoCancelCall(thread, 0);
  PostThreadMessageW(thread, WM_NULL, 0, 0);
}

CallWatch::CallWatch(std::function<void(const std::string&)> waiting)
    : m_waiting(std::move(waiting)), m_thread(GetCurrentThreadId()) {
  g_current = this;
  g_watched_thread = m_thread;
  g_call_started = 0;
  g_cancel = false;
  // Without it CoCancelCall cannot reach this thread's calls; wine answers E_NOTIMPL, and the
  // message filter then cancels alone.
  m_cancellation_enabled = SUCCEEDED(CoEnableCallCancellation(nullptr));
  m_watcher = std::thread([this] { Watch(); });
}

CallWatch::~CallWatch() {
  {
    const std::lock_guard lock(m_mutex);
    m_stop = true;
  }
  m_wake.notify_one();
  m_watcher.join();
  if (m_cancellation_enabled) (void)CoDisableCallCancellation(nullptr);
  CallWatch* self = this;
  if (g_current.compare_exchange_strong(self, nullptr)) {
    g_watched_thread = 0;
    g_call_started = 0;
  }
}

void CallWatch::CallStarted() {
  m_told = false;
  g_call_started = GetTickCount64();
}

void CallWatch::CallEnded() {
  g_call_started = 0;
}

DWORD CallWatch::Pending(DWORD waited_ms) {
  // Once the user has been told of the wait, Esc in the window cancels it as Ctrl-C does.
  if (waited_ms >= kWaitNoticeMs && !g_cancel && TakeEscape()) g_cancel = true;
  if (g_cancel && waited_ms >= kCancelAfterMs) return PENDINGMSG_CANCELCALL;
  if (waited_ms >= kWaitNoticeMs && !m_told) {
    m_told = true;
    if (m_waiting) m_waiting(kWaitNotice);
  }
  return PENDINGMSG_WAITDEFPROCESS;
}

void CallWatch::Watch() {
  std::unique_lock lock(m_mutex);
  while (!m_wake.wait_for(lock, kNudgeEvery, [this] { return m_stop; })) {
    if (g_current.load() == this && Waited() >= kNudgeAfterMs) {
      PostThreadMessageW(m_thread, WM_NULL, 0, 0);
    }
  }
}

}  // namespace dialmend
