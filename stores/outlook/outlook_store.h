#pragma once

#include <memory>
#include <optional>

#include "contacts/contact_store.h"

struct IDispatch;

namespace dialmend {

// The contacts of the user's Outlook profile, reached by member names through IDispatch.
// Windows only. Open() attaches to a running Outlook or starts one; when `application` is
// given (a stand-in for Outlook in the tests), the store takes a reference to it and uses it
// instead. Open() fails with the reason in words ("Outlook is not installed"); during the walk
// failures throw StoreError as the interface says, and StoreLostError once Outlook has closed
// or stays busy for `busy_wait_ms` (30 seconds unless a test shortens it). Folders and items
// handed out keep the COM session alive, so they may outlive the store.
[[nodiscard]] std::unique_ptr<ContactStore> MakeOutlookStore(
    IDispatch* application = nullptr, std::optional<unsigned long> busy_wait_ms = std::nullopt);

}  // namespace dialmend
