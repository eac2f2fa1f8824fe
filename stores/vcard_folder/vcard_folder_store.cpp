#include "stores/vcard_folder/vcard_folder_store.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <system_error>
#include <utility>

#include "platform/atomic_file.h"
#include "platform/beneath.h"
#include "platform/folder_reader.h"
#include "platform/reason.h"
#include "platform/user_name.h"
#include "platform/utf8_path.h"
#include "stores/vcard_file/card_file.h"
#include "stores/vcard_file/found_cards.h"
#include "stores/vcard_folder/card_count.h"
#include "stores/vcard_folder/card_items.h"
#include "stores/vcard_folder/folder_entries.h"
#include "stores/vcard_folder/folder_listing.h"
#include "stores/vcard_folder/vcard_folder.h"

namespace dialmend {
namespace {

// The top level of a store: folders made before the walk reaches them.
class ReadyFolders : public FolderCursor {
 public:
  explicit ReadyFolders(std::vector<std::unique_ptr<Folder>> folders)
      : m_folders(std::move(folders)) {}
  std::unique_ptr<Folder> Next() override {
    if (m_next >= m_folders.size()) return nullptr;
    return std::move(m_folders[m_next++]);
  }

 private:
  std::vector<std::unique_ptr<Folder>> m_folders;
  std::size_t m_next = 0;
};

// The name a folder has on disk: the last part of its path.
std::string DirName(const std::string& path) {
  std::string name = Utf8FromPath(PathFromUtf8(path).filename());
  return name.empty() ? path : name;
}

// A folder as the undo record names it: absolute, every link resolved.
std::string RecordedFolder(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path absolute = fs::absolute(PathFromUtf8(path), error);
  const fs::path canonical = fs::weakly_canonical(absolute, error);
  return Utf8FromPath(error ? absolute : canonical);
}

// Whether `path` is a folder we may list, or why not.
Status CheckFolder(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::file_status status = fs::status(PathFromUtf8(path), error);
  if (error) return Status::Failure("\"" + path + "\": " + ErrorText(error));
  if (!fs::is_directory(status)) return Status::Failure("\"" + path + "\" is not a folder");
  // Listing it is the one test of access that holds on every system.
  fs::directory_iterator listing(PathFromUtf8(path), error);
  if (error) return Status::Failure("\"" + path + "\": " + ErrorText(error));
  return {};
}

// The cards an undo finds again: the files of many save as the found folder does, the single
// cards in batches of their own, as in a walk.
class BatchedFolder : public Folder {
 public:
  BatchedFolder(std::unique_ptr<Folder> found, std::shared_ptr<CardBatch> batch)
      : m_found(std::move(found)), m_batch(std::move(batch)) {}

  std::string Name() override { return m_found->Name(); }
  FolderKind Kind() override { return m_found->Kind(); }
  std::unique_ptr<ItemCursor> Items() override { return m_found->Items(); }
  std::unique_ptr<FolderCursor> Folders() override { return m_found->Folders(); }
  std::vector<StoreNote> TakeNotes() override { return m_found->TakeNotes(); }

  std::vector<FlushFailure> Flush() override {
    std::vector<FlushFailure> failures = m_found->Flush();
    m_batch->Commit(failures);
    return failures;
  }

  bool FlushDue() override { return m_batch->Full() || m_found->FlushDue(); }

 private:
  std::unique_ptr<Folder> m_found;
  std::shared_ptr<CardBatch> m_batch;
};

class VCardStore : public ContactStore {
 public:
  // With `books` empty the store is the folder `root`; else each of `books` is an address book.
  VCardStore(std::string root, std::vector<VCardBook> books, std::size_t card_batch)
      : m_root(std::move(root)), m_books(std::move(books)), m_card_batch(card_batch) {}

  void SetWriting(bool writing) override { m_writing = writing; }

  Status Open() override {
    if (m_books.empty()) return CheckFolder(m_root);
    for (const VCardBook& book : m_books) {
      if (Status status = CheckFolder(book.path); !status.Ok()) return status;
    }
    return {};
  }

  std::string CurrentUser() override { return LoggedInUserName(); }

  // Each call starts a walk afresh.
  std::unique_ptr<FolderCursor> Folders() override {
    m_walk = std::make_shared<Walk>();
    m_walk->writing = m_writing;
    m_walk->card_batch = m_card_batch;
    m_notes.clear();
    std::vector<std::unique_ptr<Folder>> top;
    if (!m_books.empty()) {
      for (const VCardBook& book : m_books) {
        Result<std::string> identity = FolderIdentity(book.path);
        if (!identity.Ok()) {
          m_notes.push_back({book.path, "passed over: " + identity.Message(), true});
          continue;
        }
        if (!m_walk->folders.insert(std::move(identity.Value())).second) {
          m_notes.push_back({book.path, "passed over: it is an address book already walked"});
          continue;
        }
        auto folder =
            std::make_unique<VCardFolder>(m_walk, book.path, DirName(book.path), book.naming);
        if (!book.name.empty()) folder->NameAs(book.name);
        top.push_back(std::move(folder));
      }
      return std::make_unique<ReadyFolders>(std::move(top));
    }
    Result<std::string> root = FolderIdentity(m_root);
    if (!root.Ok()) throw StoreError(m_root, root.Message());
    m_walk->folders.insert(std::move(root.Value()));
    Listing listing = ListFolder(m_root, m_root, *m_walk, m_card_batch);
    m_notes = std::move(listing.notes);
    // Cards in the profile folder itself (a khard or vdirsyncer collection) are one address
    // book, walked before the subfolders, each of which stays an address book of its own.
    if (!listing.cards.empty()) {
      Listing own;
      own.cards = std::move(listing.cards);
      own.more_cards = listing.more_cards;
      top.push_back(std::make_unique<VCardFolder>(m_walk, m_root, DirName(m_root), std::move(own)));
    }
    for (std::string& name : listing.folders) {
      top.push_back(std::make_unique<VCardFolder>(m_walk, m_root + "/" + name, name));
    }
    return std::make_unique<ReadyFolders>(std::move(top));
  }

  std::optional<std::int64_t> CountContacts() override {
    std::int64_t count = 0;
    if (m_books.empty()) return CountCardFiles(m_root, count) ? std::optional(count) : std::nullopt;
    for (const VCardBook& book : m_books) {
      if (!CountCardFiles(book.path, count, book.naming)) return std::nullopt;
    }
    return count;
  }

  StoreIdentity Identity() override {
    if (m_books.empty()) return {"vCard folder", RecordedFolder(m_root)};
    std::string books;
    for (const VCardBook& book : m_books)
      books += (books.empty() ? "" : "\n") + RecordedFolder(book.path);
    return {"vCard books", books};
  }

  std::unique_ptr<Folder> FindContactsAsRead(std::unique_ptr<IdentityCursor> identities) override {
    std::vector<std::string> roots;
    if (m_books.empty()) roots.push_back(RecordedFolder(m_root));
    for (const VCardBook& book : m_books) roots.push_back(RecordedFolder(book.path));
    m_tidy = std::make_shared<Tidy>();
    m_tidy->writing = m_writing;
    // A path the record names is input: it is opened beneath the root it names, never through
    // a link, and never outside every root.
    CardFileOpener open = [roots, tidy = m_tidy](const std::string& path,
                                                 const std::string& name) -> HeldFile {
      for (const std::string& root : roots) {
        const std::optional<std::string> relative = RelativeBeneath(root, path);
        if (!relative) continue;
        FileBeneath found = OpenBeneath(PathFromUtf8(root), *relative);
        if (!found.status.Ok()) throw StoreError(name, found.status.Reason());
        tidy->Folder(PathFromUtf8(path).parent_path());
        return std::move(found.file);
      }
      throw StoreError(name, "it is not a card of this store");
    };
    auto batch = std::make_shared<CardBatch>();
    std::unique_ptr<Folder> found = FoundCardsFolder(
        DirName(m_root.empty() ? m_books.front().path : m_root), std::move(identities), open,
        [batch, open](const std::string& path, const std::string& name) {
          return FindSingleCard(path, name, open(path, name), batch);
        });
    return std::make_unique<BatchedFolder>(std::move(found), std::move(batch));
  }

  std::vector<StoreNote> TakeNotes() override {
    std::vector<StoreNote> notes = std::exchange(m_notes, {});
    std::size_t removed = m_walk ? std::exchange(m_walk->removed, 0) : 0;
    if (m_tidy) {
      removed += std::exchange(m_tidy->removed, 0);
      for (StoreNote& note : m_tidy->notes) notes.push_back(std::move(note));
      m_tidy->notes.clear();
    }
    if (removed > 0) {
      notes.push_back({{},
                       "Removed " + std::to_string(removed) +
                           (removed == 1 ? " temporary file" : " temporary files") +
                           " left by an earlier run that was stopped"});
    }
    return notes;
  }

 private:
  std::string m_root;
  std::vector<VCardBook> m_books;
  std::size_t m_card_batch;
  bool m_writing = false;
  std::shared_ptr<Walk> m_walk;
  std::vector<StoreNote> m_notes;
  // An undo's removal of our leftovers: once in each folder it finds a card in, when it writes.
  struct Tidy {
    bool writing = false;
    std::set<std::filesystem::path> done;
    std::size_t removed = 0;
    std::vector<StoreNote> notes;

    void Folder(const std::filesystem::path& folder) {
      if (!writing || !done.insert(folder).second) return;
      const LeftoverRemoval removal = RemoveLeftovers(folder);
      removed += removal.removed;
      for (const auto& [name, reason] : removal.failures) {
        notes.push_back(
            {name, "could not remove this temporary file left by an earlier run: " + reason});
      }
    }
  };
  std::shared_ptr<Tidy> m_tidy;
};

}  // namespace

namespace {

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

std::unique_ptr<ContactStore> MakeVCardStore(std::string root, std::size_t card_batch) {
  return std::make_unique<VCardStore>(WithoutTrailingSlash(std::move(root)),
                                      std::vector<VCardBook>{}, card_batch);
}

std::unique_ptr<ContactStore> MakeVCardBooksStore(std::vector<VCardBook> books) {
  for (VCardBook& book : books) book.path = WithoutTrailingSlash(std::move(book.path));
  return std::make_unique<VCardStore>(std::string(), std::move(books), kVCardNameBatch);
}

}  // namespace dialmend
