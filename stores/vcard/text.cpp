#include "stores/vcard/text.h"

#include <cstddef>
#include <string>
#include <string_view>

#include "engine/utf8.h"

namespace dialmend {
namespace {

// How much of a hostile token an error text quotes.
constexpr std::size_t kQuoteLimit = 24;

}  // namespace

bool LessIgnoreCase(std::string_view a, std::string_view b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const char x = AsciiLower(a[i]);
    const char y = AsciiLower(b[i]);
    if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
  }
  return a.size() < b.size();
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::size_t Utf8Length(std::string_view text, std::size_t i) {
  const auto b0 = static_cast<unsigned char>(text[i]);
  if (b0 < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3;
    // Overlong forms and UTF-16 surrogates are not UTF-8.
    if (b0 == 0xE0) low = 0xA0;
    if (b0 == 0xED) high = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4;
    if (b0 == 0xF0) low = 0x90;
    if (b0 == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  const auto b1 = static_cast<unsigned char>(text[i + 1]);
  if (b1 < low || b1 > high) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    const auto b = static_cast<unsigned char>(text[i + k]);
    if (b < 0x80 || b > 0xBF) return 0;
  }
  return length;
}

// The whole-text check of the engine, behind a fast pass for the common all-ASCII line.
bool IsUtf8(std::string_view text) {
  return IsAscii(text) || IsValidUtf8(text);
}

char32_t CodePointOf(std::string_view sequence) {
  const auto b0 = static_cast<unsigned char>(sequence[0]);
  if (sequence.size() == 1) return b0;
  char32_t code = b0 & (sequence.size() == 2 ? 0x1F : sequence.size() == 3 ? 0x0F : 0x07);
  for (std::size_t k = 1; k < sequence.size(); ++k) {
    code = (code << 6) | (static_cast<unsigned char>(sequence[k]) & 0x3F);
  }
  return code;
}

std::string Printable(std::string_view text) {
  std::string out;
  for (const char c : text.substr(0, kQuoteLimit)) {
    out += (c >= 0x20 && c < 0x7F) ? c : '?';
  }
  if (text.size() > kQuoteLimit) out += "...";
  return out;
}

std::string DescribeCharacter(std::string_view sequence) {
  if (Utf8Length(sequence, 0) != sequence.size()) return "a byte that is not UTF-8 text";
  const char32_t code = CodePointOf(sequence);
  // Controls and the invisible spaces and marks would show as nothing between the quotes.
  const bool invisible = code <= 0x20 || (code >= 0x7F && code <= 0xA0) || code == 0xAD ||
                         (code >= 0x2000 && code <= 0x200F) || (code >= 0x2028 && code <= 0x202F) ||
                         code == 0x205F || code == 0x3000 || code == 0xFEFF;
  if (!invisible) {
    return "\"" + std::string(sequence) + "\"";
  }
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out = "the character U+";
  const int top_shift = code > 0xFFFF ? 20 : 12;
  for (int shift = top_shift; shift >= 0; shift -= 4) out += kHex[(code >> shift) & 0xF];
  return out;
}

std::string_view FirstControl(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x20 || b == 0x7F) return text.substr(i, 1);
    if (b == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      return text.substr(i, 2);
    }
  }
  return {};
}
}  // namespace dialmend
