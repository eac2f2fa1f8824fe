#pragma once

// The other Windows headers need what windows.h declares first.
#include <windows.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

// A call that Outlook takes but never answers (a security prompt behind another window, the
// Choose Profile dialog, a hung Outlook) would hold the run forever. The watch says so after
// a few seconds and lets another thread (a Ctrl-C handler), or Esc pressed in the window making
// the call, cancel the call. Windows only.

namespace dialmend {

// How long one call waits before the user is told, and what they are told.
inline constexpr unsigned long kWaitNoticeMs = 3000;
inline constexpr char kWaitNotice[] =
    "Waiting for Outlook to answer: a dialog box or a security prompt may be open in Outlook";

// Cancels the Outlook call that a run in this process is waiting on, from any thread: the call
// fails with RPC_E_CALL_CANCELED and the run ends as an abort. A call that is quick anyway is
// left to finish; a call that starts waiting after this is cancelled too, until a store opens
// again.
void CancelOutlookCall();

// Watches the calls of the thread that makes it; one at a time per process. While a call has
// been waiting a while, a helper thread posts empty messages to the calling thread so that
// COM asks its message filter (Pending) again and again.
class CallWatch {
 public:
  // `waiting` is told kWaitNotice, on the calling thread, once per call that waits
  // kWaitNoticeMs; unset, nobody is told.
  explicit CallWatch(std::function<void(const std::string&)> waiting);
  CallWatch(const CallWatch&) = delete;
  CallWatch& operator=(const CallWatch&) = delete;
  ~CallWatch();

  void CallStarted();
  void CallEnded();

  // What the message filter answers while a call waits `waited_ms`: PENDINGMSG_CANCELCALL once
  // CancelOutlookCall has asked, or once Esc is pressed in a window of the calling thread after
  // kWaitNoticeMs (which then counts as CancelOutlookCall), else PENDINGMSG_WAITDEFPROCESS.
  [[nodiscard]] DWORD Pending(DWORD waited_ms);

 private:
  void Watch();

  std::function<void(const std::string&)> m_waiting;
  DWORD m_thread;
  bool m_told = false;
  bool m_cancellation_enabled = false;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  bool m_stop = false;
  std::thread m_watcher;  // last, so that it starts once the rest is made
};

}  // namespace dialmend
