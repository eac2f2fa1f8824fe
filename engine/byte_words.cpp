#include "engine/byte_words.h"

namespace dialmend {
namespace {

template <class Word>
bool WordMayHoldFullStopOrTilde(const char* at) {
  Word word;
  std::memcpy(&word, at, sizeof word);
  return FullStopOrTildeBits(word) != 0;
}

bool HasFullStopOrTildeByBytes(std::string_view text) noexcept {
  for (char c : text) {
    if (c == '.' || c == '~') return true;
  }
  return false;
}

}  // namespace

ByteFacts ReadShortBytes(std::string_view text) noexcept {
  ByteFacts facts{true, false};
  for (std::size_t k = 0; k < text.size(); ++k) {
    if (static_cast<unsigned char>(text[k]) >= 0x80) facts.ascii = false;
    if (k > 0 && text[k] == ' ' && text[k - 1] == ' ') facts.two_spaces = true;
  }
  return facts;
}

bool HasFullStopOrTildeAnyLength(std::string_view text) noexcept {
  if (text.size() < 4) return HasFullStopOrTildeByBytes(text);
  // The last word overlaps the one before.
  bool may = false;
  if (text.size() < 8) {
    may = WordMayHoldFullStopOrTilde<std::uint32_t>(text.data()) ||
          WordMayHoldFullStopOrTilde<std::uint32_t>(text.data() + text.size() - 4);
  } else {
    for (std::size_t at = 0; at + 8 <= text.size() && !may; at += 8) {
      may = WordMayHoldFullStopOrTilde<std::uint64_t>(text.data() + at);
    }
    may = may || WordMayHoldFullStopOrTilde<std::uint64_t>(text.data() + text.size() - 8);
  }
  return may && HasFullStopOrTildeByBytes(text);
}

}  // namespace dialmend
