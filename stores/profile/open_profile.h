#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "contacts/contact_store.h"

// Which store a profile is: the one choice the terminal and the window share.

namespace dialmend {

// A file as the profile chooser reads it.
struct FileText {
  // False when nothing is at the path.
  bool exists = false;
  std::string text;
  // Why a file that is there could not be read; empty when it was.
  std::string error;
};

// What the chooser asks of the world besides the folders themselves, so tests can preset it.
struct Environment {
  // The variable's value, or std::nullopt when it is not set.
  std::function<std::optional<std::string>(const char* name)> variable;
  std::function<FileText(const std::string& path)> read_file;
};

// The process's own environment variables and files.
[[nodiscard]] Environment SystemEnvironment();

// How a profile on a server is reached; a folder or file profile ignores it.
struct ServerAccess {
  // Certificates trusted besides the system's (a private CA); empty for none.
  std::string ca_file;
  // Asks the user for a password, showing `prompt`; std::nullopt when none is given. Unset:
  // nobody is asked.
  std::function<std::optional<std::string>(const std::string& prompt)> ask_password;
  // Asked right after ask_password gave a password: true keeps it in the desktop's secret
  // store once the server takes it. Unset: it is not kept.
  std::function<bool()> remember_given;
  // Asked every twentieth of a second while a request waits for a server, about every tenth while
  // a busy server's wait runs, and while a call waits for Outlook, also whenever a message comes:
  // true ends the wait (the run is being aborted). Unset: the wait runs out.
  std::function<bool()> stop_waiting;
  // Told a line for the user, on the run's thread, when one call has waited a few seconds for
  // Outlook to answer; it must not throw. Unset: nobody is told.
  std::function<void(const std::string& line)> waiting;
};

// The store to run over, or why there is none, in words ("\"/x\" does not exist").
using ProfileChoice = Result<std::unique_ptr<ContactStore>>;

// Picks the store `named` names: a CardDAV address, "eds:" (GNOME's address books; "eds:NAME" one
// book or online account), a folder of address-book folders, a folder that itself holds cards
// (with subfolders, each another address book), a .vcf file, "thunderbird:[PROFILE]" (a
// Thunderbird profile by name or folder; its default one when none is given) or "kde:" (the vCard
// folders of KDE's address book, Linux). With `named` empty: on Windows Outlook; elsewhere the
// first found of khard's configured address books, vdirsyncer's local storage, GNOME's address
// books when EDS has made its address-book folders, Thunderbird's default profile, KDE's vCard
// folders and ~/.contacts, else a problem naming every path tried. A configuration that cannot be
// read is a problem naming the file and line. An https:// address (http:// on this machine's
// loopback) is a CardDAV server, reached as `server` says, with HOME's .netrc for logins.
[[nodiscard]] ProfileChoice OpenProfile(std::string_view named, const Environment& env,
                                        const ServerAccess& server = {});

// Where OpenProfile(named, env) finds the contacts, as the user should see it: `named` itself, or
// for a desktop program's books their folders; with `named` empty the folders the default search
// finds, joined by "; " (on Windows "Outlook"), or the same problem OpenProfile gives.
[[nodiscard]] Result<std::string> ProfilePlace(std::string_view named, const Environment& env);

// Whether `path`, chosen by the user, holds contacts: a .vcf file that begins as a vCard, a
// folder with a .vcf file in it or in its subfolders (three levels down at most), a server
// address that can be used (nothing is sent), or a desktop program's books that are there. The
// failure's message is the reason alone ("it holds no contact cards (.vcf files)").
[[nodiscard]] Status CheckProfile(std::string_view path);

// The chosen store, or one whose Open() fails with the choice's message, so the run reports it
// as it reports any profile that cannot be opened.
[[nodiscard]] std::unique_ptr<ContactStore> StoreOrProblem(ProfileChoice choice);

// A profile of folders of cards, as OpenProfile walks it.
struct FolderProfile {
  // True: the profile is the one folder paths[0], whose own cards are one address book and
  // each subfolder another. False: each of `paths` is an address book, its subfolders within.
  bool one_folder = false;
  std::vector<std::string> paths;
  // khard's name for each of `paths`, when khard's configuration named them; else empty.
  std::vector<std::string> names;
};

// Where the folders of the profile `named` names lie, as OpenProfile finds them; the same
// problem as OpenProfile when the default search finds none. std::nullopt when the profile is
// not one of folders (a server, a .vcf file, Outlook, a path that is not there).
[[nodiscard]] std::optional<Result<FolderProfile>> FindFolderProfile(std::string_view named,
                                                                     const Environment& env);

}  // namespace dialmend
