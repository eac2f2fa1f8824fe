#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
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

// Where a CardScanner reads its file, in order: at most `size` bytes into `buffer`, how many (0
// at the end), or std::nullopt with `reason` set.
using BlockSource =
    std::function<std::optional<std::size_t>(char* buffer, std::size_t size, std::string& reason)>;

// One card a CardScanner found: where it lies in the file, and its bytes, valid until the
// scanner's next Next().
struct ScannedCard {
  CardSpan span;
  std::string_view bytes;
};

// The cards of a file read block by block, found exactly as FindCards finds them, holding no
// more than the card at hand and one block: memory does not grow with the number of cards.
class CardScanner {
 public:
  CardScanner(BlockSource source, std::size_t block_size);

  // The next card in file order, or std::nullopt after the last one, or when the file cannot
  // be read any further (Failure() then says why).
  [[nodiscard]] std::optional<ScannedCard> Next();

  // Why the file could not be read to its end; empty when it could.
  [[nodiscard]] const std::string& Failure() const { return m_failure; }

 private:
  // Drops what the scan no longer needs and reads the next block; false at the end of the
  // file.
  bool Fill();

  BlockSource m_source;
  std::size_t m_block_size;
  // Bytes of the file from offset m_offset on; the scan is at m_pos, the open card at m_begin.
  std::string m_bytes;
  std::uint64_t m_offset = 0;
  std::size_t m_pos = 0;
  std::size_t m_begin = 0;
  // Where the search for the end of the line at hand goes on.
  std::size_t m_searched = 0;
  std::size_t m_depth = 0;
  bool m_started = false;
  bool m_ended = false;
  std::string m_failure;
};

}  // namespace dialmend
