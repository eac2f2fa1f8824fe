#include "stores/thunderbird/thunderbird_items.h"

#include <utility>

#include "stores/vcard/card_contact.h"
#include "stores/vcard/vcard.h"

namespace dialmend {
namespace {

// How many cards are read from the database at a time: the walk holds no more.
constexpr std::size_t kCardBatch = 256;

class ThunderbirdCard : public CardContact {
 public:
  ThunderbirdCard(VCard card, CardRow row, std::string file, std::shared_ptr<BookDatabase> database)
      : CardContact(std::move(card)),
        m_uid(std::move(row.uid)),
        m_display_name(std::move(row.display_name)),
        m_file(std::move(file)),
        m_database(std::move(database)) {}

  // Thunderbird shows its DisplayName where the card has no FN.
  std::string FileAs() override {
    const std::string& file_as = Card().FileAs();
    return file_as.empty() ? m_display_name : file_as;
  }

  void Save() override {
    std::optional<std::string> bytes = RewrittenCard(FileAs());
    if (!bytes) return;
    m_held = m_database->Hold(m_uid, Card().Bytes(), std::move(*bytes));
    ClearChanges();
  }

  std::optional<std::uint64_t> HeldSave() override { return m_held; }
  bool SaveIsHeld() override { return true; }
  ContactIdentity Identity() override { return {CardIdentity(m_file, m_uid), -1, {}}; }

 private:
  std::string m_uid;
  std::string m_display_name;
  std::string m_file;
  std::shared_ptr<BookDatabase> m_database;
  std::optional<std::uint64_t> m_held;
};

// A mailing list: a group, passed over by the walk.
class ListItem : public ContactItem {
 public:
  explicit ListItem(std::string name) : m_name(std::move(name)) {}
  ItemKind Kind() override { return ItemKind::Group; }
  std::vector<PhoneValue> Phones() override { return {}; }
  void SetPhone(std::size_t, std::string) override {}
  std::string FileAs() override { return m_name; }
  void Save() override {}

 private:
  std::string m_name;
};

}  // namespace

std::string CardIdentity(const std::string& file, const std::string& uid) {
  return file + "/" + uid;
}

bool SplitCardIdentity(const std::string& where, std::string& file, std::string& uid) {
  // A book's file name never holds a slash; a UID may.
  const std::size_t slash = where.find('/');
  if (slash == std::string::npos || slash == 0) return false;
  file = where.substr(0, slash);
  uid = where.substr(slash + 1);
  return true;
}

std::unique_ptr<ContactItem> CardItem(CardRow row, std::string file,
                                      std::shared_ptr<BookDatabase> database) {
  const std::string subject = row.display_name.empty() ? row.uid : row.display_name;
  if (row.vcard.size() > kMaxVCardBytes) {
    throw StoreError(subject,
                     "its vCard is larger than " + std::to_string(kMaxVCardBytes >> 20) + " MiB");
  }
  ParsedVCard parsed = ParseVCard(row.vcard);
  if (!parsed) throw StoreError(subject, parsed.error);
  return std::make_unique<ThunderbirdCard>(std::move(*parsed.card), std::move(row), std::move(file),
                                           std::move(database));
}

BookItems::BookItems(std::string file, std::shared_ptr<BookDatabase> database)
    : m_file(std::move(file)), m_database(std::move(database)) {}

std::unique_ptr<ContactItem> BookItems::Next() {
  if (m_stage == Stage::Done) return nullptr;
  if (m_next == (m_stage == Stage::Lists ? m_lists.size() : m_cards.size()) && !ReadMore()) {
    return nullptr;
  }
  const std::size_t at = m_next++;
  if (m_stage == Stage::Lists) return std::make_unique<ListItem>(std::move(m_lists[at].name));
  m_after = m_cards[at].uid;
  return CardItem(std::move(m_cards[at]), m_file, m_database);
}

bool BookItems::ReadMore() {
  try {
    if (m_stage == Stage::Cards) {
      m_cards = m_database->CardsAfter(m_after, kCardBatch);
      m_next = 0;
      if (!m_cards.empty()) return true;
      m_stage = Stage::Lists;
      m_lists = m_database->Lists();
      return !m_lists.empty();
    }
  } catch (const StoreError&) {
    m_stage = Stage::Done;
    throw;
  }
  m_stage = Stage::Done;
  return false;
}

FoundCards::FoundCards(std::unique_ptr<IdentityCursor> identities, BookFinder books)
    : m_identities(std::move(identities)), m_books(std::move(books)) {}

std::unique_ptr<ContactItem> FoundCards::Next() {
  const std::unique_ptr<ContactIdentity> identity = m_identities->Next();
  if (!identity) return nullptr;
  std::string file;
  std::string uid;
  if (!SplitCardIdentity(identity->where, file, uid)) {
    throw StoreError(identity->where, "it does not name a card of a Thunderbird address book");
  }
  std::shared_ptr<BookDatabase> database = m_books(file);
  if (!database) throw StoreError(file, "it is not one of this profile's local address books");
  std::optional<CardRow> row = database->Card(uid);
  if (!row) throw StoreError(uid, "it is no longer in " + file);
  return CardItem(std::move(*row), std::move(file), std::move(database));
}

}  // namespace dialmend
