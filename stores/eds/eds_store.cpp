#include "stores/eds/eds_store.h"

#include <algorithm>
#include <functional>
#include <map>
#include <utility>
#include <vector>

#include "platform/user_name.h"
#include "stores/eds/eds_book.h"
#include "stores/eds/eds_session.h"

namespace dialmend {
namespace {

// The cards of one batch of UIDs of one book, or the reason none of them can be read (`book`
// null: their book is gone).
struct Batch {
  std::shared_ptr<EdsBook> book;
  std::vector<std::string> uids;
  std::string refusal;
};

// Cards read a batch at a time, each card its own item, or its own StoreError, so that a batch
// EDS will not give costs one line per card and an undo keeps each card paired with its record.
class BatchedCards : public ItemCursor {
 public:
  // `next` fills the next batch; false at the end.
  BatchedCards(std::function<bool(Batch&)> next, std::shared_ptr<EdsHeldSaves> held)
      : m_next(std::move(next)), m_held(std::move(held)) {}

  std::unique_ptr<ContactItem> Next() override {
    while (m_ready_next >= m_ready.size()) {
      Batch batch;
      if (!m_next(batch)) return nullptr;
      Fill(batch);
    }
    return MakeEdsCard(m_book, std::move(m_ready[m_ready_next++]), m_held);
  }

 private:
  void Fill(Batch& batch) {
    m_book = batch.book;
    m_ready.clear();
    m_ready_next = 0;
    std::string problem = batch.refusal;
    if (problem.empty() && m_book) {
      try {
        m_ready = m_book->Fetch(batch.uids);
        return;
      } catch (const StoreError& error) {
        problem = error.Reason();
      }
    }
    for (std::string& uid : batch.uids) {
      m_ready.push_back({std::move(uid), std::nullopt, problem, true});
    }
  }

  std::function<bool(Batch&)> m_next;
  std::shared_ptr<EdsHeldSaves> m_held;
  std::shared_ptr<EdsBook> m_book;
  std::vector<EdsFetched> m_ready;
  std::size_t m_ready_next = 0;
};

class NoFolders : public FolderCursor {
 public:
  std::unique_ptr<Folder> Next() override { return nullptr; }
};

class NoItems : public ItemCursor {
 public:
  std::unique_ptr<ContactItem> Next() override { return nullptr; }
};

class BookFolder : public Folder {
 public:
  BookFolder(std::shared_ptr<EdsBook> book, bool writing)
      : m_book(std::move(book)), m_writing(writing) {}

  std::string Name() override { return m_book->Name(); }
  FolderKind Kind() override { return FolderKind::Contacts; }

  std::unique_ptr<ItemCursor> Items() override {
    if (std::string refusal = m_book->Refusal(m_writing); !refusal.empty()) {
      throw StoreError(m_book->Name(), std::move(refusal));
    }
    auto uids = std::make_shared<std::vector<std::string>>(m_book->ListUids());
    return std::make_unique<BatchedCards>(
        [book = m_book, uids, next = std::size_t{0}](Batch& batch) mutable {
          if (next >= uids->size()) return false;
          const std::size_t end = std::min(uids->size(), next + book->BatchSize());
          batch.book = book;
          batch.uids.assign(std::make_move_iterator(uids->begin() + next),
                            std::make_move_iterator(uids->begin() + end));
          next = end;
          return true;
        },
        m_held);
  }

  std::unique_ptr<FolderCursor> Folders() override { return std::make_unique<NoFolders>(); }
  std::vector<FlushFailure> Flush() override { return WriteHeldSaves(*m_held); }
  bool FlushDue() override { return m_held->size() >= m_book->BatchSize(); }

 private:
  std::shared_ptr<EdsBook> m_book;
  bool m_writing;
  std::shared_ptr<EdsHeldSaves> m_held = std::make_shared<EdsHeldSaves>();
};

// A top-level folder: one book, or an online account holding its books.
struct Entry {
  std::string name;
  std::shared_ptr<EdsBook> book;
  std::vector<std::shared_ptr<EdsBook>> books;
};

class EntryCursor : public FolderCursor {
 public:
  EntryCursor(std::vector<Entry> entries, bool writing)
      : m_entries(std::move(entries)), m_writing(writing) {}
  std::unique_ptr<Folder> Next() override;

 private:
  std::vector<Entry> m_entries;
  std::size_t m_next = 0;
  bool m_writing;
};

class AccountFolder : public Folder {
 public:
  AccountFolder(Entry entry, bool writing) : m_entry(std::move(entry)), m_writing(writing) {}
  std::string Name() override { return m_entry.name; }
  FolderKind Kind() override { return FolderKind::Other; }
  std::unique_ptr<ItemCursor> Items() override { return std::make_unique<NoItems>(); }
  std::unique_ptr<FolderCursor> Folders() override {
    std::vector<Entry> books;
    for (const std::shared_ptr<EdsBook>& book : m_entry.books) books.push_back({{}, book, {}});
    return std::make_unique<EntryCursor>(std::move(books), m_writing);
  }

 private:
  Entry m_entry;
  bool m_writing;
};

std::unique_ptr<Folder> EntryCursor::Next() {
  if (m_next >= m_entries.size()) return nullptr;
  Entry& entry = m_entries[m_next++];
  if (entry.book) return std::make_unique<BookFolder>(entry.book, m_writing);
  return std::make_unique<AccountFolder>(entry, m_writing);
}

// The contacts an undo asks for, read a run of one book's cards at a time.
class FoundFolder : public Folder {
 public:
  FoundFolder(std::unique_ptr<IdentityCursor> identities,
              std::map<std::string, std::shared_ptr<EdsBook>> books, bool writing)
      : m_identities(std::move(identities)), m_books(std::move(books)), m_writing(writing) {}

  std::string Name() override { return {}; }
  FolderKind Kind() override { return FolderKind::Contacts; }
  std::unique_ptr<ItemCursor> Items() override {
    return std::make_unique<BatchedCards>([this](Batch& batch) { return NextBatch(batch); },
                                          m_held);
  }
  std::unique_ptr<FolderCursor> Folders() override { return std::make_unique<NoFolders>(); }
  std::vector<FlushFailure> Flush() override { return WriteHeldSaves(*m_held); }
  bool FlushDue() override { return !m_held->empty() && m_held->size() >= kBatch; }

 private:
  static constexpr std::size_t kBatch = 100;

  // The next run of identities of one book, at most a batch of them.
  bool NextBatch(Batch& batch) {
    if (!m_peeked) m_peeked = m_identities->Next();
    if (!m_peeked) return false;
    const std::string source = SourceOf(*m_peeked);
    const auto found = m_books.find(source);
    batch.book = found != m_books.end() ? found->second : nullptr;
    if (!batch.book) batch.refusal = "its address book is not there, or is switched off";
    if (batch.book && m_refusals.find(source) == m_refusals.end()) {
      try {
        m_refusals[source] = batch.book->Refusal(m_writing);
      } catch (const StoreError& error) {
        m_refusals[source] = error.Reason();
      }
    }
    if (batch.book) batch.refusal = m_refusals[source];
    const std::size_t limit = batch.book ? batch.book->BatchSize() : kBatch;
    while (m_peeked && SourceOf(*m_peeked) == source && batch.uids.size() < limit) {
      const std::string& where = m_peeked->where;
      batch.uids.push_back(where.substr(std::min(where.size(), source.size() + 1)));
      m_peeked = m_identities->Next();
    }
    return true;
  }

  static std::string SourceOf(const ContactIdentity& identity) {
    return identity.where.substr(0, identity.where.find('/'));
  }

  std::unique_ptr<IdentityCursor> m_identities;
  std::unique_ptr<ContactIdentity> m_peeked;
  std::map<std::string, std::shared_ptr<EdsBook>> m_books;
  std::map<std::string, std::string> m_refusals;
  bool m_writing;
  std::shared_ptr<EdsHeldSaves> m_held = std::make_shared<EdsHeldSaves>();
};

std::string DisplayName(ESource* source) {
  const GCharPtr name = TakeGChar(e_source_dup_display_name(source));
  return name ? name.get() : "";
}

class EdsStore : public ContactStore {
 public:
  explicit EdsStore(EdsSettings settings) : m_settings(std::move(settings)) {}

  void SetWriting(bool writing) override { m_writing = writing; }
  Status Open() override;
  std::string CurrentUser() override { return LoggedInUserName(); }
  std::unique_ptr<FolderCursor> Folders() override {
    return std::make_unique<EntryCursor>(m_entries, m_writing);
  }
  StoreIdentity Identity() override {
    return {kEdsStoreKind, std::string(kEdsProfilePrefix) + m_settings.book};
  }
  std::unique_ptr<Folder> FindContactsAsRead(std::unique_ptr<IdentityCursor> identities) override {
    std::map<std::string, std::shared_ptr<EdsBook>> books;
    for (const Entry& entry : m_entries) {
      if (entry.book) books[entry.book->SourceUid()] = entry.book;
      for (const auto& book : entry.books) books[book->SourceUid()] = book;
    }
    return std::make_unique<FoundFolder>(std::move(identities), std::move(books), m_writing);
  }

 private:
  // Every enabled book, each account's under it, both sorted by name.
  std::vector<Entry> ListEntries();
  // The entries the settings name.
  std::vector<Entry> Chosen(std::vector<Entry> entries) const;

  EdsSettings m_settings;
  bool m_writing = false;
  std::shared_ptr<EdsSession> m_session;
  std::vector<Entry> m_entries;
};

std::vector<Entry> EdsStore::ListEntries() {
  const EdsSession::Scope scope = m_session->Enter();
  ESourceRegistry* registry = m_session->Registry();
  GList* sources = e_source_registry_list_enabled(registry, E_SOURCE_EXTENSION_ADDRESS_BOOK);
  std::vector<Entry> entries;
  std::map<std::string, std::size_t> accounts;
  for (GList* at = sources; at != nullptr; at = at->next) {
    auto* source = static_cast<ESource*>(at->data);
    auto book = std::make_shared<EdsBook>(m_session, source, DisplayName(source), m_settings);
    const gchar* parent_uid = e_source_get_parent(source);
    const GObjectPtr<ESource> parent(
        parent_uid != nullptr ? e_source_registry_ref_source(registry, parent_uid) : nullptr);
    // An online account's books come from its collection source, which names the account.
    if (!parent || !e_source_has_extension(parent.get(), E_SOURCE_EXTENSION_COLLECTION)) {
      entries.push_back({book->Name(), std::move(book), {}});
      continue;
    }
    auto* collection = static_cast<ESourceCollection*>(
        e_source_get_extension(parent.get(), E_SOURCE_EXTENSION_COLLECTION));
    if (!e_source_collection_get_contacts_enabled(collection)) continue;
    const auto [account, added] = accounts.emplace(parent_uid, entries.size());
    if (added) entries.push_back({DisplayName(parent.get()), nullptr, {}});
    entries[account->second].books.push_back(std::move(book));
  }
  g_list_free_full(sources, g_object_unref);
  const auto by_name = [](const auto& a, const auto& b) { return a->Name() < b->Name(); };
  for (Entry& entry : entries) std::sort(entry.books.begin(), entry.books.end(), by_name);
  std::stable_sort(entries.begin(), entries.end(),
                   [](const Entry& a, const Entry& b) { return a.name < b.name; });
  return entries;
}

std::vector<Entry> EdsStore::Chosen(std::vector<Entry> entries) const {
  if (m_settings.book.empty()) return entries;
  std::vector<Entry> chosen;
  for (Entry& entry : entries) {
    if (entry.name == m_settings.book) {
      chosen.push_back(std::move(entry));
      continue;
    }
    std::erase_if(entry.books,
                  [this](const auto& book) { return book->Name() != m_settings.book; });
    if (!entry.books.empty()) chosen.push_back(std::move(entry));
  }
  return chosen;
}

Status EdsStore::Open() {
  m_entries.clear();
  if (!m_session) {
    Result<std::shared_ptr<EdsSession>> session = EdsSession::Open();
    if (!session.Ok()) return Status::Failure(session.Message());
    m_session = std::move(session.Value());
  }
  std::vector<Entry> entries = ListEntries();
  std::string names;
  for (const Entry& entry : entries) names += (names.empty() ? "" : ", ") + entry.name;
  m_entries = Chosen(std::move(entries));
  if (!m_entries.empty()) return {};
  if (m_settings.book.empty()) {
    return Status::Failure(
        "GNOME's address books: Evolution Data Server has no address book "
        "switched on");
  }
  return Status::Failure("GNOME's address books: none is named \"" + m_settings.book +
                         "\"; there are " + (names.empty() ? "none" : names));
}

}  // namespace

std::unique_ptr<ContactStore> MakeEdsStore(EdsSettings settings) {
  return std::make_unique<EdsStore>(std::move(settings));
}

}  // namespace dialmend
