#pragma once

#include <memory>
#include <string>
#include <vector>

#include "contacts/contact_store.h"
#include "stores/carddav/carddav_session.h"

// The cards of an address book on a server: read a batch at a time as the walk reaches them,
// each saved by its own PUT, and found again by an undo.

namespace dialmend {

// A card as a listing or an undo record names it.
struct CardMember {
  std::string href;
  std::string etag;
  // An undo's card whose version the update noted after saving it: a card with another
  // version now was changed since, and is left whole.
  bool saved_version = false;
};

// The cards `members` of the address book at `book`, in that order.
[[nodiscard]] std::unique_ptr<ItemCursor> CardsOf(std::shared_ptr<DavSession> session,
                                                  std::string book,
                                                  std::vector<CardMember> members);

// The folder an undo reads: the cards `identities` name, in their order.
[[nodiscard]] std::unique_ptr<Folder> FoundCards(std::shared_ptr<DavSession> session,
                                                 std::vector<ContactIdentity> identities);

}  // namespace dialmend
