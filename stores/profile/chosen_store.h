#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "contacts/contact_store.h"

// A store as the profile chooser hands it out: another store, with what the chooser knows about
// it besides.

namespace dialmend {

struct StoreExtras {
  // Where the default search found it, as ContactStore::Found() gives it; empty when named.
  std::string found;
  // Run once an update (or an undo that writes) has walked the store, when it gives its notes:
  // what must follow the writes (KDE's address book told to read its cards again), said as
  // notes after the store's own. Unset: nothing.
  std::function<std::vector<StoreNote>()> after_update;
};

// `inner` with `extras`; every other question goes to `inner`.
[[nodiscard]] std::unique_ptr<ContactStore> WithExtras(std::unique_ptr<ContactStore> inner,
                                                       StoreExtras extras);

}  // namespace dialmend
