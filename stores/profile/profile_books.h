#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "stores/profile/open_profile.h"

// The address books of a profile by the names users know them by, and a profile limited to
// some of them (dialmend-run --book, as khard -a).

namespace dialmend {

// One address book of a profile.
struct ProfileBook {
  // As the walk and the log show it: its folder's displayname, else the folder's own name; a
  // server's display name; an export file's name.
  std::string name;
  // The other names it answers to: khard's name for it, its folder's own name (vdirsyncer's
  // name for a collection).
  std::vector<std::string> other_names;
};

// The address books of the profile `named` names, in the order a run walks them. A profile of
// folders is read from disk and its configuration; any other is opened to ask its store (a
// server is asked once). Fails with the problem OpenProfile or the store's Open() gives.
[[nodiscard]] Result<std::vector<ProfileBook>> ProfileBooks(std::string_view named,
                                                            const Environment& env,
                                                            const ServerAccess& server = {});

// OpenProfile limited to the address books `books` names, each by any of its names (exactly);
// OpenProfile itself for `books` empty. The store keeps the whole profile's identity, so an
// update of some books is listed and undone with the profile's other runs. A name that no book
// has is the problem, in one line naming every book there is: at once for a profile of folders,
// on Open() for any other.
[[nodiscard]] ProfileChoice OpenProfileBooks(std::string_view named, const Environment& env,
                                             const ServerAccess& server,
                                             const std::vector<std::string>& books);

}  // namespace dialmend
