#include "engine/fix_number.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>
#include <vector>

#include "engine/byte_words.h"
#include "engine/code_table.h"
#include "platform/utf8.h"

namespace dialmend {
namespace {

// The converter runs on bytes for ASCII input (nearly every number) and on code points
// otherwise, so a position always means one character.
template <class C>
using View = std::basic_string_view<C>;

template <class C>
bool IsDigit(C c) {
  return c >= C('0') && c <= C('9');
}
template <class C>
bool IsNonDigit(C c) {
  return !IsDigit(c);
}
template <class C>
bool IsSeparator(C c) {
  // One bit test for the six: from the space on, all lie within 64 characters.
  constexpr std::uint64_t kSeparators = 1ULL << (' ' - ' ') | 1ULL << ('(' - ' ') |
                                        1ULL << (')' - ' ') | 1ULL << ('-' - ' ') |
                                        1ULL << ('.' - ' ') | 1ULL << ('_' - ' ');
  const auto offset = static_cast<std::uint32_t>(c) - std::uint32_t{' '};
  return offset < 64 && (kSeparators >> offset & 1) != 0;
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
template <auto in_class, bool kShort = false, class C>
inline std::size_t Scan(View<C> t, std::size_t k) {
  constexpr bool kDigits = in_class == IsDigit<C>;
  if constexpr (std::is_same_v<C, char> && !kShort && (kDigits || in_class == IsNonDigit<C>)) {
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

template <class C>
bool HasDigit(View<C> t) {
  for (C c : t) {
    if (IsDigit(c)) return true;
  }
  return false;
}

// Characters [from, to), clamped to the text.
template <class C>
inline View<C> Between(View<C> t, std::size_t from, std::size_t to) {
  to = std::min(to, t.size());
  return from < to ? t.substr(from, to - from) : View<C>{};
}

template <class C>
inline View<C> From(View<C> t, std::size_t from) {
  return from < t.size() ? t.substr(from) : View<C>{};
}

template <class C>
inline View<C> TrimSpaces(View<C> t) {
  // Nearly every text has no space at either end: one test for both.
  if (t.empty() || ((t.front() != C(' ')) & (t.back() != C(' ')))) return t;
  while (!t.empty() && t.front() == C(' ')) t.remove_prefix(1);
  while (!t.empty() && t.back() == C(' ')) t.remove_suffix(1);
  return t;
}

template <class C>
bool HasTwoSpacesInARow(View<C> t) {
  for (std::size_t k = 1; k < t.size(); ++k) {
    if (t[k] == C(' ') && t[k - 1] == C(' ')) return true;
  }
  return false;
}

template <class C>
bool HasDotOrTilde(View<C> t) {
  for (C c : t) {
    if (c == C('.') || c == C('~')) return true;
  }
  return false;
}

template <>
bool HasDotOrTilde(View<char> t) {
  return HasFullStopOrTilde(t);
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
bool IsUkCountry(View<C> country) {
  return country.size() == 2 && ((country[0] == C('4')) & (country[1] == C('4')));
}

// Room for the texts the steps build. A number as people type it fits in the fixed part, so
// the steps allocate nothing; a longer text takes a block of its own. Nothing moves, so the
// views into it stay valid for the whole call.
template <class C>
class Scratch {
 public:
  // Room for `size` characters. Always inline: as a call it costs more than its work.
  [[gnu::always_inline]] C* Take(std::size_t size) {
    if (size <= kFixed - m_used) {
      C* room = m_fixed + m_used;
      m_used += size;
      return room;
    }
    return TakeBlock(size);
  }

 private:
  // Out of line, so the common case above is small enough to inline.
  C* TakeBlock(std::size_t size) {
    return m_blocks.emplace_back(std::make_unique_for_overwrite<C[]>(size)).get();
  }

  static constexpr std::size_t kFixed = 256;
  C m_fixed[kFixed];
  std::size_t m_used = 0;
  std::vector<std::unique_ptr<C[]>> m_blocks;
};

// Holds the result as UTF-8 while it is written and makes the string once, at its final
// length, so the result is the only allocation and only when it is too long for the string's
// own buffer. The writers below take and return the end as a plain pointer, which the compiler
// keeps in a register: stored in this object, every byte written could be the pointer itself.
template <class C>
class Output {
 public:
  // Room for `most` characters.
  explicit Output(std::size_t most) {
    if (most > kFixed / kMostBytes) {
      m_long.resize(most * kMostBytes);
      m_begin = m_long.data();
    }
  }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  // Where writing starts.
  char* Begin() { return m_begin; }

  // The text from Begin() to `end`. Always inline: as a call it costs as much as the copy.
  [[gnu::always_inline]] std::string Take(const char* end) {
    const auto size = static_cast<std::size_t>(end - m_begin);
    if (m_long.empty()) return std::string(m_begin, size);
    m_long.resize(size);
    return std::move(m_long);
  }

 private:
  static constexpr std::size_t kMostBytes = sizeof(C) == 1 ? 1 : 4;  // per code point in UTF-8
  static constexpr std::size_t kFixed = 256;
  char m_fixed[kFixed];
  std::string m_long;
  char* m_begin = m_fixed;
};

template <class C>
char* Put(char* end, C c) {
  if constexpr (sizeof(C) == 1) {
    *end++ = c;
    return end;
  } else {
    if (c < 0x80) {
      *end++ = static_cast<char>(c);
      return end;
    }
    return EncodeUtf8(c, end);
  }
}

template <class C>
char* Put(char* end, View<C> v) {
  if constexpr (sizeof(C) == 1) {
    return CopyBytes(end, v.data(), v.size());
  } else {
    for (C c : v) end = Put(end, c);
    return end;
  }
}

template <class C>
char* PutWithoutSpaces(char* end, View<C> v) {
  for (C c : v) {
    if (c != C(' ')) end = Put(end, c);
  }
  return end;
}

// Rebuilds the local part on the new code's pattern: each "X" takes the next digit.
template <class C>
View<C> FillPattern(const CodeChange& row, View<C> local, Scratch<C>& scratch) {
  View<C> from = local;
  if (row.lead_digit != '\0' && local.size() == 5) {
    C* const led = scratch.Take(local.size() + 1);
    led[0] = C(row.lead_digit);
    std::copy(local.begin(), local.end(), led + 1);
    from = View<C>(led, local.size() + 1);
  }
  const std::size_t length = from.size();
  const std::size_t pattern_length = row.pattern.size();
  C* const out = scratch.Take(pattern_length + 1 + local.size());
  if constexpr (sizeof(C) == 1) {
    CopyBytes(out, row.pattern.data(), pattern_length);
  } else {
    std::copy(row.pattern.begin(), row.pattern.end(), out);
  }
  std::size_t size = pattern_length;
  std::size_t j = 0;  // local characters used
  // Every pattern ends in a placeholder, so each one is filled until the local part runs out.
  for (std::size_t i = 0; i < pattern_length; ++i) {
    if (out[i] != C('X')) continue;
    // With no digit left this lands on the last character, which is used whatever it is.
    while (j + 1 < length && !IsDigit(from[j])) ++j;
    out[i] = from[j++];
    if (j >= length) break;
  }
  if (j < length) {
    out[size++] = C(' ');
    const View<C> rest = TrimSpaces(From(from, j));
    std::copy(rest.begin(), rest.end(), out + size);
    size += rest.size();
  }
  if (size >= 2 && out[size - 2] == C(' ') && out[size - 1] == C(')')) size -= 2;
  return View<C>(out, size);
}

// What the converter has read of a number so far; the views point into the number, into
// Scratch or into constants. Kept small: made for every number, it is zeroed by a few stores
// where a larger one takes a slow block fill.
template <class C>
struct Parts {
  View<C> label;
  View<C> country;
  View<C> area;
  View<C> local;
  bool has_label = false;
  bool has_prefix = false;
  bool uk_prefix = false;
  bool zero_added = false;
  bool zero_before_area = false;  // a "0" stands in front of `area`
};

// How the text after the prefix splits into area code and local number.
enum class AreaSplit { Found, NoDigitAfter, NoLocal };

template <class C>
std::string Verbatim(View<C> text) {
  Output<C> out(text.size());
  return out.Take(Put(out.Begin(), text));
}

// Trims, collapses runs of spaces and applies the find-and-replace option; `replaced` tells
// whether the replacement changed the text.
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
AreaSplit SplitArea(View<C> t, Parts<C>& parts) {
  if constexpr (std::is_same_v<C, char>) {
    std::size_t area_start, area_end, local_start;
    if (SplitInFirstWord(t, area_start, area_end, local_start)) {
      parts.area = t.substr(area_start, area_end - area_start);
      parts.local = t.substr(local_start);
      return AreaSplit::Found;
    }
  }
  const std::size_t area_start = Scan<IsNonDigit<C>>(t, 0);
  const std::size_t area_end = Scan<IsDigit<C>>(t, area_start);
  parts.area = Between(t, area_start, area_end);
  if (parts.area.empty() || area_end + 1 >= t.size()) return AreaSplit::NoLocal;
  // The scan stops on the first digit, or on the last character when there is none.
  const View<C> rest = t.substr(area_end);
  const std::size_t local_start = Scan<IsNonDigit<C>>(rest, 0);
  // Text after the area code with no digit in it would be cut down to its last character
  // ('Ext. 4410 from any desk phone' to 'Ext. (4410) e'), so such a number is left untouched.
  if (!IsDigit(rest[local_start])) return AreaSplit::NoDigitAfter;
  parts.local = rest.substr(local_start);
  return AreaSplit::Found;
}

// `as_found` is the number after its label, as the output shows it when nothing applies.
template <class C>
std::string LabelAndAsFound(const Parts<C>& parts, View<C> as_found) {
  Output<C> out(parts.label.size() + as_found.size() + 1);
  char* end = out.Begin();
  if (parts.has_label) {
    end = Put(end, parts.label);
    end = Put(end, C(' '));
  }
  end = Put(end, as_found);
  return out.Take(end);
}

// The row for the code `area`, with a "0" put first when `zero_first`.
template <class C>
const CodeChange* FindRow(View<C> area, bool zero_first) {
  if constexpr (std::is_same_v<C, char>) {
    // An ASCII code written with its zero is looked up where it stands.
    if (!zero_first) return FindCodeChange(area);
  }
  std::array<char, 6> digits;
  std::size_t n = 0;
  if (zero_first) digits[n++] = '0';
  if (area.size() + n > digits.size()) return nullptr;
  for (C c : area) digits[n++] = static_cast<char>(c);  // digits only: no code point is cut
  return FindCodeChange(std::string_view(digits.data(), n));
}

// `text` in the converter's characters.
template <class C>
View<C> Widen(std::string_view text, Scratch<C>& scratch) {
  if constexpr (std::is_same_v<C, char>) {
    return text;
  } else {
    C* const wide = scratch.Take(text.size());
    std::copy(text.begin(), text.end(), wide);
    return View<C>(wide, text.size());
  }
}

// "+44 (0)171 930 8890": the digit run after the trunk zero is the code. A changed code keeps
// that form, the new code without its zero leading the new local part ("20 7930 8890").
template <class C>
bool ChangeTrunkCode(Parts<C>& parts, Scratch<C>& scratch) {
  const View<C> local = parts.local;
  std::size_t run = 0;
  while (run < local.size() && IsDigit(local[run])) ++run;
  std::size_t next = run;
  while (next < local.size() && !IsDigit(local[next])) ++next;
  if (next == local.size()) return false;
  const CodeChange* row = FindRow(local.substr(0, run), true);
  if (row == nullptr || row->new_code == row->old_code) return false;
  const View<C> filled = FillPattern(*row, local.substr(next), scratch);
  const View<C> code = Widen(row->new_code.substr(1), scratch);
  C* const joined = scratch.Take(code.size() + 1 + filled.size());
  C* end = std::copy(code.begin(), code.end(), joined);
  *end++ = C(' ');
  end = std::copy(filled.begin(), filled.end(), end);
  parts.local = View<C>(joined, static_cast<std::size_t>(end - joined));
  return true;
}

// Code change, for UK numbers only. True when an old code was replaced by a different one.
template <class C>
bool ChangeCode(Parts<C>& parts, Scratch<C>& scratch) {
  // The country is empty without a prefix.
  parts.uk_prefix = IsUkCountry(parts.country);
  if (parts.has_prefix && !parts.uk_prefix) return false;
  if (parts.uk_prefix && parts.area.size() == 1) {
    parts.zero_before_area = parts.zero_added = true;
    return parts.area[0] == C('0') && ChangeTrunkCode(parts, scratch);
  }
  // After +44 a code is mostly written without its zero ('+44 171 930 8890'): it is looked up
  // with it, and a changed code is written back without it, in the form it was found.
  const bool zero_dropped = parts.uk_prefix && parts.area[0] != C('0');
  const CodeChange* row = FindRow(parts.area, zero_dropped);
  if (row == nullptr) return false;
  const bool changed = row->new_code != row->old_code;
  // A code the same before and after only re-spaces a number written with its zero.
  if (zero_dropped && !changed) return false;
  parts.area = Widen(row->new_code.substr(zero_dropped ? 1 : 0), scratch);
  parts.local = FillPattern(*row, parts.local, scratch);
  return changed;
}

// Applies the +44 option; false when the number is not to be guessed at and stays as it is.
template <class C>
bool ApplyPrefixOption(Parts<C>& parts, Scratch<C>& scratch, const NumberOptions& options) {
  static constexpr C kUk[] = {C('4'), C('4')};
  if (options.prefix == PrefixAction::Remove && parts.uk_prefix) {
    parts.has_prefix = parts.uk_prefix = false;
    if (parts.zero_added && parts.area[0] == C('0')) {
      // The "(0)" of "+44 (0)20 ..." is the trunk zero, not a code: kept as one, the result
      // would begin "(00)", an international access code. The code is the zero and the
      // digits after it; a number with no digit left after those is not guessed at.
      const View<C> local = parts.local;
      std::size_t run = 0;
      while (run < local.size() && IsDigit(local[run])) ++run;
      std::size_t next = run;
      while (next < local.size() && IsSeparator(local[next])) ++next;
      const View<C> after = From(local, next);
      if (run == 0 || !HasDigit(after)) return false;
      C* const trunk_code = scratch.Take(run + 1);
      trunk_code[0] = C('0');
      std::copy(local.begin(), local.begin() + run, trunk_code + 1);
      parts.area = View<C>(trunk_code, run + 1);
      parts.local = after;
      parts.zero_before_area = false;
    } else if (!parts.zero_before_area && parts.area.size() >= 2 && parts.area[0] != C('0')) {
      // Without +44 a code written with no zero could not be dialled, so the zero goes back.
      parts.zero_before_area = true;
    }
  } else if (options.prefix == PrefixAction::Add && !parts.has_prefix) {
    parts.has_prefix = parts.uk_prefix = true;
    parts.country = View<C>(kUk, 2);
  }
  return true;
}

template <class C>
void ApplyZeroOption(Parts<C>& parts, const NumberOptions& options) {
  if (!parts.uk_prefix) return;
  const bool starts_with_zero = parts.zero_before_area || parts.area[0] == C('0');
  // Option 2 never adds a second zero: it removes one that the converter put there itself.
  const bool drop = options.leading_zero == LeadingZero::Remove
                        ? starts_with_zero
                        : options.leading_zero != LeadingZero::Untouched && parts.zero_added;
  if (!drop) return;
  if (parts.zero_before_area) {
    parts.zero_before_area = false;
  } else {
    parts.area.remove_prefix(1);
  }
}

template <class C>
std::string Write(const Parts<C>& parts, const NumberOptions& options) {
  const bool compact = options.style == NumberStyle::Compact;
  // At most eight more than the parts: the label's space, "+", the country's space, the zero
  // and "() ". Only a long text needs the room counted.
  const std::size_t written = parts.label.size() + parts.country.size() + parts.area.size();
  Output<C> out(written + parts.local.size() + 8);
  char* end = out.Begin();
  if (parts.has_label) {
    end = Put(end, parts.label);
    end = Put(end, C(' '));
  }
  if (parts.has_prefix) {
    end = Put(end, C('+'));
    if (compact) {
      end = PutWithoutSpaces(end, parts.country);
    } else {
      end = Put(end, parts.country);
      end = Put(end, C(' '));
    }
  }
  if (options.style == NumberStyle::Brackets) end = Put(end, C('('));
  if (parts.zero_before_area) end = Put(end, C('0'));
  end = Put(end, parts.area);
  switch (options.style) {
    case NumberStyle::Brackets:
      end = Put(end, C(')'));
      end = Put(end, C(' '));
      break;
    case NumberStyle::Hyphen:
      end = Put(end, C('-'));
      break;
    case NumberStyle::Spaces:
      end = Put(end, C(' '));
      break;
    case NumberStyle::Compact:
    case NumberStyle::Unchanged:
      break;
  }
  // A full stop or tilde between two digits reads as a space.
  const View<C> local = parts.local;
  if (!compact && !HasDotOrTilde(local)) return out.Take(Put(end, local));
  for (std::size_t k = 0; k < local.size(); ++k) {
    C c = local[k];
    if ((c == C('.') || c == C('~')) && k > 0 && k + 1 < local.size() && IsDigit(local[k - 1]) &&
        IsDigit(local[k + 1])) {
      c = C(' ');
    }
    if (c != C(' ') || !compact) end = Put(end, c);
  }
  return out.Take(end);
}

// Converts `number`, of which `cleaned` is the cleaned text; `replaced` tells whether the
// custom replacement changed it.
template <class C>
std::string Convert(View<C> number, View<C> cleaned, bool replaced, const NumberOptions& options,
                    Scratch<C>& scratch) {
  // With "old codes only" a number is written anew only when an old code or the custom
  // replacement changed it; otherwise it comes back as given.
  const bool keep = options.old_codes_only && !replaced;
  // A text with no digit is no number: adding or dropping anything would only make a change.
  std::size_t first_digit = FirstDigit(cleaned);
  if (first_digit == cleaned.size()) return Verbatim(keep ? number : cleaned);
  View<C> t = StripOuterBrackets(cleaned);
  if (t.size() < cleaned.size()) --first_digit;
  if (t[0] == C('*') || t[0] == C('#')) return Verbatim(keep ? number : t);
  Parts<C> parts;
  // The repair drops a bracket after the first digit, which stays where it is.
  t = RepairAccessCode(t, scratch);
  t = TakeLabel(t, first_digit, parts);
  t = AccessCodeAsPlus(t, scratch);
  t = BareAccessCodeAsPlus(t, scratch);
  const View<C> as_found = t;
  t = TakePrefix(t, parts);
  switch (SplitArea(t, parts)) {
    case AreaSplit::NoDigitAfter:
      return Verbatim(number);
    case AreaSplit::NoLocal:
      return keep ? Verbatim(number) : LabelAndAsFound(parts, as_found);
    case AreaSplit::Found:
      break;
  }
  if (!ChangeCode(parts, scratch) && keep) return Verbatim(number);
  if (!ApplyPrefixOption(parts, scratch, options)) return Verbatim(number);
  ApplyZeroOption(parts, options);
  return Write(parts, options);
}

// Decodes UTF-8 into code points kept in `scratch`; false when the text is not well-formed.
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

// True when every non-ASCII character of the cleaned text stands before its first digit, as in
// "Tél. 0171 930 8890". That text only ever goes whole into the label and the rest is ASCII,
// so reading its bytes as characters gives the same result as decoding it.
bool ReadsAsBytes(std::string_view cleaned) {
  return IsAscii(cleaned.substr(FirstDigit(cleaned)));
}

}  // namespace

std::string FixNumber(std::string_view number, const NumberOptions& options) {
  if (number.empty()) return {};
  if (options.style == NumberStyle::Unchanged) return std::string(number);
  const bool replace_on = options.replace && !options.find.empty() && IsValidUtf8(options.find) &&
                          IsValidUtf8(options.replacement);
  // Cleaning gives the same text on bytes as on code points: spaces are ASCII, and a search
  // text of well-formed UTF-8 matches only where its characters stand.
  const ByteFacts facts = ReadBytes(number);
  const bool ascii = facts.ascii && (!replace_on || IsAscii(options.replacement));
  if (ascii || IsValidUtf8(number)) {
    Scratch<char> scratch;
    bool replaced = false;
    const std::string_view cleaned = Clean<char>(
        number, facts.two_spaces, options.find, options.replacement, replace_on, scratch, replaced);
    if (ascii || ReadsAsBytes(cleaned)) {
      return Convert<char>(number, cleaned, replaced, options, scratch);
    }
  }
  Scratch<char32_t> scratch;
  std::u32string_view text, find, replacement;
  if (!Decode(number, scratch, text)) return std::string(number);
  if (replace_on &&
      !(Decode(options.find, scratch, find) && Decode(options.replacement, scratch, replacement))) {
    return std::string(number);
  }
  bool replaced = false;
  const std::u32string_view cleaned =
      Clean<char32_t>(text, true, find, replacement, replace_on, scratch, replaced);
  return Convert<char32_t>(text, cleaned, replaced, options, scratch);
}

std::string StripSpace(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != ' ') out.push_back(c);
  }
  return out;
}

}  // namespace dialmend
