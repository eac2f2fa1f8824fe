#include "stores/vcard/text.h"

#include <cstddef>
#include <string>
#include <string_view>

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
  return Trimmed(text, " \t");
}

// The whole-text check of the engine, behind a fast pass for the common all-ASCII line.
bool IsUtf8(std::string_view text) {
  return IsAscii(text) || IsValidUtf8(text);
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
  std::size_t end = 0;
  char32_t code = 0;
  if (!DecodeUtf8At(sequence, end, code) || end != sequence.size()) {
    return "a byte that is not UTF-8 text";
  }
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
