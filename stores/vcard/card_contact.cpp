#include "stores/vcard/card_contact.h"

#include <utility>

namespace dialmend {

ItemKind CardContact::Kind() {
  return m_card.Kind() == CardKind::Group ? ItemKind::Group : ItemKind::Contact;
}

std::vector<PhoneValue> CardContact::Phones() {
  std::vector<PhoneValue> phones;
  phones.reserve(m_card.Phones().size());
  for (const PhoneEntry& entry : m_card.Phones()) phones.push_back({entry.field, entry.number});
  return phones;
}

std::vector<StoreNote> CardContact::TakeNotes() {
  std::vector<StoreNote> notes;
  for (const LeftPhone& left : m_card.LeftAsIs()) {
    notes.push_back(
        {{}, std::string(PhoneFieldLabel(left.field)) + " left as it is: " + left.reason});
  }
  return notes;
}

ContactItem::StoredNumber CardContact::PrepareNumber(std::size_t index, std::string number) {
  if (index < m_card.Phones().size() && m_card.Phones()[index].is_tel_uri) {
    TelUriNumber uri = TelUriFromNumber(number);
    if (!uri.number) return {{}, std::move(uri.error)};
    return {std::move(*uri.number), {}};
  }
  return {std::move(number), {}};
}

void CardContact::SetPhone(std::size_t index, std::string number) {
  m_changes.push_back({index, std::move(number)});
}

std::string CardContact::FileAs() {
  return m_card.FileAs();
}

std::optional<std::string> CardContact::RewrittenCard(const std::string& subject) const {
  if (m_changes.empty()) return std::nullopt;
  VCardRewrite rewrite = RewriteVCard(m_card, m_changes);
  if (!rewrite.rejected.empty()) throw StoreError(subject, rewrite.rejected.front().reason);
  if (rewrite.bytes == m_card.Bytes()) return std::nullopt;
  return std::move(rewrite.bytes);
}

}  // namespace dialmend
