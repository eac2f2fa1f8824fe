#pragma once

#include <memory>
#include <string>

#include "contacts/contact_store.h"

namespace dialmend {

// The vCard folder store: `root` is the profile; each subfolder is an address book (named by
// the first line of its `displayname` file when that is a regular file, else its folder name)
// and each .vcf file in it one card. Folders and files are walked in byte order of their names;
// each real folder once, a link back to one already taken on being passed over with a note.
// Hidden entries and temporary files are passed over; a .vcf that is not a file (a FIFO, a
// device, a dangling link) with a note. An update run removes the temporary files an earlier
// run of ours left when it was stopped, and a store note says how many. A card that cannot be
// read or parsed is reported and never written.
[[nodiscard]] std::unique_ptr<ContactStore> MakeVCardStore(std::string root);

}  // namespace dialmend
