#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace dialmend {

// Tests on the bytes of a text, eight or four at a time: a number's parts vary in length, and a
// loop that stops at a byte's whim mispredicts its branches more than it spends on the bytes.

// What one pass over a text's bytes tells.
struct ByteFacts {
  bool ascii;       // every byte is below 0x80
  bool two_spaces;  // two spaces may stand together; true at least when they do
};

// ReadBytes for a text shorter than eight bytes.
[[nodiscard]] ByteFacts ReadShortBytes(std::string_view text) noexcept;

// Reads every byte of `text` once. Inline, as the converter calls it for every number.
[[nodiscard]] inline ByteFacts ReadBytes(std::string_view text) noexcept {
  if (text.size() < 8) return ReadShortBytes(text);
  constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
  std::uint64_t high = 0;
  std::uint64_t pairs = 0;
  const auto add = [&](std::size_t at) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + at, sizeof word);
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

// The top bit of each byte of `word` that may be a full stop or a tilde: those two differ only
// in bits that the mask clears, which lets through '>' and 'n' too, both rare in a number.
template <class Word>
[[nodiscard]] inline Word FullStopOrTildeBits(Word word) noexcept {
  // A byte equal to the one looked for is zero after the exclusive or; only a zero byte
  // borrows into its own top bit when one is taken from it.
  constexpr Word kOnes = static_cast<Word>(0x0101010101010101ULL);
  constexpr Word kHigh = static_cast<Word>(0x8080808080808080ULL);
  const Word x = (word & static_cast<Word>(~(kOnes * 0x50))) ^ static_cast<Word>(kOnes * '.');
  return (x - kOnes) & ~x & kHigh;
}

// HasFullStopOrTilde for any length, out of line.
[[nodiscard]] bool HasFullStopOrTildeAnyLength(std::string_view text) noexcept;

// True when `text` holds a full stop or a tilde. Inline for the lengths of a local number,
// eight to sixteen bytes: two overlapping words then tell nearly always.
[[nodiscard]] inline bool HasFullStopOrTilde(std::string_view text) noexcept {
  if (text.size() < 8 || text.size() > 16) return HasFullStopOrTildeAnyLength(text);
  std::uint64_t head, tail;
  std::memcpy(&head, text.data(), sizeof head);
  std::memcpy(&tail, text.data() + text.size() - 8, sizeof tail);
  return (FullStopOrTildeBits(head) | FullStopOrTildeBits(tail)) != 0 &&
         HasFullStopOrTildeAnyLength(text);
}

// The top bit of each of the eight bytes at `at` that is an ASCII digit, the first byte
// lowest, on a little-endian machine.
[[nodiscard]] inline std::uint64_t DigitBits(const char* at) noexcept {
  constexpr std::uint64_t kHigh = 0x8080808080808080ULL;
  std::uint64_t word;
  std::memcpy(&word, at, sizeof word);
  // From the low seven bits, so that no sum carries over into the next byte.
  const std::uint64_t low7 = word & ~kHigh;
  return (low7 + 0x5050505050505050ULL) & ~(low7 + 0x4646464646464646ULL) & ~word & kHigh;
}

// The position of the first byte of `text` that is an ASCII digit (`kDigit`) or that is not
// one, or its length when there is none. A text of eight bytes or more is read in words, the
// last one overlapping the one before, so no branch waits on a single byte: where a run of
// digits starts or ends follows no pattern.
template <bool kDigit>
[[nodiscard]] inline std::size_t FindFirstWhereDigitIs(std::string_view text) noexcept {
  const auto is_digit = [](char c) { return c >= '0' && c <= '9'; };
  if constexpr (std::endian::native == std::endian::little) {
    if (text.size() >= 8) {
      const auto wanted = [&text](std::size_t at) {
        const std::uint64_t digits = DigitBits(text.data() + at);
        return kDigit ? digits : ~digits & 0x8080808080808080ULL;
      };
      for (std::size_t k = 0; k + 8 <= text.size(); k += 8) {
        if (const std::uint64_t found = wanted(k); found != 0) {
          return k + static_cast<std::size_t>(std::countr_zero(found)) / 8;
        }
      }
      // The bytes before the last word were looked at: what it finds stands after them.
      const std::size_t at = text.size() - 8;
      const std::uint64_t found = wanted(at);
      return found != 0 ? at + static_cast<std::size_t>(std::countr_zero(found)) / 8 : text.size();
    }
  }
  std::size_t k = 0;
  while (k < text.size() && is_digit(text[k]) != kDigit) ++k;
  return k;
}

// The position of the first ASCII digit of `text`, or its length when it has none. Inline, as
// the converter calls it for every number.
[[nodiscard]] inline std::size_t FindFirstDigit(std::string_view text) noexcept {
  return FindFirstWhereDigitIs<true>(text);
}

// The position of the first byte of `text` that is not an ASCII digit, or its length.
[[nodiscard]] inline std::size_t FindFirstNonDigit(std::string_view text) noexcept {
  return FindFirstWhereDigitIs<false>(text);
}

// Copies `n` bytes from `from` to `out` and returns the end of the copy. The parts of a number
// are short, and for them two overlapping moves cost less than a call to memcpy.
inline char* CopyBytes(char* out, const char* from, std::size_t n) noexcept {
  const auto move = [out, from, n]<class Word>(Word) {
    Word head, tail;
    std::memcpy(&head, from, sizeof head);
    std::memcpy(&tail, from + n - sizeof tail, sizeof tail);
    std::memcpy(out, &head, sizeof head);
    std::memcpy(out + n - sizeof tail, &tail, sizeof tail);
  };
  if (n > 16) {
    std::memcpy(out, from, n);
  } else if (n >= 8) {
    move(std::uint64_t{});
  } else if (n >= 4) {
    move(std::uint32_t{});
  } else if (n >= 2) {
    move(std::uint16_t{});
  } else if (n == 1) {
    *out = *from;
  }
  return out + n;
}

}  // namespace dialmend
