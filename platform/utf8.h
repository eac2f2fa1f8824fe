#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace dialmend {

// True when every byte is below 0x80.
[[nodiscard]] bool IsAscii(std::string_view text) noexcept;

// True for well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
[[nodiscard]] bool IsValidUtf8(std::string_view text) noexcept;

// Decodes well-formed UTF-8 into code points; returns false, leaving `out` unspecified,
// when the text is not well-formed.
[[nodiscard]] bool DecodeUtf8(std::string_view text, std::u32string& out);

// Decodes the well-formed UTF-8 sequence at text[i] into `code_point` and moves `i` past it;
// returns false, leaving `i`, when none starts there. The one UTF-8 decoder of the program.
[[nodiscard]] bool DecodeUtf8At(std::string_view text, std::size_t& i,
                                char32_t& code_point) noexcept;

// The length of the well-formed UTF-8 sequence at text[i], or 0 when none starts there.
[[nodiscard]] std::size_t Utf8Length(std::string_view text, std::size_t i) noexcept;

// The lower-case form of an ASCII letter; every other byte as it is.
[[nodiscard]] inline char AsciiLower(char c) noexcept {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// `text` with its ASCII letters in lower case.
[[nodiscard]] std::string AsciiLower(std::string_view text);

// `text` without the characters of `blanks` at either end.
[[nodiscard]] constexpr std::string_view Trimmed(std::string_view text,
                                                 std::string_view blanks = " \t\r\n") noexcept {
  const std::size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// The value of a hexadecimal digit of either case; -1 for any other byte.
[[nodiscard]] constexpr int HexDigitValue(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The code point that a UTF-16 high surrogate and the low surrogate after it stand for.
[[nodiscard]] constexpr char32_t FromSurrogates(char32_t high, char32_t low) noexcept {
  return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

// Writes the UTF-8 form of one code point taken from well-formed text at `out`, which has room
// for four bytes; returns the end of what it wrote.
char* EncodeUtf8(char32_t code_point, char* out) noexcept;

// Appends the UTF-8 form of one code point taken from well-formed text.
void AppendUtf8(std::string& out, char32_t code_point);

}  // namespace dialmend
