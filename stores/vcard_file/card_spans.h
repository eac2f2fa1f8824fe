#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

// Finding the cards of a .vcf file that holds many (an address book exported whole), so each
// can be read alone and the bytes between them kept as they are.

namespace dialmend {

// Where one card lies in its file: from the first byte of its BEGIN:VCARD line to the end of
// its END:VCARD line's line end.
struct CardSpan {
  std::size_t begin = 0;
  std::size_t end = 0;
};

// The cards of a file in file order, found by their BEGIN:VCARD and END:VCARD lines in any
// case. A card inside a card (a vCard 2.1 AGENT) stays part of the outer one, and a card
// without its END line runs to the end of the file, so no byte of a card that cannot be read
// lands in another. Bytes outside every span (a byte-order mark, blank lines, stray text)
// belong to no card. Linear in the size of `bytes`.
[[nodiscard]] std::vector<CardSpan> FindCards(std::string_view bytes);

}  // namespace dialmend
