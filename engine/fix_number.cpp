#include "engine/fix_number.h"

#include <cstdint>
#include <memory>

#include "engine/byte_words.h"
#include "engine/number_parts.h"
#include "platform/utf8.h"

namespace dialmend {

template <class C>
bool IsDigit(C c) {
  return c >= C('0') && c <= C('9');
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
bool HasDigit(View<C> t) {
  for (C c : t) {
    if (IsDigit(c)) return true;
  }
  return false;
}

template <class C>
View<C> From(View<C> t, std::size_t from) {
  return from < t.size() ? t.substr(from) : View<C>{};
}

template <class C>
View<C> TrimSpaces(View<C> t) {
  // Nearly every text has no space at either end: one test for both.
  if (t.empty() || ((t.front() != C(' ')) & (t.back() != C(' ')))) return t;
  while (!t.empty() && t.front() == C(' ')) t.remove_prefix(1);
  while (!t.empty() && t.back() == C(' ')) t.remove_suffix(1);
  return t;
}

template <class C>
C* Scratch<C>::Take(std::size_t size) {
  if (size <= kFixed - m_used) {
    C* room = m_fixed + m_used;
    m_used += size;
    return room;
  }
  return TakeBlock(size);
}

// Out of line, so the common case above is small enough to inline.
template <class C>
C* Scratch<C>::TakeBlock(std::size_t size) {
  return m_blocks.emplace_back(std::make_unique_for_overwrite<C[]>(size)).get();
}

template class Scratch<char>;
template class Scratch<char32_t>;
template bool IsDigit(char);
template bool IsDigit(char32_t);
template bool IsSeparator(char);
template bool IsSeparator(char32_t);
template bool HasDigit(View<char>);
template bool HasDigit(View<char32_t>);
template View<char> From(View<char>, std::size_t);
template View<char32_t> From(View<char32_t>, std::size_t);
template View<char> TrimSpaces(View<char>);
template View<char32_t> TrimSpaces(View<char32_t>);

namespace {

// Converts `number`, of which `cleaned` is the cleaned text; `replaced` tells whether the
// custom replacement changed it.
// The steps live in their own files by concern; with link-time optimisation they are inlined
// into one function here, as the converter was before it was split.
template <class C>
[[gnu::flatten]] std::string Convert(View<C> number, View<C> cleaned, bool replaced,
                                     const NumberOptions& options, Scratch<C>& scratch) {
  // With "old codes only" a number is written anew only when an old code or the custom
  // replacement changed it; otherwise it comes back as given.
  const bool keep = options.old_codes_only && !replaced;
  Parts<C> parts;
  View<C> as_found;
  switch (ReadNumber(cleaned, parts, as_found, scratch)) {
    case Reading::NoNumber:
      return Verbatim(keep ? number : as_found);
    case Reading::NoDigitAfter:
      return Verbatim(number);
    case Reading::NoLocal:
      return keep ? Verbatim(number) : LabelAndAsFound(parts, as_found);
    case Reading::Found:
      break;
  }
  if (!ChangeCode(parts, scratch) && keep) return Verbatim(number);
  if (!ApplyPrefixOption(parts, scratch, options)) return Verbatim(number);
  ApplyZeroOption(parts, options);
  return Write(parts, options);
}

}  // namespace

[[gnu::flatten]] std::string FixNumber(std::string_view number, const NumberOptions& options) {
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
