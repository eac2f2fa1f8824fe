#pragma once

#include <string>
#include <vector>

#include "platform/result.h"
#include "stores/profile/desktop_books.h"
#include "stores/profile/open_profile.h"

// The search for the user's contacts when no store is named (Linux): each place in turn, the
// first that holds address books taken.

namespace dialmend {

#ifndef _WIN32

// Where the default search found the contacts, and how they make one store.
struct DefaultPlace {
  enum class Layout { OneStore, Books, Storages, Eds, Thunderbird, Kde };
  Layout layout = Layout::OneStore;
  // One folder for OneStore; each an address book for Books; each a vdirsyncer storage of
  // address-book folders for Storages; the profile folder for Thunderbird; each book's folder
  // for Kde.
  std::vector<std::string> paths;
  // For Books, khard's name for each of `paths`.
  std::vector<std::string> names;
  // Thunderbird's profile name.
  std::string name;
  std::vector<KdeBook> kde;
  // What the search found, as the head of the log says it.
  std::string found;
};

// In this order: khard's configured address books, vdirsyncer's local storage, GNOME's address
// books (when EDS has made its folders), Thunderbird's default profile (when it has an address
// book), KDE's vCard folders, ~/.contacts. Fails with a problem naming every path tried, or the
// configuration file and line that cannot be read.
[[nodiscard]] Result<DefaultPlace> FindDefault(const Environment& env);

// One folder per collection under each of vdirsyncer's `storages`, in order: its address books.
// A storage that cannot be listed is named itself, so its walk reports why.
[[nodiscard]] std::vector<std::string> Collections(const std::vector<std::string>& storages);

// The store over what FindDefault found.
[[nodiscard]] ProfileChoice OpenDefault(DefaultPlace place);

#endif

}  // namespace dialmend
