#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "contacts/contact_store.h"

struct IDispatch;

namespace dialmend {

// How MakeOutlookStore reaches Outlook; the defaults are the user's own Outlook.
struct OutlookStoreOptions {
  // A stand-in for Outlook in the tests' own process, used instead of connecting; the store
  // takes a reference to it.
  IDispatch* application = nullptr;
  // The class attached to or started; the tests name a stand-in served by a process of its own.
  std::wstring prog_id = L"Outlook.Application";
  // How long a busy Outlook is waited for; 30 seconds unless a test shortens it.
  std::optional<unsigned long> busy_wait_ms;
  // Asked on the run's thread every tenth of a second, and whenever a message comes for it,
  // while a call waits for Outlook: true ends the wait (the run is being aborted), and the run
  // then ends as after Outlook closing. It may pump the window's messages; it must not throw.
  // Unset: only CancelOutlookCall in stores/outlook/call_watch.h ends a wait.
  std::function<bool()> stop_waiting;
  // Told a line for the user, on the run's thread, when one call has waited a few seconds for
  // Outlook to answer or kept being refused as busy. It must not throw. Unset: nobody is told.
  std::function<void(const std::string& line)> waiting;
};

// The contacts of the user's Outlook profile, reached by member names through IDispatch from a
// thread of their own (stores/outlook/outlook_thread.h). Windows only. Open() attaches to a
// running Outlook or starts one, and fails with the reason in words; during the walk and an
// undo's lookups failures throw StoreError as the interface says, and StoreLostError once
// Outlook has closed, stays busy for the whole wait, or the wait for it was stopped. Folders and
// items handed out keep the Outlook thread alive, so they may outlive the store.
[[nodiscard]] std::unique_ptr<ContactStore> MakeOutlookStore(OutlookStoreOptions options = {});

}  // namespace dialmend
