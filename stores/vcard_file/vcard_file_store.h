#pragma once

#include <memory>
#include <string>

#include "contacts/contact_store.h"

namespace dialmend {

// The store of one .vcf file of many cards, as phones, webmail and desktop programs export an
// address book: one folder, named after the file without ".vcf", whose contacts are the
// file's cards in file order. A card that cannot be parsed is reported when the walk reaches it
// and left byte for byte. Saves are held and the folder's Flush() writes the file once,
// atomically, changing only the numbers saved.
[[nodiscard]] std::unique_ptr<ContactStore> MakeVCardFileStore(std::string path);

}  // namespace dialmend
