#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "contacts/contact_store.h"

// GNOME's address books: the books Evolution Data Server (EDS) keeps for GNOME Contacts and
// Evolution, the online accounts' among them. Each enabled address book is a folder named by its
// display name; a book of an online account sits in a folder named by the account. Cards are
// read by UID in batches and go through the same vCard reader and rewriter as the folder store,
// so a save changes only the TEL values (and drops EDS's X-EVOLUTION-E164 parameter of each TEL
// changed, which it would otherwise keep with the old number's digits).
//
// A book on this computer has no check a save can make against another program's edit: its
// saves are held, and each batch is read again just before it is written, leaving any card whose
// text changed since. A book on a server (CardDAV, an online account) is written one card per
// call with EDS's conflict check on, and only while EDS is connected to its server; a book set to
// avoid If-Match is refused. The store calls EDS on the thread that uses it, with a GLib main
// context of its own; its header names no GLib type.

namespace dialmend {

struct EdsSettings {
  // The one book, or account, to walk (as its folder is named); empty for every enabled book.
  std::string book;
  // How long a book on a server is given to connect before a run that writes refuses it.
  int connect_seconds = 20;
  // Cards read in one call, and saves of a book on this computer written in one call.
  std::size_t batch_size = 100;
};

// The store; nothing is asked of EDS before Open(), which fails when EDS cannot be reached or no
// book is named as `settings.book` asks.
[[nodiscard]] std::unique_ptr<ContactStore> MakeEdsStore(EdsSettings settings = {});

// What the store's Identity() calls itself, and how a profile names it ("eds:" and a book).
inline constexpr const char* kEdsStoreKind = "GNOME address books";
inline constexpr const char* kEdsProfilePrefix = "eds:";

}  // namespace dialmend
