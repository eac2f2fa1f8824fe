#include "stores/vcard/charset.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "stores/vcard/text.h"

namespace dialmend {
namespace {

// Code points of windows-1252 bytes 0x80 to 0x9F; its five unassigned bytes map to the C1 controls.
constexpr std::array<char16_t, 32> kWindows1252High{
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The eight bytes where ISO-8859-15 differs from ISO-8859-1.
constexpr std::array<std::pair<unsigned char, char16_t>, 8> kLatin9Changes{{{0xA4, 0x20AC},
                                                                            {0xA6, 0x0160},
                                                                            {0xA8, 0x0161},
                                                                            {0xB4, 0x017D},
                                                                            {0xB8, 0x017E},
                                                                            {0xBC, 0x0152},
                                                                            {0xBD, 0x0153},
                                                                            {0xBE, 0x0178}}};

}  // namespace

char32_t CodeOfByte(unsigned char byte, VCardCharset charset) {
  if (charset == VCardCharset::Windows1252 && byte >= 0x80 && byte <= 0x9F) {
    return kWindows1252High[byte - 0x80];
  }
  if (charset == VCardCharset::Latin9) {
    for (const auto& [from, to] : kLatin9Changes) {
      if (from == byte) return to;
    }
  }
  return byte;
}

std::optional<unsigned char> ByteOfCode(char32_t code, VCardCharset charset) {
  if (code < 0x80) return static_cast<unsigned char>(code);
  switch (charset) {
    case VCardCharset::Utf8:
    case VCardCharset::Other:
      return std::nullopt;
    case VCardCharset::Latin1:
      break;
    case VCardCharset::Windows1252:
      for (std::size_t i = 0; i < kWindows1252High.size(); ++i) {
        if (kWindows1252High[i] == code) return static_cast<unsigned char>(0x80 + i);
      }
      break;
    case VCardCharset::Latin9:
      for (const auto& [byte, to] : kLatin9Changes) {
        if (to == code) return byte;
        // The byte's Latin-1 character is not in the set at all.
        if (byte == code) return std::nullopt;
      }
      break;
  }
  if (code <= 0xFF && !(charset == VCardCharset::Windows1252 && code <= 0x9F)) {
    return static_cast<unsigned char>(code);
  }
  return std::nullopt;
}

std::optional<VCardCharset> CharsetByName(std::string_view name) {
  static constexpr std::array<std::pair<std::string_view, VCardCharset>, 12> kNames{{
      {"utf-8", VCardCharset::Utf8},
      {"utf8", VCardCharset::Utf8},
      {"us-ascii", VCardCharset::Utf8},
      {"ascii", VCardCharset::Utf8},
      {"iso-8859-1", VCardCharset::Latin1},
      {"iso8859-1", VCardCharset::Latin1},
      {"latin1", VCardCharset::Latin1},
      {"windows-1252", VCardCharset::Windows1252},
      {"cp1252", VCardCharset::Windows1252},
      {"iso-8859-15", VCardCharset::Latin9},
      {"iso8859-15", VCardCharset::Latin9},
      {"latin9", VCardCharset::Latin9},
  }};
  for (const auto& [known, charset] : kNames) {
    if (EqualsIgnoreCase(name, known)) return charset;
  }
  return std::nullopt;
}

std::string InCharset(std::string_view value, VCardCharset charset, std::string& out) {
  if (charset == VCardCharset::Utf8) {
    out.assign(value);
    return {};
  }
  out.clear();
  for (std::size_t at = 0; at < value.size();) {
    const std::size_t length = std::max<std::size_t>(Utf8Length(value, at), 1);
    const std::string_view character = value.substr(at, length);
    at += length;
    if (length == 1) {
      out += character[0];
      continue;
    }
    const auto byte = ByteOfCode(CodePointOf(character), charset);
    if (!byte) return "the card's character set cannot carry " + DescribeCharacter(character);
    out += static_cast<char>(*byte);
  }
  return {};
}

}  // namespace dialmend
