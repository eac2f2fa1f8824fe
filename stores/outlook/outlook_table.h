#pragma once

// A folder's contacts read through its table (Folder.GetTable): one call for a block of rows
// instead of some twenty per contact. Windows only.

#include <memory>
#include <string>
#include <vector>

#include "contacts/contact_store.h"
#include "stores/outlook/outlook_session.h"

namespace dialmend {

// The contacts and groups of `folder` through its table, or nullptr when Outlook has no tables
// or refuses this one: the caller then reads the folder item by item. A refusal leaves a note
// about `subject` in `notes`. Throws StoreLostError only, when Outlook is lost; the cursor
// throws StoreError for a block of rows it cannot read.
[[nodiscard]] std::unique_ptr<ItemCursor> ReadFolderTable(const OutlookSessionPtr& session,
                                                          const OutlookObject& folder,
                                                          const std::string& subject,
                                                          std::vector<StoreNote>& notes);

}  // namespace dialmend
