#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "contacts/contact_store.h"
#include "platform/atomic_file.h"

// Finding the cards an undo record names again, in the files of the vCard stores: the folder
// ContactStore::FindContactsAsRead gives. A card of a file of many is found by its UID, else by
// its name and numbers as the update left them, and by its place in the file only when nothing
// else identifies it, so a file exported again, with cards added or moved, is still undone.

namespace dialmend {

// The key (ContactIdentity::key) of a card of a file of many, from its bytes as read, its name
// and its numbers as the update leaves them: a digest of the name and numbers, a digest of the
// name alone, and the card's UID.
[[nodiscard]] std::string CardKey(std::string_view bytes, std::string_view name,
                                  const std::vector<PhoneValue>& phones);

// Opens the card file at `path` (named `name` in the log) that a record names, for reading: held
// open where the system allows it. Throws StoreError naming `name` when the path is not one of
// the store's (outside it, or reached through a link) or cannot be opened.
using CardFileOpener = std::function<HeldFile(const std::string& path, const std::string& name)>;

// Reads a card whose identity names a file of one card (card -1), or is null where the store
// has none.
using SingleCardReader =
    std::function<std::unique_ptr<ContactItem>(const std::string& path, const std::string& name)>;

// A folder of the contacts `identities` name, one Next() each, in order, each identity taken as
// its item is asked for. A file of many cards is opened through `open` once, and its saves are
// held and written into it at the folder's Flush() (asked for by FlushDue() when many bytes are
// held), in any order the record finds them in.
[[nodiscard]] std::unique_ptr<Folder> FoundCardsFolder(std::string name,
                                                       std::unique_ptr<IdentityCursor> identities,
                                                       CardFileOpener open,
                                                       SingleCardReader single);

}  // namespace dialmend
