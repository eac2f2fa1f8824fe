#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "contacts/contact_store.h"
#include "stores/thunderbird/sqlite.h"

// The database of one local Thunderbird address book (schema version 4: a row per property of a
// card in `properties(card, name, value)`, the whole card in its `_vCard` property), opened when
// first used. Reads and writes throw StoreError with the file's name in the reason.

namespace dialmend {

// The schema version this store reads and writes.
inline constexpr std::int64_t kAddressBookSchema = 4;

// A card as the database holds it.
struct CardRow {
  std::string uid;
  std::string vcard;
  // Thunderbird's own DisplayName property; empty when it has none.
  std::string display_name;
};

// A mailing list of the book.
struct ListRow {
  std::string uid;
  std::string name;
};

class BookDatabase {
 public:
  // `path` is the file; `writable` false opens it read-only. `saves` numbers the held saves of
  // every book of one store.
  BookDatabase(std::string path, std::string file_name, bool writable,
               std::shared_ptr<std::uint64_t> saves);

  // Opens the file read-only from now on unless `writable`; an open file is closed if it was
  // opened the other way.
  void SetWritable(bool writable);

  // Opens the file if it is not open yet; throws StoreError when it cannot be read or is of
  // another schema version.
  void Open();

  // Up to `most` cards whose UID sorts after `after`, in UID order.
  [[nodiscard]] std::vector<CardRow> CardsAfter(const std::string& after, std::size_t most);
  [[nodiscard]] std::vector<ListRow> Lists();
  // The card `uid`, or std::nullopt when the book has none.
  [[nodiscard]] std::optional<CardRow> Card(const std::string& uid);
  // Reads the file read-only, whether or not it is open for the walk.
  [[nodiscard]] std::int64_t CountCards();

  // Holds the change of card `uid` from `old_vcard`, as read, to `new_vcard` for Flush(); gives the
  // number Flush() names it by.
  std::uint64_t Hold(std::string uid, std::string old_vcard, std::string new_vcard);
  [[nodiscard]] std::size_t Held() const { return m_held.size(); }

  // Writes the held changes in one transaction, each only where the card still holds the vCard
  // read (another program's edit is never overwritten), with LastModifiedDate set to this second.
  // Gives the saves not written. Never throws.
  [[nodiscard]] std::vector<Folder::FlushFailure> Flush();

 private:
  struct HeldChange {
    std::uint64_t save = 0;
    std::string uid;
    std::string old_vcard;
    std::string new_vcard;
  };

  // Runs `work` on the open database, a SQLite failure thrown as StoreError.
  template <class Work>
  auto Guarded(Work work);
  void WriteHeld(std::vector<Folder::FlushFailure>& failures);

  std::string m_path;
  std::string m_file_name;
  bool m_writable;
  std::shared_ptr<std::uint64_t> m_saves;
  std::unique_ptr<SqliteDatabase> m_db;
  std::vector<HeldChange> m_held;
};

}  // namespace dialmend
