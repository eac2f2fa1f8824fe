#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/number_options.h"

// The converter's own pieces, shared by its files and by nothing else. Each piece is a template
// over the character: bytes for ASCII input (nearly every number), code points otherwise, so a
// position always means one character. The bodies are instantiated for char and char32_t.

namespace dialmend {

template <class C>
using View = std::basic_string_view<C>;

// True for the ASCII digits only.
template <class C>
[[nodiscard]] bool IsDigit(C c);
// One of the six characters that stand between the parts of a number: " ()-._".
template <class C>
[[nodiscard]] bool IsSeparator(C c);
// True when `t` holds an ASCII digit.
template <class C>
[[nodiscard]] bool HasDigit(View<C> t);
// `t` from `from` on; empty when `from` lies past its end.
template <class C>
[[nodiscard]] View<C> From(View<C> t, std::size_t from);
// `t` without the spaces at either end.
template <class C>
[[nodiscard]] View<C> TrimSpaces(View<C> t);

// Room for the texts the converter builds. A number as people type it fits in the fixed part,
// so nothing is allocated; a longer text takes a block of its own. Nothing moves, so the views
// into it stay valid for the whole conversion.
template <class C>
class Scratch {
 public:
  // Room for `size` characters.
  [[nodiscard]] C* Take(std::size_t size);

 private:
  C* TakeBlock(std::size_t size);

  static constexpr std::size_t kFixed = 256;
  C m_fixed[kFixed];
  std::size_t m_used = 0;
  std::vector<std::unique_ptr<C[]>> m_blocks;
};

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

// Reading (number_reading.cpp).

// Trims, collapses runs of spaces (when `two_spaces` says they may occur) and applies the
// find-and-replace option when `replace_on`; `replaced` tells whether the replacement changed
// the text.
template <class C>
[[nodiscard]] View<C> Clean(View<C> number, bool two_spaces, View<C> find, View<C> replacement,
                            bool replace_on, Scratch<C>& scratch, bool& replaced);

// How far reading a cleaned text got.
enum class Reading {
  NoNumber,      // no digit, or a service code: `as_found` is the text to give back
  NoDigitAfter,  // nothing but non-digits after the area code: the number stays as given
  NoLocal,       // no local part: label and `as_found` are the result
  Found,         // every part read
};

// Splits `cleaned` into `parts`; `as_found` is the text after the label (see Reading).
template <class C>
[[nodiscard]] Reading ReadNumber(View<C> cleaned, Parts<C>& parts, View<C>& as_found,
                                 Scratch<C>& scratch);

// Decodes UTF-8 into code points kept in `scratch`; false when the text is not well-formed.
[[nodiscard]] bool Decode(std::string_view text, Scratch<char32_t>& scratch,
                          std::u32string_view& out);

// True when every non-ASCII character of the cleaned text stands before its first digit, as in
// "Tél. 0171 930 8890": that text only ever goes whole into the label and the rest is ASCII,
// so reading its bytes as characters gives the same result as decoding it.
[[nodiscard]] bool ReadsAsBytes(std::string_view cleaned);

// The code change (code_change.cpp), for UK numbers only. True when an old code was replaced
// by a different one.
template <class C>
[[nodiscard]] bool ChangeCode(Parts<C>& parts, Scratch<C>& scratch);

// Writing (number_writing.cpp).

// Applies the +44 option; false when the number is not to be guessed at and stays as it is.
template <class C>
[[nodiscard]] bool ApplyPrefixOption(Parts<C>& parts, Scratch<C>& scratch,
                                     const NumberOptions& options);
// Applies the leading-zero option to a +44 number.
template <class C>
void ApplyZeroOption(Parts<C>& parts, const NumberOptions& options);
// The parts in the chosen style, as UTF-8.
template <class C>
[[nodiscard]] std::string Write(const Parts<C>& parts, const NumberOptions& options);
// The label and `as_found`, for a number with no local part.
template <class C>
[[nodiscard]] std::string LabelAndAsFound(const Parts<C>& parts, View<C> as_found);
// `text` as UTF-8.
template <class C>
[[nodiscard]] std::string Verbatim(View<C> text);

}  // namespace dialmend
