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
  // Told a line for the user, on the run's thread, when one call has waited a few seconds for
  // Outlook to answer (CancelOutlookCall in stores/outlook/call_watch.h stops the wait). It
  // must not throw. Unset: nobody is told.
  std::function<void(const std::string& line)> waiting;
};

// The contacts of the user's Outlook profile, reached by member names through IDispatch.
// Windows only. Open() attaches to a running Outlook or starts one, and fails with the reason in
// words ("Outlook is not installed"); during the walk failures throw StoreError as the interface
// says, and StoreLostError once Outlook has closed or stays busy for the whole wait. Folders and
// items handed out keep the COM session alive, so they may outlive the store.
[[nodiscard]] std::unique_ptr<ContactStore> MakeOutlookStore(OutlookStoreOptions options = {});

}  // namespace dialmend
