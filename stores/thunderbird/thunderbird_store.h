#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "contacts/contact_store.h"

namespace dialmend {

// How many changed cards of one book are held before the walk writes them, one transaction each
// time: few enough that memory stays small, enough that a transaction's flush costs little per
// card.
inline constexpr std::size_t kThunderbirdHeldChanges = 1000;

// The local address books of the Thunderbird profile in the folder `profile` (named `name` in
// the log): each book prefs.js names with dirType 101, whose database is there, is a folder, in
// the order Thunderbird lists them; its cards, in UID order, are its contacts and its mailing
// lists, after them, its groups. A book on a CardDAV server is left to the CardDAV store and named
// in a store note; an LDAP directory is no store. Open() takes the profile's lock (see
// ProfileLock) for as long as the store lives, and fails while Thunderbird runs. A card's numbers
// are read from its `_vCard` property and changed there through the vCard rewriter; a save is
// held and written at the folder's Flush(), in one transaction, only where the card still holds
// the vCard read, its LastModifiedDate set to the current second. A simulation opens the books
// read-only.
[[nodiscard]] std::unique_ptr<ContactStore> MakeThunderbirdStore(std::string profile,
                                                                 std::string name);

}  // namespace dialmend
