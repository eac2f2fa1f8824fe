#pragma once

#include <string>
#include <string_view>
#include <vector>

// The address books of a Thunderbird profile, as its prefs.js names them under `ldap_2.servers`.

namespace dialmend {

// What kind of book a `dirType` is.
inline constexpr int kLocalBookType = 101;
inline constexpr int kCardDavBookType = 102;
inline constexpr int kLdapBookType = 0;

struct ThunderbirdBook {
  // The pref branch under ldap_2.servers ("pab", "history", "Work").
  std::string key;
  // The name Thunderbird shows.
  std::string name;
  int dir_type = kLocalBookType;
  // The database in the profile folder ("abook-1.sqlite"); a CardDAV book keeps its copy there too.
  std::string file;
  // The server a CardDAV (carddav.url) or LDAP (uri) book is on.
  std::string url;
};

// The books `prefs` (the text of prefs.js) names, the personal address book (abook.sqlite) and
// the collected addresses (history.sqlite) always among them, in the order Thunderbird lists
// them: the personal book first, the others by name, the collected addresses last. Lines that
// are not a `user_pref` of a book are passed over. Never throws.
[[nodiscard]] std::vector<ThunderbirdBook> ParseAddressBooks(std::string_view prefs);

}  // namespace dialmend
