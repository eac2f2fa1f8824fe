#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "contacts/contact_store.h"
#include "platform/result.h"
#include "stores/profile/open_profile.h"
#include "stores/vcard_folder/vcard_folder_store.h"

// Where the desktop's address-book programs keep their books: Thunderbird's profiles, and the
// vCard folders behind KDE's address book.

namespace dialmend {

// One Thunderbird profile.
struct ThunderbirdPlace {
  std::string name;
  std::string path;
};

// The folder of Thunderbird's profiles.ini: ~/.thunderbird (%APPDATA%\Thunderbird on Windows);
// empty when the variable it is under is not set.
[[nodiscard]] std::string ThunderbirdFolder(const Environment& env);

// The profile `wanted` names among those of `ini` (the text of profiles.ini in folder `root`):
// by its name, else as a profile folder. With `wanted` empty the default profile: the first
// installation's default, else the one marked Default=1, else the first. Fails with why.
[[nodiscard]] Result<ThunderbirdPlace> ChooseThunderbirdProfile(std::string_view ini,
                                                                const std::string& root,
                                                                std::string_view wanted);

// ChooseThunderbirdProfile over the profiles.ini of ThunderbirdFolder(env); a `wanted` that is
// a profile folder needs no profiles.ini.
[[nodiscard]] Result<ThunderbirdPlace> FindThunderbirdProfile(const Environment& env,
                                                              std::string_view wanted);

#ifndef _WIN32

// A vCard folder of KDE's address book, and the Akonadi resource that serves it.
struct KdeBook {
  std::string resource;
  VCardBook book;
};

// The folders of KDE's "Personal Contacts" and "vCard Directory" resources, as Akonadi's
// configuration names them (its agentsrc, then each resource's own file), in its order; those
// that are not there are left out, as is ~/.local/share/kpeoplevcard, a one-way copy of a
// phone's contacts. `config`, when given, is told the agentsrc path looked at.
[[nodiscard]] std::vector<KdeBook> FindKdeBooks(const Environment& env,
                                                std::string* config = nullptr);

// The store over `books`: a vCard books store that, after an update, asks each resource to read
// its cards again and says in the log how that went.
[[nodiscard]] std::unique_ptr<ContactStore> MakeKdeStore(std::vector<KdeBook> books,
                                                         std::string found = {});

#endif

}  // namespace dialmend
