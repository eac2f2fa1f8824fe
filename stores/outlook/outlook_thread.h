#pragma once

// The other Windows headers need what windows.h declares first.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "stores/outlook/com_dispatch.h"

// Every call into Outlook is made on a thread of its own, the Outlook thread, in a COM apartment
// of its own, while the run's thread waits for it. So the window the run was started from keeps
// answering (its wait hook pumps its messages), a call Outlook is slow to answer is said after a
// few seconds, and the user ends the wait at once, even where COM cannot cancel the call (wine):
// the call is then left to end on the Outlook thread alone. Objects Outlook hands out belong to
// that thread and are called and let go there only. Windows only.

namespace dialmend {

class OutlookThreadCore;

// An object Outlook handed out, held for its Outlook thread: copies share one reference, which
// is let go on that thread once the last copy goes.
class OutlookObject {
 public:
  OutlookObject() = default;

  // The object, to be called on its Outlook thread only.
  [[nodiscard]] IDispatch* Get() const { return m_held ? m_held->raw : nullptr; }
  explicit operator bool() const { return Get() != nullptr; }

 private:
  friend class OutlookThreadCore;
  struct Held {
    Held(std::shared_ptr<OutlookThreadCore> owner, IDispatch* object);
    ~Held();
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    std::shared_ptr<OutlookThreadCore> core;
    IDispatch* raw;
  };
  std::shared_ptr<Held> m_held;
};

// What a call gave back: an object, or any other value.
struct OutlookReply {
  Variant value;
  OutlookObject object;
};

// Work for the Outlook thread. It must own everything it touches (copies, OutlookObjects,
// shared results): a wait that is stopped leaves it to run on alone, later or never.
using OutlookWork = std::function<void(OutlookThreadCore& core)>;

// The Outlook thread's side: its queue of work and its calls. Shared by the thread, its
// handle and every object Outlook handed out.
class OutlookThreadCore : public std::enable_shared_from_this<OutlookThreadCore> {
 public:
  explicit OutlookThreadCore(unsigned long busy_wait_ms);
  ~OutlookThreadCore();
  OutlookThreadCore(const OutlookThreadCore&) = delete;
  OutlookThreadCore& operator=(const OutlookThreadCore&) = delete;

  // On the Outlook thread: calls `name` on `object` as Automation::Call does; an object it
  // returns comes back in reply->object, any other value in reply->value.
  [[nodiscard]] std::optional<Automation::Failure> Call(
      const OutlookObject& object, int kind, std::wstring_view name, WORD flags, VARIANT* args,
      unsigned arg_count, OutlookReply* reply, FailureContext context = FailureContext::Call);

  // Holds `raw`, whose reference the caller hands over: an object of this thread, or one in
  // this process (a stand-in for Outlook).
  [[nodiscard]] OutlookObject Adopt(IDispatch* raw);

  // What CoInitializeEx said on the Outlook thread.
  [[nodiscard]] HRESULT ComStarted() const { return m_com_started; }

 private:
  friend class OutlookThread;
  friend struct OutlookObject::Held;

  // Queues `work`; returns its place in the queue, counted from 1.
  std::uint64_t Post(OutlookWork work);
  // Waits on the Outlook thread until work is queued or a message comes.
  void AwaitWork();
  void Release(IDispatch* raw);
  // The thread's life: COM, the message filter, the work until Quit.
  void Serve();
  void ServeQueue();

  Automation m_automation;
  CallSignals m_signals;
  unsigned long m_busy_wait_ms;
  HRESULT m_com_started = E_FAIL;
  std::atomic<DWORD> m_thread_id{0};
  std::mutex m_mutex;
  std::deque<std::pair<std::uint64_t, OutlookWork>> m_queue;
  std::uint64_t m_posted = 0;
  bool m_quit = false;
  std::atomic<std::uint64_t> m_queued{0};
  std::atomic<std::uint64_t> m_completed{0};
  // Each side first waits on the other's counter, and only then on its event, which it says
  // here: most calls end sooner than a wait on an event takes to wake (under wine, trips to
  // the wine server).
  std::atomic<bool> m_serving_waits{false};
  std::atomic<int> m_caller_waits{0};
  HANDLE m_work_event;  // auto-reset: work queued
  HANDLE m_done_event;  // auto-reset: work done
  HANDLE m_ended;       // manual-reset: the thread has let go of COM
};

// What the run's thread is asked while it waits for the Outlook thread.
struct OutlookWaitHooks {
  // Asked every tenth of a second, and whenever a message comes, while a call waits; true ends
  // the wait (the run is being aborted). It may pump the window's messages. Unset: only
  // CancelOutlookCall ends a wait.
  std::function<bool()> stop;
  // Told a line for the user once per call that waits kWaitNoticeMs. Unset: nobody is told.
  std::function<void(const std::string& line)> waiting;
};

// The Outlook thread, started when this is made and ended when it goes (left to end alone when
// a wait was stopped). Used from one thread, the run's.
class OutlookThread {
 public:
  OutlookThread(OutlookWaitHooks hooks, unsigned long busy_wait_ms);
  ~OutlookThread();
  OutlookThread(const OutlookThread&) = delete;
  OutlookThread& operator=(const OutlookThread&) = delete;

  // Runs `work` on the Outlook thread and waits for it: true once it has run. False when the
  // wait was stopped first (by the stop hook or CancelOutlookCall, once the call has waited
  // kStopAfterMs); the thread is then lost, and every later Run returns false at once.
  [[nodiscard]] bool Run(OutlookWork work);

  // Queues `work` for the Outlook thread without waiting for it; nothing once a wait was
  // stopped.
  void Post(OutlookWork work);

  // Tells the Outlook thread to try nothing again and cancel what it waits for: Outlook is
  // lost, and what is left (letting go of objects) should not wait for it.
  void GiveUp();

 private:
  bool Wait(std::uint64_t ticket);
  // The wait past the first few milliseconds: on events, asking the hooks.
  bool WaitLong(std::uint64_t ticket);

  OutlookWaitHooks m_hooks;
  std::shared_ptr<OutlookThreadCore> m_core;
  bool m_abandoned = false;
  std::thread m_thread;
};

}  // namespace dialmend
