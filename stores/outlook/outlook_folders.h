#pragma once

// The folders of an Outlook profile as the walk sees them. Windows only; failures throw as
// Cursor and Folder say.

#include <memory>

#include "contacts/contact_store.h"
#include "stores/outlook/outlook_session.h"

namespace dialmend {

// The folders of `folders`, first to last, except hidden ones (PR_ATTR_HIDDEN: the Recipient
// Cache, sync state and the like), as Outlook's own People view shows them. With `top_level`
// (the profile's stores) every other folder is given; below, only folders that hold contacts,
// found through folders of other kinds in between, each named by its path from here
// ("Inbox\Suppliers").
[[nodiscard]] std::unique_ptr<FolderCursor> MakeOutlookFolders(OutlookCollection folders,
                                                               bool top_level);

}  // namespace dialmend
