#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "stores/vcard/vcard.h"

// The character sets a CHARSET parameter names, between their bytes and Unicode. Internal to the
// vcard library.

namespace dialmend {

// The set a CHARSET value names, or nothing when it is not one decoded here.
std::optional<VCardCharset> CharsetByName(std::string_view name);

// True when the C library converts the set `name` to and from UTF-8 and writes every printable
// ASCII character as itself, so that lines, escapes and numbers stay as they are. Always false
// where there is no iconv (Windows).
bool CanConvertCharset(std::string_view name);

// Converts `bytes` in the set `name` to UTF-8 through the C library; false when they are not text
// in that set, or it cannot be converted.
bool ConvertToUtf8(std::string_view name, std::string_view bytes, std::string& out);

// The code point a byte stands for in a single-byte set (Latin1, Windows1252 or Latin9).
char32_t CodeOfByte(unsigned char byte, VCardCharset charset);

// The byte that stands for `code` in a single-byte set, if the set has one.
std::optional<unsigned char> ByteOfCode(char32_t code, VCardCharset charset);

// Writes the UTF-8 `value` in `charset` (for a Converted set, the one called `name`) into `out`;
// returns why a character cannot be written in it, or empty text when all could.
std::string InCharset(std::string_view value, VCardCharset charset, std::string_view name,
                      std::string& out);

}  // namespace dialmend
