#include "stores/profile/profile_books.h"

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <memory>
#include <optional>
#include <system_error>
#include <utility>

#include "platform/utf8_path.h"
#include "stores/vcard_folder/display_name.h"
#include "stores/vcard_folder/vcard_folder_store.h"

namespace dialmend {
namespace {

namespace fs = std::filesystem;

// An address book of a profile of folders.
struct FolderBook {
  ProfileBook book;
  std::string path;
  // The profile folder's own cards: its subfolders are books of their own.
  bool own_cards = false;
};

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// The book at `path`, named as the folder store names it, with its other names.
FolderBook BookAt(std::string path, const std::string& configured, bool own_cards) {
  path = WithoutTrailingSlash(std::move(path));
  std::string dir_name = Utf8FromPath(PathFromUtf8(path).filename());
  if (dir_name.empty()) dir_name = path;
  Result<std::string> shown = ReadDisplayName(path);
  FolderBook found;
  found.path = std::move(path);
  found.own_cards = own_cards;
  found.book.name = !shown.Ok() || shown.Value().empty() ? dir_name : std::move(shown.Value());
  for (const std::string& other : {configured, dir_name}) {
    std::vector<std::string>& names = found.book.other_names;
    if (!other.empty() && other != found.book.name &&
        std::find(names.begin(), names.end(), other) == names.end()) {
      names.push_back(other);
    }
  }
  return found;
}

bool EndsWithVcf(const std::string& name) {
  if (name.size() < 4) return false;
  std::string end = name.substr(name.size() - 4);
  for (char& c : end) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return end == ".vcf";
}

// The books of a profile of folders, in walk order. A folder that cannot be listed is one
// book, whose walk says why.
std::vector<FolderBook> FolderBooks(const FolderProfile& profile) {
  std::vector<FolderBook> books;
  if (!profile.one_folder) {
    for (std::size_t i = 0; i < profile.paths.size(); ++i) {
      books.push_back(
          BookAt(profile.paths[i], i < profile.names.size() ? profile.names[i] : "", false));
    }
    return books;
  }
  const std::string root = WithoutTrailingSlash(profile.paths.front());
  bool own_cards = false;
  std::vector<std::string> subfolders;
  std::error_code error;
  for (fs::directory_iterator it(PathFromUtf8(root), error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = Utf8FromPath(it->path().filename());
    std::error_code type_error;
    if (name.starts_with(".")) continue;
    if (it->is_directory(type_error)) {
      subfolders.push_back(name);
    } else if (EndsWithVcf(name)) {
      own_cards = true;
    }
  }
  // The store walks in byte order of the names.
  std::sort(subfolders.begin(), subfolders.end());
  if (own_cards) books.push_back(BookAt(root, "", true));
  for (const std::string& name : subfolders) books.push_back(BookAt(root + "/" + name, "", false));
  return books;
}

bool Answers(const ProfileBook& book, const std::string& name) {
  return book.name == name || std::find(book.other_names.begin(), book.other_names.end(), name) !=
                                  book.other_names.end();
}

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

// The names of `wanted` that no book answers to, as one line naming every book there is; empty
// when each is found.
std::string Unknown(const std::vector<ProfileBook>& books, const std::vector<std::string>& wanted) {
  std::vector<std::string> unknown;
  for (const std::string& name : wanted) {
    const bool found = std::any_of(books.begin(), books.end(), [&name](const ProfileBook& book) {
      return Answers(book, name);
    });
    if (!found && std::find(unknown.begin(), unknown.end(), name) == unknown.end()) {
      unknown.push_back(name);
    }
  }
  if (unknown.empty()) return {};
  std::string text = "no address book is named ";
  for (std::size_t i = 0; i < unknown.size(); ++i) {
    if (i > 0) text += i + 1 == unknown.size() ? " or " : ", ";
    text += Quoted(unknown[i]);
  }
  if (books.empty()) return text + "; the profile has no address book";
  text += "; the profile's address books are ";
  for (std::size_t i = 0; i < books.size(); ++i) {
    if (i > 0) text += i + 1 == books.size() ? " and " : ", ";
    text += Quoted(books[i].name);
    for (const std::string& other : books[i].other_names) text += " or " + Quoted(other);
  }
  return text;
}

// The top-level folders of `folders` whose names are in `wanted`; the others are never walked.
class WantedFolders : public FolderCursor {
 public:
  WantedFolders(std::unique_ptr<FolderCursor> folders, const std::vector<std::string>& wanted)
      : m_folders(std::move(folders)), m_wanted(wanted) {}
  std::unique_ptr<Folder> Next() override {
    while (std::unique_ptr<Folder> folder = m_folders->Next()) {
      if (std::find(m_wanted.begin(), m_wanted.end(), folder->Name()) != m_wanted.end()) {
        return folder;
      }
    }
    return nullptr;
  }

 private:
  std::unique_ptr<FolderCursor> m_folders;
  const std::vector<std::string>& m_wanted;
};

class NoFolders : public FolderCursor {
 public:
  std::unique_ptr<Folder> Next() override { return nullptr; }
};

// A profile folder's own cards without the subfolders, which are books of their own.
class OwnCards : public Folder {
 public:
  explicit OwnCards(std::unique_ptr<Folder> folder) : m_folder(std::move(folder)) {}
  std::string Name() override { return m_folder->Name(); }
  FolderKind Kind() override { return m_folder->Kind(); }
  std::unique_ptr<ItemCursor> Items() override { return m_folder->Items(); }
  std::unique_ptr<FolderCursor> Folders() override { return std::make_unique<NoFolders>(); }
  std::vector<StoreNote> TakeNotes() override { return m_folder->TakeNotes(); }
  std::vector<FlushFailure> Flush() override { return m_folder->Flush(); }
  bool FlushDue() override { return m_folder->FlushDue(); }

 private:
  std::unique_ptr<Folder> m_folder;
};

// One store a walk goes over, or of a profile folder only the first top-level folder, its own
// cards, which the folder store walks first under the folder's `own_cards` name.
struct Part {
  std::unique_ptr<ContactStore> store;
  std::optional<std::string> own_cards;
};

// The top-level folders of each part in turn.
class PartsFolders : public FolderCursor {
 public:
  explicit PartsFolders(std::vector<Part>& parts) : m_parts(parts) {}
  std::unique_ptr<Folder> Next() override {
    while (m_next <= m_parts.size()) {
      if (m_folders) {
        std::unique_ptr<Folder> folder = m_folders->Next();
        const Part& part = m_parts[m_next - 1];
        if (folder && part.own_cards) {
          m_folders.reset();
          // A folder of no cards of its own starts with a subfolder: nothing of it is wanted.
          if (folder->Name() == *part.own_cards)
            return std::make_unique<OwnCards>(std::move(folder));
          continue;
        }
        if (folder) return folder;
        m_folders.reset();
      }
      if (m_next == m_parts.size()) break;
      m_folders = m_parts[m_next++].store->Folders();
    }
    return nullptr;
  }

 private:
  std::vector<Part>& m_parts;
  std::unique_ptr<FolderCursor> m_folders;
  std::size_t m_next = 0;
};

// Some books of a profile. The walk goes over each of `parts` in turn: with `wanted` given,
// only over the top-level folders of those names, which Open() checks are there. The undo
// record's questions are answered by `whole`, the whole profile (the one part when null).
class BooksStore : public ContactStore {
 public:
  BooksStore(std::vector<Part> parts, std::unique_ptr<ContactStore> whole,
             std::vector<std::string> wanted)
      : m_parts(std::move(parts)), m_whole(std::move(whole)), m_wanted(std::move(wanted)) {}

  void SetWriting(bool writing) override {
    for (Part& part : m_parts) part.store->SetWriting(writing);
  }

  Status Open() override {
    for (Part& part : m_parts) {
      if (Status opened = part.store->Open(); !opened.Ok()) return opened;
    }
    if (m_wanted.empty()) return {};
    std::vector<ProfileBook> books;
    try {
      const std::unique_ptr<FolderCursor> folders = m_parts.front().store->Folders();
      while (const std::unique_ptr<Folder> folder = folders->Next()) {
        books.push_back({folder->Name(), {}});
      }
    } catch (const StoreError& error) {
      return Status::Failure(error.what(), error.Reason());
    }
    if (std::string unknown = Unknown(books, m_wanted); !unknown.empty()) {
      return Status::Failure(unknown);
    }
    return {};
  }

  std::string CurrentUser() override { return m_parts.front().store->CurrentUser(); }

  std::unique_ptr<FolderCursor> Folders() override {
    std::unique_ptr<FolderCursor> folders = std::make_unique<PartsFolders>(m_parts);
    if (!m_wanted.empty()) folders = std::make_unique<WantedFolders>(std::move(folders), m_wanted);
    return folders;
  }

  std::vector<StoreNote> TakeNotes() override {
    std::vector<StoreNote> notes;
    for (Part& part : m_parts) {
      std::vector<StoreNote> more = part.store->TakeNotes();
      std::move(more.begin(), more.end(), std::back_inserter(notes));
    }
    return notes;
  }

  // A count of more than the books walked would promise contacts the run never reaches.
  std::optional<std::int64_t> CountContacts() override {
    if (!m_wanted.empty() || m_parts.size() != 1 || m_parts.front().own_cards) return std::nullopt;
    return m_parts.front().store->CountContacts();
  }

  StoreIdentity Identity() override { return Whole().Identity(); }

  std::unique_ptr<Folder> FindContacts(std::vector<ContactIdentity> identities) override {
    return Whole().FindContacts(std::move(identities));
  }

  std::unique_ptr<Folder> FindContactsAsRead(std::unique_ptr<IdentityCursor> identities) override {
    return Whole().FindContactsAsRead(std::move(identities));
  }

 private:
  ContactStore& Whole() { return m_whole ? *m_whole : *m_parts.front().store; }

  std::vector<Part> m_parts;
  std::unique_ptr<ContactStore> m_whole;
  std::vector<std::string> m_wanted;
};

ProfileChoice FolderBooksChoice(const FolderProfile& profile, ProfileChoice whole,
                                const std::vector<std::string>& wanted) {
  if (!whole.Ok()) return whole;
  const std::vector<FolderBook> books = FolderBooks(profile);
  std::vector<ProfileBook> names;
  for (const FolderBook& book : books) names.push_back(book.book);
  if (std::string unknown = Unknown(names, wanted); !unknown.empty()) {
    return ProfileChoice::Failure(std::move(unknown));
  }
  std::vector<Part> parts;
  std::vector<VCardBook> paths;
  for (const FolderBook& book : books) {
    if (!std::any_of(wanted.begin(), wanted.end(),
                     [&book](const std::string& name) { return Answers(book.book, name); })) {
      continue;
    }
    if (book.own_cards) {
      // Walked by a store of its own: the books below it are walked, or not, as chosen.
      parts.push_back({MakeVCardStore(book.path), book.book.name});
    } else {
      paths.push_back({book.path, {}, CardNaming::VcfFiles});
    }
  }
  if (!paths.empty()) parts.push_back({MakeVCardBooksStore(std::move(paths)), std::nullopt});
  return ProfileChoice(std::make_unique<BooksStore>(std::move(parts), std::move(whole.Value()),
                                                    std::vector<std::string>{}));
}

}  // namespace

Result<std::vector<ProfileBook>> ProfileBooks(std::string_view named, const Environment& env,
                                              const ServerAccess& server) {
  using Books = Result<std::vector<ProfileBook>>;
  if (std::optional<Result<FolderProfile>> folders = FindFolderProfile(named, env)) {
    if (!folders->Ok()) return Books::Failure(folders->Message());
    std::vector<ProfileBook> books;
    for (FolderBook& book : FolderBooks(folders->Value())) books.push_back(std::move(book.book));
    return books;
  }
  ProfileChoice choice = OpenProfile(named, env, server);
  if (!choice.Ok()) return Books::Failure(choice.Message());
  ContactStore& store = *choice.Value();
  if (Status opened = store.Open(); !opened.Ok()) return Books::Failure(opened.Message());
  std::vector<ProfileBook> books;
  try {
    const std::unique_ptr<FolderCursor> folders = store.Folders();
    while (const std::unique_ptr<Folder> folder = folders->Next()) {
      books.push_back({folder->Name(), {}});
    }
  } catch (const StoreError& error) {
    return Books::Failure(error.what());
  }
  return books;
}

ProfileChoice OpenProfileBooks(std::string_view named, const Environment& env,
                               const ServerAccess& server, const std::vector<std::string>& books) {
  ProfileChoice whole = OpenProfile(named, env, server);
  if (books.empty() || !whole.Ok()) return whole;
  if (std::optional<Result<FolderProfile>> folders = FindFolderProfile(named, env)) {
    if (!folders->Ok()) return ProfileChoice::Failure(folders->Message());
    return FolderBooksChoice(folders->Value(), std::move(whole), books);
  }
  std::vector<Part> parts;
  parts.push_back({std::move(whole.Value()), std::nullopt});
  return ProfileChoice(std::make_unique<BooksStore>(std::move(parts), nullptr, books));
}

}  // namespace dialmend
