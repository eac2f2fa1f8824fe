#include "engine/number_parts.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "engine/byte_words.h"
#include "platform/utf8.h"

namespace dialmend {
namespace {

template <class C>
bool IsNonDigit(C c) {
  return !IsDigit(c);
}
template <class C>
bool IsLabelEnd(C c) {
  return c == C('+') || c == C('(') || c == C(' ');
}

// The small helpers below are declared inline: the converter is one large function after
// inlining, and GCC then leaves unmarked helpers as calls.

// Moves `k` forward while the character there is in the class, but never onto or past the
// end: the scan stops on the last character even when it is in the class.
// The class is a template argument so that the test compiles inline in the loop. A run known
// to be short (`kShort`) is read a character at a time.
// Which class was passed is told by matching template arguments: comparing the functions'
// addresses is not a constant expression in every build (GCC at -O0 with sanitizers refuses it).
template <auto f, auto g>
inline constexpr bool kSameClass = false;
template <auto f>
inline constexpr bool kSameClass<f, f> = true;

template <auto in_class, bool kShort = false, class C>
inline std::size_t Scan(View<C> t, std::size_t k) {
  constexpr bool kDigits = kSameClass<in_class, IsDigit<C>>;
  if constexpr (std::is_same_v<C, char> && !kShort &&
                (kDigits || kSameClass<in_class, IsNonDigit<C>>)) {
    // A run of digits, or of anything else, is measured a word at a time.
    if (k + 1 >= t.size()) return k;
    const View<C> rest = t.substr(k);
    const std::size_t run = kDigits ? FindFirstNonDigit(rest) : FindFirstDigit(rest);
    return std::min(k + run, t.size() - 1);
  } else {
    while (k + 1 < t.size() && in_class(t[k])) ++k;
    return k;
  }
}

// The position of the first digit of `t`, or its length when it has none.
template <class C>
inline std::size_t FirstDigit(View<C> t) {
  if constexpr (sizeof(C) == 1) {
    return FindFirstDigit(t);
  } else {
    std::size_t k = 0;
    while (k < t.size() && !IsDigit(t[k])) ++k;
    return k;
  }
}

// Characters [from, to), clamped to the text.
template <class C>
inline View<C> Between(View<C> t, std::size_t from, std::size_t to) {
  to = std::min(to, t.size());
  return from < to ? t.substr(from, to - from) : View<C>{};
}

template <class C>
bool HasTwoSpacesInARow(View<C> t) {
  for (std::size_t k = 1; k < t.size(); ++k) {
    if (t[k] == C(' ') && t[k - 1] == C(' ')) return true;
  }
  return false;
}

template <class C>
inline View<C> StripOuterBrackets(View<C> t) {
  // One branch on both ends: which numbers are bracketed follows no pattern.
  if (t.size() >= 2 && ((t.front() == C('(')) & (t.back() == C(')')))) {
    return t.substr(1, t.size() - 2);
  }
  return t;
}

// The length is known when compiling, so bytes compare as one word: whether a number begins
// with a bracket follows no pattern, but one that begins with "(00" is rare.
template <class C, std::size_t N>
inline bool StartsWithAscii(View<C> t, const char (&ascii)[N]) {
  constexpr std::size_t kLength = N - 1;
  if (t.size() < kLength) return false;
  if constexpr (sizeof(C) == 1) {
    return std::memcmp(t.data(), ascii, kLength) == 0;
  } else {
    for (std::size_t i = 0; i < kLength; ++i) {
      if (t[i] != C(ascii[i])) return false;
    }
    return true;
  }
}

template <class C>
View<C> RepairAccessCode(View<C> t, Scratch<C>& scratch) {
  if (!StartsWithAscii(t, "(00)")) return t;
  C* const repaired = scratch.Take(t.size() - 1);
  std::copy(t.begin(), t.begin() + 3, repaired);
  std::copy(t.begin() + 4, t.end(), repaired + 3);
  return View<C>(repaired, t.size() - 1);
}
// The label is whatever stands before the first digit, less one label-end character.
template <class C>
View<C> TakeLabel(View<C> t, std::size_t first_digit, Parts<C>& parts) {
  std::size_t count = first_digit;
  if (count > 0 && IsLabelEnd(t[count - 1])) --count;
  parts.has_label = count > 0;
  if (!parts.has_label) return t;
  parts.label = TrimSpaces(t.substr(0, count));
  return t.substr(count);
}

template <class C>
View<C> AccessCodeAsPlus(View<C> t, Scratch<C>& scratch) {
  if (!StartsWithAscii(t, "(00")) return t;
  const std::size_t p = Scan<IsSeparator<C>>(t, 3);
  const std::size_t q = Scan<IsDigit<C>, true>(t, p + 1);
  const std::size_t r = Scan<IsSeparator<C>>(t, q + 1);
  const View<C> country = Between(t, p, q);
  const View<C> rest = From(t, r);
  C* const rewritten = scratch.Take(country.size() + rest.size() + 3);
  C* end = rewritten;
  *end++ = C('+');
  end = std::copy(country.begin(), country.end(), end);
  *end++ = C(' ');
  *end++ = C('(');
  end = std::copy(rest.begin(), rest.end(), end);
  return View<C>(rewritten, static_cast<std::size_t>(end - rewritten));
}

// "00" dialled before a country code, unbracketed and past any separators, is read as "+":
// '0044 20 7123 4567' as '+44 20 7123 4567'. "00" with no digit after it stays as it is.
template <class C>
View<C> BareAccessCodeAsPlus(View<C> t, Scratch<C>& scratch) {
  // Nearly every number starts with a digit here; only "00" needs the closer look.
  if (t.size() < 3 || (IsDigit(t[0]) & ((t[0] != C('0')) | (t[1] != C('0'))))) return t;
  std::size_t k = 0;
  while (k < t.size() && IsSeparator(t[k])) ++k;
  if (t.size() < k + 3 || t[k] != C('0') || t[k + 1] != C('0')) return t;
  std::size_t m = k + 2;
  while (m < t.size() && IsSeparator(t[m])) ++m;
  if (m == t.size() || !IsDigit(t[m])) return t;
  const View<C> rest = t.substr(m);
  C* const plus = scratch.Take(rest.size() + 1);
  plus[0] = C('+');
  std::copy(rest.begin(), rest.end(), plus + 1);
  return View<C>(plus, rest.size() + 1);
}

template <class C>
View<C> TakePrefix(View<C> t, Parts<C>& parts) {
  if (!t.empty() && t[0] == C('+')) {
    const std::size_t p = Scan<IsSeparator<C>>(t, 1);
    // A country code has one to three digits.
    const std::size_t q = Scan<IsDigit<C>, true>(t, p + 1);
    const std::size_t r = Scan<IsSeparator<C>>(t, q + 1);
    parts.has_prefix = true;
    parts.country = Between(t, p, q);
    t = From(t, r);
  }
  return StripOuterBrackets(t);
}

// Where the area code starts and ends and the local part starts, when all three stand in the
// first eight bytes of `t`, as in nearly every number: one look at those bytes then replaces
// three scans. False when any of them lies further on.
inline bool SplitInFirstWord(View<char> t, std::size_t& area_start, std::size_t& area_end,
                             std::size_t& local_start) {
  if (std::endian::native != std::endian::little || t.size() < 8) return false;
  constexpr std::uint64_t kHigh = 0x8080808080808080ULL;
  const std::uint64_t digits = DigitBits(t.data());
  const auto at = [](std::uint64_t bits) { return std::countr_zero(bits) / 8u; };
  if (digits == 0) return false;
  area_start = at(digits);
  // Shifted, the top bits mark the bytes from a position on.
  const std::uint64_t non_digits = ~digits & (kHigh << (8 * area_start));
  if (non_digits == 0) return false;
  area_end = at(non_digits);
  const std::uint64_t later_digits = digits & (kHigh << (8 * area_end));
  if (later_digits == 0) return false;
  local_start = at(later_digits);
  return true;
}

template <class C>
Reading SplitArea(View<C> t, Parts<C>& parts) {
  if constexpr (std::is_same_v<C, char>) {
    std::size_t area_start, area_end, local_start;
    if (SplitInFirstWord(t, area_start, area_end, local_start)) {
      parts.area = t.substr(area_start, area_end - area_start);
      parts.local = t.substr(local_start);
      return Reading::Found;
    }
  }
  const std::size_t area_start = Scan<IsNonDigit<C>>(t, 0);
  const std::size_t area_end = Scan<IsDigit<C>>(t, area_start);
  parts.area = Between(t, area_start, area_end);
  if (parts.area.empty() || area_end + 1 >= t.size()) return Reading::NoLocal;
  // The scan stops on the first digit, or on the last character when there is none.
  const View<C> rest = t.substr(area_end);
  const std::size_t local_start = Scan<IsNonDigit<C>>(rest, 0);
  // Text after the area code with no digit in it would be cut down to its last character
  // ('Ext. 4410 from any desk phone' to 'Ext. (4410) e'), so such a number is left untouched.
  if (!IsDigit(rest[local_start])) return Reading::NoDigitAfter;
  parts.local = rest.substr(local_start);
  return Reading::Found;
}

}  // namespace

template <class C>
View<C> Clean(View<C> number, bool two_spaces, View<C> find, View<C> replacement, bool replace_on,
              Scratch<C>& scratch, bool& replaced) {
  View<C> t = TrimSpaces(number);
  if (two_spaces && HasTwoSpacesInARow(t)) {
    C* const collapsed = scratch.Take(t.size());
    std::size_t size = 0;
    for (C c : t) {
      if (c != C(' ') || size == 0 || collapsed[size - 1] != C(' ')) collapsed[size++] = c;
    }
    t = View<C>(collapsed, size);
  }

  // Only a text that starts with the search string is touched, but then every occurrence is.
  if (replace_on && t.substr(0, find.size()) == find) {
    std::size_t hits = 0;
    for (std::size_t hit = 0; (hit = t.find(find, hit)) != View<C>::npos; hit += find.size()) {
      ++hits;
    }
    C* const out = scratch.Take(t.size() - hits * find.size() + hits * replacement.size());
    C* end = out;
    std::size_t from = 0;
    for (std::size_t hit; (hit = t.find(find, from)) != View<C>::npos; from = hit + find.size()) {
      end = std::copy(t.begin() + from, t.begin() + hit, end);
      end = std::copy(replacement.begin(), replacement.end(), end);
    }
    end = std::copy(t.begin() + from, t.end(), end);
    t = View<C>(out, static_cast<std::size_t>(end - out));
    // The first hit stands at the start, so a different replacement always changes the text.
    replaced = hits > 0 && find != replacement;
  }
  return t;
}

template <class C>
Reading ReadNumber(View<C> cleaned, Parts<C>& parts, View<C>& as_found, Scratch<C>& scratch) {
  // A text with no digit is no number: adding or dropping anything would only make a change.
  std::size_t first_digit = FirstDigit(cleaned);
  as_found = cleaned;
  if (first_digit == cleaned.size()) return Reading::NoNumber;
  View<C> t = StripOuterBrackets(cleaned);
  if (t.size() < cleaned.size()) --first_digit;
  as_found = t;
  if (t[0] == C('*') || t[0] == C('#')) return Reading::NoNumber;
  // The repair drops a bracket after the first digit, which stays where it is.
  t = RepairAccessCode(t, scratch);
  t = TakeLabel(t, first_digit, parts);
  t = AccessCodeAsPlus(t, scratch);
  t = BareAccessCodeAsPlus(t, scratch);
  as_found = t;
  t = TakePrefix(t, parts);
  return SplitArea(t, parts);
}

bool Decode(std::string_view text, Scratch<char32_t>& scratch, std::u32string_view& out) {
  char32_t* const decoded = scratch.Take(text.size());
  std::size_t size = 0;
  for (std::size_t i = 0; i < text.size();) {
    // Most characters of a number with a non-ASCII label are still ASCII.
    if (const auto byte = static_cast<unsigned char>(text[i]); byte < 0x80) {
      decoded[size++] = byte;
      ++i;
    } else if (!DecodeUtf8At(text, i, decoded[size++])) {
      return false;
    }
  }
  out = std::u32string_view(decoded, size);
  return true;
}

bool ReadsAsBytes(std::string_view cleaned) {
  return IsAscii(cleaned.substr(FirstDigit(cleaned)));
}

template View<char> Clean(View<char>, bool, View<char>, View<char>, bool, Scratch<char>&, bool&);
template View<char32_t> Clean(View<char32_t>, bool, View<char32_t>, View<char32_t>, bool,
                              Scratch<char32_t>&, bool&);
template Reading ReadNumber(View<char>, Parts<char>&, View<char>&, Scratch<char>&);
template Reading ReadNumber(View<char32_t>, Parts<char32_t>&, View<char32_t>&, Scratch<char32_t>&);

}  // namespace dialmend
