#include "engine/number_parts.h"

#include <algorithm>
#include <array>
#include <type_traits>

#include "engine/byte_words.h"
#include "engine/code_table.h"

namespace dialmend {
namespace {

template <class C>
bool IsUkCountry(View<C> country) {
  return country.size() == 2 && ((country[0] == C('4')) & (country[1] == C('4')));
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

}  // namespace

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

template bool ChangeCode(Parts<char>&, Scratch<char>&);
template bool ChangeCode(Parts<char32_t>&, Scratch<char32_t>&);

}  // namespace dialmend
