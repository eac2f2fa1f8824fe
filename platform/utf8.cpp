#include "platform/utf8.h"

#include <cstdint>
#include <cstring>

namespace dialmend {
namespace {

// Reads one code point at `i`, advancing `i`; returns false on a malformed sequence.
bool Next(std::string_view text, std::size_t& i, char32_t& cp) noexcept {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char b0 = byte(i);
  if (b0 < 0x80) {
    cp = b0;
    ++i;
    return true;
  }
  std::size_t len;
  char32_t min;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2, cp = b0 & 0x1F, min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3, cp = b0 & 0x0F, min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    return false;
  }
  if (text.size() - i < len) return false;
  for (std::size_t k = 1; k < len; ++k) {
    const unsigned char b = byte(i + k);
    if ((b & 0xC0) != 0x80) return false;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
  i += len;
  return true;
}

}  // namespace

bool DecodeUtf8At(std::string_view text, std::size_t& i, char32_t& code_point) noexcept {
  return Next(text, i, code_point);
}

std::size_t Utf8Length(std::string_view text, std::size_t i) noexcept {
  std::size_t end = i;
  char32_t unused;
  return Next(text, end, unused) ? end - i : 0;
}

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

bool IsAscii(std::string_view text) noexcept {
  const auto has_high_bit = [&text](std::size_t at) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + at, 8);
    return (word & 0x8080808080808080ULL) != 0;
  };
  if (text.size() < 8) {
    for (char c : text) {
      if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
  }
  // Eight bytes at a time: phone numbers are almost always plain ASCII. The last word ends
  // at the end, overlapping the one before, so no byte-by-byte tail follows.
  for (std::size_t i = 0; i + 8 <= text.size(); i += 8) {
    if (has_high_bit(i)) return false;
  }
  return !has_high_bit(text.size() - 8);
}

bool IsValidUtf8(std::string_view text) noexcept {
  char32_t cp;
  for (std::size_t i = 0; i < text.size();) {
    // Text that is not all ASCII is still mostly ASCII, and an ASCII byte needs no decoding.
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
    } else if (!Next(text, i, cp)) {
      return false;
    }
  }
  return true;
}

bool DecodeUtf8(std::string_view text, std::u32string& out) {
  out.clear();
  out.reserve(text.size());
  char32_t cp;
  for (std::size_t i = 0; i < text.size();) {
    if (!Next(text, i, cp)) return false;
    out.push_back(cp);
  }
  return true;
}

char* EncodeUtf8(char32_t cp, char* out) noexcept {
  if (cp < 0x80) {
    *out++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out++ = static_cast<char>(0xC0 | (cp >> 6));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (cp >> 12));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (cp >> 18));
    *out++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return out;
}

void AppendUtf8(std::string& out, char32_t cp) {
  char bytes[4];
  out.append(bytes, EncodeUtf8(cp, bytes));
}

}  // namespace dialmend
