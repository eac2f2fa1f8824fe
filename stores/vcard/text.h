#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/utf8.h"

// Text helpers the vCard reader and writer share: ASCII case, UTF-8 checks, and quoting file
// content in messages. Internal to the vcard library.

namespace dialmend {

// True when `a` and `b`, of equal length, hold the same letters in any case.
inline bool SameLettersIgnoringCase(std::string_view a, std::string_view b) {
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// The length test stays small enough to inline, so most mismatches cost one comparison.
inline bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && SameLettersIgnoringCase(a, b);
}

inline bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

// ASCII order ignoring case, for sorting group names.
bool LessIgnoreCase(std::string_view a, std::string_view b);

// `text` without its leading and trailing spaces and tabs.
std::string_view TrimBlanks(std::string_view text);

// True when the whole text is well-formed UTF-8.
bool IsUtf8(std::string_view text);

// Text fit to quote in an error message, whatever bytes the file holds.
std::string Printable(std::string_view text);

// One character for an error message: itself when printable, else its code point.
std::string DescribeCharacter(std::string_view sequence);

// The first control character (C0, DEL or C1) of UTF-8 text, or empty text when it has none.
std::string_view FirstControl(std::string_view text);

}  // namespace dialmend
