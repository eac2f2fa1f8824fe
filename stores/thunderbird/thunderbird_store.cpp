#include "stores/thunderbird/thunderbird_store.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/reason.h"
#include "platform/utf8_path.h"
#include "stores/thunderbird/address_books.h"
#include "stores/thunderbird/book_database.h"
#include "stores/thunderbird/profile_lock.h"
#include "stores/thunderbird/sqlite.h"
#include "stores/thunderbird/thunderbird_items.h"

namespace dialmend {
namespace {

namespace fs = std::filesystem;

// A prefs.js larger than this is not one.
constexpr std::size_t kMaxPrefsBytes = 64 << 20;

// A local book with its database.
struct OpenBook {
  ThunderbirdBook book;
  std::shared_ptr<BookDatabase> database;
};

class ThunderbirdFolder : public Folder {
 public:
  explicit ThunderbirdFolder(OpenBook book) : m_book(std::move(book)) {}

  std::string Name() override { return m_book.book.name; }
  FolderKind Kind() override {
    // A book whose database cannot be read is a folder that cannot be read.
    try {
      m_book.database->Open();
    } catch (const StoreError& error) {
      throw StoreError(error.Subject(), error.Subject() + ": " + error.Reason());
    }
    return FolderKind::Contacts;
  }
  std::unique_ptr<ItemCursor> Items() override {
    return std::make_unique<BookItems>(m_book.book.file, m_book.database);
  }
  std::unique_ptr<FolderCursor> Folders() override;
  std::vector<FlushFailure> Flush() override { return m_book.database->Flush(); }
  bool FlushDue() override { return m_book.database->Held() >= kThunderbirdHeldChanges; }

 private:
  OpenBook m_book;
};

// The books of the profile, then nothing.
class BookFolders : public FolderCursor {
 public:
  explicit BookFolders(std::vector<OpenBook> books) : m_books(std::move(books)) {}
  std::unique_ptr<Folder> Next() override {
    if (m_next >= m_books.size()) return nullptr;
    return std::make_unique<ThunderbirdFolder>(m_books[m_next++]);
  }

 private:
  std::vector<OpenBook> m_books;
  std::size_t m_next = 0;
};

std::unique_ptr<FolderCursor> ThunderbirdFolder::Folders() {
  return std::make_unique<BookFolders>(std::vector<OpenBook>{});
}

// The contacts an undo finds again, across the profile's books.
class FoundFolder : public Folder {
 public:
  FoundFolder(std::string name, std::unique_ptr<IdentityCursor> identities,
              std::vector<OpenBook> books)
      : m_name(std::move(name)), m_identities(std::move(identities)), m_books(std::move(books)) {}

  std::string Name() override { return m_name; }
  FolderKind Kind() override { return FolderKind::Contacts; }
  std::unique_ptr<ItemCursor> Items() override {
    return std::make_unique<FoundCards>(std::move(m_identities), [this](const std::string& file) {
      for (const OpenBook& book : m_books) {
        if (book.book.file == file) return book.database;
      }
      return std::shared_ptr<BookDatabase>();
    });
  }
  std::unique_ptr<FolderCursor> Folders() override {
    return std::make_unique<BookFolders>(std::vector<OpenBook>{});
  }
  std::vector<FlushFailure> Flush() override {
    std::vector<FlushFailure> failures;
    for (OpenBook& book : m_books) {
      std::vector<FlushFailure> failed = book.database->Flush();
      std::move(failed.begin(), failed.end(), std::back_inserter(failures));
    }
    return failures;
  }
  bool FlushDue() override {
    return std::any_of(m_books.begin(), m_books.end(), [](const OpenBook& book) {
      return book.database->Held() >= kThunderbirdHeldChanges;
    });
  }

 private:
  std::string m_name;
  std::unique_ptr<IdentityCursor> m_identities;
  std::vector<OpenBook> m_books;
};

class ThunderbirdStore : public ContactStore {
 public:
  ThunderbirdStore(std::string profile, std::string name)
      : m_profile(std::move(profile)), m_name(std::move(name)) {}

  void SetWriting(bool writing) override {
    m_writing = writing;
    for (OpenBook& book : m_books) book.database->SetWritable(writing);
  }

  Status Open() override {
    if (Status prepared = Prepare(); !prepared.Ok()) {
      return Status::Failure(
          "Thunderbird's profile \"" + m_name + "\" (\"" + m_profile + "\") " + prepared.Message(),
          prepared.Message());
    }
    return {};
  }

  std::string CurrentUser() override { return m_name; }

  std::unique_ptr<FolderCursor> Folders() override {
    if (!m_prepared) throw StoreError(m_name, "the profile is not open");
    return std::make_unique<BookFolders>(m_books);
  }

  std::vector<StoreNote> TakeNotes() override { return std::exchange(m_notes, {}); }

  // Counting takes the lock, as the run will: a profile Thunderbird has open cannot be read.
  std::optional<std::int64_t> CountContacts() override {
    if (!Prepare().Ok()) return std::nullopt;
    std::int64_t count = 0;
    try {
      for (const OpenBook& book : m_books) count += book.database->CountCards();
    } catch (const StoreError&) {
      return std::nullopt;
    }
    return count;
  }

  StoreIdentity Identity() override {
    std::error_code error;
    const fs::path canonical = fs::weakly_canonical(PathFromUtf8(m_profile), error);
    return {"Thunderbird profile", error ? m_profile : Utf8FromPath(canonical)};
  }

  std::unique_ptr<Folder> FindContactsAsRead(std::unique_ptr<IdentityCursor> identities) override {
    if (!m_prepared) return nullptr;
    return std::make_unique<FoundFolder>(m_name, std::move(identities), m_books);
  }

 private:
  // Takes the lock and reads which books there are, once; fails with why, in words that follow
  // the profile's name.
  Status Prepare();
  void TakeBooks(std::vector<ThunderbirdBook> books);

  std::string m_profile;
  std::string m_name;
  // Until SetWriting says otherwise, the books are opened for writing.
  bool m_writing = true;
  bool m_prepared = false;
  ProfileLock m_lock;
  std::vector<OpenBook> m_books;
  std::vector<StoreNote> m_notes;
};

Status ThunderbirdStore::Prepare() {
  if (m_prepared) return {};
  if (std::string missing = SqliteMissing(); !missing.empty()) {
    return Status::Failure("cannot be read: " + missing);
  }
  std::error_code error;
  const fs::file_status status = fs::status(PathFromUtf8(m_profile), error);
  if (status.type() == fs::file_type::not_found) return Status::Failure("does not exist");
  if (error) return Status::Failure("cannot be read: " + ErrorText(error));
  if (!fs::is_directory(status)) return Status::Failure("is not a folder");
  if (Status locked = m_lock.Take(m_profile); !locked.Ok()) return locked;
  const fs::path prefs = PathFromUtf8(m_profile) / "prefs.js";
  FileSnapshot read = ReadFileSnapshot(prefs, kMaxPrefsBytes);
  // Without prefs.js Thunderbird has its two books of its own and no other.
  if (!read.status.Ok() && fs::exists(prefs, error)) {
    return Status::Failure("cannot be read: prefs.js: " + read.status.Reason());
  }
  TakeBooks(ParseAddressBooks(read.bytes));
  m_prepared = true;
  return {};
}

void ThunderbirdStore::TakeBooks(std::vector<ThunderbirdBook> books) {
  const auto saves = std::make_shared<std::uint64_t>(0);
  for (ThunderbirdBook& book : books) {
    if (book.dir_type == kCardDavBookType) {
      std::string text = "passed over: it is a copy of an address book on a CardDAV server";
      if (!book.url.empty()) text += "; run over the server itself with --profile " + book.url;
      m_notes.push_back({book.name, std::move(text)});
      continue;
    }
    // An LDAP directory is a server's to change; a book Thunderbird has not made yet is empty.
    if (book.dir_type != kLocalBookType || book.file.empty() ||
        book.file.find_first_of("/\\") != std::string::npos) {
      continue;
    }
    const fs::path file = PathFromUtf8(m_profile) / PathFromUtf8(book.file);
    std::error_code error;
    if (!fs::exists(file, error)) continue;
    auto database = std::make_shared<BookDatabase>(Utf8FromPath(file), book.file, m_writing, saves);
    m_books.push_back({std::move(book), std::move(database)});
  }
}

}  // namespace

std::unique_ptr<ContactStore> MakeThunderbirdStore(std::string profile, std::string name) {
  return std::make_unique<ThunderbirdStore>(std::move(profile), std::move(name));
}

}  // namespace dialmend
