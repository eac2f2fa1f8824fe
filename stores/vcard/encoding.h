#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "stores/vcard/vcard.h"

// A property value's encodings: its ENCODING and CHARSET parameters, quoted-printable, base64 and
// the text escapes. Internal to the vcard library.

namespace dialmend {

// What a property's parameters say about how its value is written.
struct Encoding {
  bool quoted_printable = false;
  bool base64 = false;
  std::string_view unhandled;  // the first ENCODING value not decoded here
  bool charset_named = false;
  std::optional<VCardCharset> charset;  // empty when no CHARSET, or one not decoded
  std::string_view charset_name;
};

// Reads the encoding parameters and, when `types` is given, ORs in the TypeBit of every TYPE value,
// bare 2.1 parameter and PREF parameter, all in one pass.
Encoding ReadParams(std::string_view params, std::uint32_t* types);

// ReadParams without the types.
Encoding EncodingOf(std::string_view params);

// NotUtf8: no CHARSET, or UTF-8, and the bytes are not UTF-8. NotInCharset: the bytes are not text
// in the Converted set named. UnknownCharset: a set not decoded, and bytes that are not ASCII.
enum class DecodeError { None, NotUtf8, NotInCharset, UnknownCharset };

// Undoes QUOTED-PRINTABLE and CHARSET, giving UTF-8 text: `raw` itself when nothing needs
// decoding, else text kept in `storage`.
DecodeError DecodeBytes(std::string_view raw, const Encoding& encoding, std::string& storage,
                        std::string_view& out);

// Undoes QUOTED-PRINTABLE and reads the bytes as Windows-1252, for a name whose bytes are not text
// in the set it names (or UTF-8): every byte gives a character, so the name still shows in the log.
std::string DecodeAsWindows1252(std::string_view raw, const Encoding& encoding);

// Decodes a TEL value in an encoding other than quoted-printable to UTF-8 text (`out`, kept in
// `storage`), or gives why the value is left as it is.
std::string DecodeEncodedTel(std::string_view value, const Encoding& encoding, std::string& storage,
                             std::string_view& out);

// Decodes base64 text, skipping the blanks that folding leaves. Only the one canonical spelling
// of some bytes is accepted (padding may be left off), so that writing the decoded bytes back
// gives the same text; anything else gives false.
bool DecodeBase64(std::string_view text, std::string& out);

// Appends the base64 spelling of `bytes`, with or without its "=" padding.
void AppendBase64(std::string& out, std::string_view bytes, bool padded);

// The text escapes a value was written with, so a new value is written with them too.
struct EscapeHabits {
  bool commas = false;
  bool semicolons = false;
};

// Undoes the text escapes \\ \, \; \n; any other backslash is kept as written.
void Unescape(std::string_view text, EscapeHabits& habits, std::string& out);

// Appends `bytes` quoted-printable; `is_last` escapes a trailing blank, which readers would drop.
void AppendQuotedPrintable(std::string& unit, std::string_view bytes, bool is_last);

}  // namespace dialmend
