#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "contacts/contact_store.h"
#include "stores/thunderbird/book_database.h"

// The items of a Thunderbird address book: its cards as contacts, its mailing lists as groups.

namespace dialmend {

// How an undo record names card `uid` of the book in `file`, and back.
[[nodiscard]] std::string CardIdentity(const std::string& file, const std::string& uid);
// False when `where` is not such a name.
[[nodiscard]] bool SplitCardIdentity(const std::string& where, std::string& file, std::string& uid);

// The contact of `row`, a card of the book in `file`, its save held in `database`. Throws
// StoreError naming it when its vCard cannot be read.
[[nodiscard]] std::unique_ptr<ContactItem> CardItem(CardRow row, std::string file,
                                                    std::shared_ptr<BookDatabase> database);

// The book's cards a batch at a time in UID order, then its mailing lists. After a failure to
// read the book, thrown as StoreError, it gives no more.
class BookItems : public ItemCursor {
 public:
  BookItems(std::string file, std::shared_ptr<BookDatabase> database);
  std::unique_ptr<ContactItem> Next() override;

 private:
  bool ReadMore();

  std::string m_file;
  std::shared_ptr<BookDatabase> m_database;
  std::vector<CardRow> m_cards;
  // The UID of the last card handed out: the next batch starts after it.
  std::string m_after;
  std::vector<ListRow> m_lists;
  std::size_t m_next = 0;
  enum class Stage { Cards, Lists, Done } m_stage = Stage::Cards;
};

// Finds the book `file` names among the profile's local books; nullptr when it is not one.
using BookFinder = std::function<std::shared_ptr<BookDatabase>(const std::string& file)>;

// The cards an undo names, found again one at a time as the walk asks; Next() throws StoreError
// for one that is no longer there and moves past it.
class FoundCards : public ItemCursor {
 public:
  FoundCards(std::unique_ptr<IdentityCursor> identities, BookFinder books);
  std::unique_ptr<ContactItem> Next() override;

 private:
  std::unique_ptr<IdentityCursor> m_identities;
  BookFinder m_books;
};

}  // namespace dialmend
