#pragma once

#include <memory>
#include <string>

#include "contacts/contact_store.h"

namespace dialmend {

// The vCard folder store: `root` is the profile; each subfolder is an address book (named by
// its `displayname` file, else its folder name) and each .vcf file in it one card. Folders and
// files are walked in byte order of their names; hidden entries and temporary files are passed
// over. A card that cannot be read or parsed is reported and never written.
[[nodiscard]] std::unique_ptr<ContactStore> MakeVCardStore(std::string root);

// The full name of the logged-in user, else the login name.
[[nodiscard]] std::string LoggedInUserName();

}  // namespace dialmend
