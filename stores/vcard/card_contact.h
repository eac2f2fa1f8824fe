#pragma once

#include <optional>
#include <string>
#include <vector>

#include "contacts/contact_store.h"
#include "stores/vcard/vcard.h"

// What every store of vCards answers alike about one card; each store adds only how a changed
// card is saved.

namespace dialmend {

class CardContact : public ContactItem {
 public:
  explicit CardContact(VCard card) : m_card(std::move(card)) {}

  ItemKind Kind() override;
  std::vector<PhoneValue> Phones() override;
  // Nothing failed for a value left as it is, so its note is no problem.
  std::vector<StoreNote> TakeNotes() override;
  StoredNumber PrepareNumber(std::size_t index, std::string number) override;
  void SetPhone(std::size_t index, std::string number) override;
  std::string FileAs() override;

 protected:
  // The card's bytes with every assigned number written, or std::nullopt when nothing would
  // change. Throws StoreError naming `subject` when a number cannot be written into the card.
  [[nodiscard]] std::optional<std::string> RewrittenCard(const std::string& subject) const;
  void ClearChanges() { m_changes.clear(); }
  [[nodiscard]] const VCard& Card() const { return m_card; }

 private:
  VCard m_card;
  std::vector<PhoneChange> m_changes;
};

}  // namespace dialmend
