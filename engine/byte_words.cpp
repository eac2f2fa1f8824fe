#include "engine/byte_words.h"

namespace dialmend {
namespace {

std::uint64_t Word(const char* at) {
  std::uint64_t word;
  std::memcpy(&word, at, sizeof word);
  return word;
}

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

ByteFacts ReadBytes(std::string_view text) noexcept {
  if (text.size() < 8) {
    ByteFacts facts{true, false};
    for (std::size_t k = 0; k < text.size(); ++k) {
      if (static_cast<unsigned char>(text[k]) >= 0x80) facts.ascii = false;
      if (k > 0 && text[k] == ' ' && text[k - 1] == ' ') facts.two_spaces = true;
    }
    return facts;
  }
  constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
  std::uint64_t high = 0;
  std::uint64_t pairs = 0;
  const auto add = [&](std::size_t at) {
    const std::uint64_t word = Word(text.data() + at);
    high |= word;
    // The top bit of each byte that is a space: those bytes are zero after the exclusive or,
    // and only a zero byte has no bit that the addition or the or can carry into its top bit.
    const std::uint64_t x = word ^ 0x2020202020202020ULL;
    const std::uint64_t spaces = ~(((x & kLow7) + kLow7) | x | kLow7);
    pairs |= spaces & (spaces >> 8);
  };
  // Words overlap by one byte, so every pair of neighbours lies inside one of them.
  for (std::size_t at = 0; at + 8 <= text.size(); at += 7) add(at);
  add(text.size() - 8);
  return {(high & ~kLow7) == 0, pairs != 0};
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
