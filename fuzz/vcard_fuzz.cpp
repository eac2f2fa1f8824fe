// Feeds arbitrary bytes to the vCard reader. A card that parses must come back byte for byte from
// a rewrite without changes, and a rewrite that changes every number must parse again with the
// new numbers and nothing else moved.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "stores/vcard/vcard.h"

namespace dialmend {
namespace {

// Numbers that exercise escapes, folding, multi-byte characters, QP triplets and tel: URIs.
constexpr std::string_view kNumbers[] = {
    "020 7946 0000",
    "+44 (0)20 7946 0000",
    "0171-930-8893 ext. 5",
    "B\u00fcro \u20ac 1",
    "x\\y,z;w\\",
    "=41 == =",
    " leading and trailing ",
    "two\nlines",
    "\U0001F4DE 0171 930 8893 \U0001F4DE 0171 930 8893 \U0001F4DE 0171 930 8893 \U0001F4DE",
    "0000000000000000000000000000000000000000000000000000000000000000000000000000000000000000",
    "",
};

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "vcard_fuzz: %s\n", what);
  std::abort();
}

bool SameExceptNumbers(const VCard& a, const VCard& b) {
  if (a.Version() != b.Version() || a.Kind() != b.Kind() || a.FileAs() != b.FileAs()) return false;
  if (a.Phones().size() != b.Phones().size()) return false;
  if (a.LeftAsIs().size() != b.LeftAsIs().size()) return false;
  for (std::size_t i = 0; i < a.LeftAsIs().size(); ++i) {
    if (a.LeftAsIs()[i].field != b.LeftAsIs()[i].field) return false;
    if (a.LeftAsIs()[i].reason != b.LeftAsIs()[i].reason) return false;
  }
  for (std::size_t i = 0; i < a.Phones().size(); ++i) {
    if (a.Phones()[i].field != b.Phones()[i].field) return false;
    if (a.Phones()[i].is_tel_uri != b.Phones()[i].is_tel_uri) return false;
  }
  return true;
}

}  // namespace
}  // namespace dialmend

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace dialmend;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const ParsedVCard parsed = ParseVCard(bytes);
  Check(parsed.card.has_value() == parsed.error.empty(), "a card comes with no error text");
  if (!parsed) return 0;
  const VCard& card = *parsed.card;

  Check(RewriteVCard(card, {}).bytes == bytes, "no changes give the same bytes");
  std::vector<PhoneChange> same;
  for (std::size_t i = 0; i < card.Phones().size(); ++i)
    same.push_back({i, card.Phones()[i].number});
  Check(RewriteVCard(card, same).bytes == bytes, "the same numbers give the same bytes");

  std::vector<PhoneChange> changes;
  for (std::size_t i = 0; i < card.Phones().size(); ++i) {
    const std::size_t pick = (i + size) % std::size(kNumbers);
    changes.push_back({i, std::string(kNumbers[pick])});
  }
  const VCardRewrite rewrite = RewriteVCard(card, changes);
  if (rewrite.bytes.size() > kMaxVCardBytes) return 0;
  const ParsedVCard again = ParseVCard(rewrite.bytes);
  Check(again.card.has_value(), "the rewrite parses");
  Check(SameExceptNumbers(card, *again.card), "only the numbers differ after the rewrite");

  std::size_t next_rejected = 0;
  for (std::size_t i = 0; i < card.Phones().size(); ++i) {
    const std::string& now = again.card->Phones()[i].number;
    if (next_rejected < rewrite.rejected.size() && rewrite.rejected[next_rejected].index == i) {
      Check(!rewrite.rejected[next_rejected].reason.empty(), "a refusal says why");
      Check(now == card.Phones()[i].number, "a refused change leaves the number");
      ++next_rejected;
      continue;
    }
    if (changes[i].number == card.Phones()[i].number) {
      Check(now == card.Phones()[i].number, "an equal number is left as it was");
    } else if (card.Phones()[i].is_tel_uri) {
      const TelUriNumber uri = TelUriFromNumber(changes[i].number);
      Check(uri.number.has_value() && now == *uri.number, "a tel: URI holds the converted number");
    } else {
      Check(now == changes[i].number, "the rewrite holds the new number");
    }
  }
  Check(next_rejected == rewrite.rejected.size(), "refusals name entries in order");

  // Writing the same numbers into the rewritten card changes nothing more.
  Check(RewriteVCard(*again.card, changes).bytes == rewrite.bytes, "a second rewrite is stable");
  return 0;
}
