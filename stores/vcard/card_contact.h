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
  // The value's bytes, when they differ from its number.
  std::string StoredForm(std::size_t index) override;
  // The bytes are written only when the card reads them back as `number`; else the number is
  // written the property's way.
  void RestorePhone(std::size_t index, std::string number, std::string stored_form) override;
  std::string FileAs() override;
  std::string Uid() override { return m_card.Uid(); }

 protected:
  // The card's bytes with every assigned number written, or std::nullopt when nothing would
  // change. Throws StoreError naming `subject` when a number cannot be written into the card.
  [[nodiscard]] std::optional<std::string> RewrittenCard(const std::string& subject) const;
  void ClearChanges() {
    m_changes.clear();
    m_kept.clear();
  }
  [[nodiscard]] const VCard& Card() const { return m_card; }

 private:
  VCard m_card;
  std::vector<PhoneChange> m_changes;
  // Values to write back byte for byte, and the number each stands for.
  struct Kept {
    std::size_t index = 0;
    std::string bytes;
    std::string number;
  };
  std::vector<Kept> m_kept;
};

}  // namespace dialmend
