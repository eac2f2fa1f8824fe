#include "stores/vcard/card_contact.h"

#include <algorithm>
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

std::string CardContact::StoredForm(std::size_t index) {
  if (index >= m_card.Phones().size()) return {};
  const std::string_view raw = m_card.RawValue(index);
  if (raw == m_card.Phones()[index].number) return {};
  return std::string(raw);
}

void CardContact::RestorePhone(std::size_t index, std::string number, std::string stored_form) {
  if (!stored_form.empty()) m_kept.push_back({index, std::move(stored_form), number});
  SetPhone(index, std::move(number));
}

std::string CardContact::FileAs() {
  return m_card.FileAs();
}

std::optional<std::string> CardContact::RewrittenCard(const std::string& subject) const {
  if (m_changes.empty()) return std::nullopt;
  std::vector<KeptValue> kept;
  kept.reserve(m_kept.size());
  for (const Kept& k : m_kept) kept.push_back({k.index, k.bytes});
  VCardRewrite rewrite = RewriteVCard(m_card, m_changes, kept);
  if (!kept.empty()) {
    // Kept bytes go back only where the card, read again, holds the numbers they stand for:
    // another program may have changed a property's encoding since.
    const ParsedVCard check = ParseVCard(rewrite.bytes);
    const auto holds = [&check](const Kept& k) {
      return k.index < check.card->Phones().size() &&
             check.card->Phones()[k.index].number == k.number;
    };
    if (!rewrite.rejected.empty() || !check || !std::all_of(m_kept.begin(), m_kept.end(), holds)) {
      rewrite = RewriteVCard(m_card, m_changes);
    }
  }
  if (!rewrite.rejected.empty()) throw StoreError(subject, rewrite.rejected.front().reason);
  if (rewrite.bytes == m_card.Bytes()) return std::nullopt;
  return std::move(rewrite.bytes);
}

}  // namespace dialmend
