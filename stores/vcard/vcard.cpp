#include "stores/vcard/vcard.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/utf8.h"

namespace dialmend {
namespace {

// Enough phone entries for most cards without growing the list.
constexpr std::size_t kTypicalTelCount = 16;

// Longest physical line a rewritten value produces, line end not counted.
constexpr std::size_t kFoldLimit = 75;

// How much of a hostile token an error text quotes.
constexpr std::size_t kQuoteLimit = 24;

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameLettersIgnoringCase(std::string_view a, std::string_view b) {
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// The length test stays small enough to inline, so most mismatches cost one comparison.
bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && SameLettersIgnoringCase(a, b);
}

bool LessIgnoreCase(std::string_view a, std::string_view b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const char x = AsciiLower(a[i]);
    const char y = AsciiLower(b[i]);
    if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
  }
  return a.size() < b.size();
}

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

constexpr std::array<bool, 256> kNameChars = [] {
  std::array<bool, 256> table{};
  for (int c = 'A'; c <= 'Z'; ++c) table[c] = table[c - 'A' + 'a'] = true;
  for (int c = '0'; c <= '9'; ++c) table[c] = true;
  table['-'] = table['_'] = true;
  return table;
}();

bool IsNameChar(char c) {
  return kNameChars[static_cast<unsigned char>(c)];
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The length of the well-formed UTF-8 sequence at text[i], or 0 when there is none.
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

// The code point of one well-formed UTF-8 sequence.
char32_t CodePointOf(std::string_view sequence) {
  const auto b0 = static_cast<unsigned char>(sequence[0]);
  if (sequence.size() == 1) return b0;
  char32_t code = b0 & (sequence.size() == 2 ? 0x1F : sequence.size() == 3 ? 0x0F : 0x07);
  for (std::size_t k = 1; k < sequence.size(); ++k) {
    code = (code << 6) | (static_cast<unsigned char>(sequence[k]) & 0x3F);
  }
  return code;
}

// Text fit to quote in an error message, whatever bytes the file holds.
std::string Printable(std::string_view text) {
  std::string out;
  for (const char c : text.substr(0, kQuoteLimit)) {
    out += (c >= 0x20 && c < 0x7F) ? c : '?';
  }
  if (text.size() > kQuoteLimit) out += "...";
  return out;
}

// One character for an error message: itself when printable, else its code point.
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

// The byte that stands for `code` in a single-byte set, if the set has one.
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

enum TypeBit : std::uint32_t {
  kTypeHome = 1U << 0,
  kTypeWork = 1U << 1,
  kTypeFax = 1U << 2,
  kTypeCell = 1U << 3,
  kTypePager = 1U << 4,
  kTypeCar = 1U << 5,
  kTypeIsdn = 1U << 6,
  kTypeTty = 1U << 7,
  kTypeAssistant = 1U << 8,
  kTypeCallback = 1U << 9,
  kTypeCompany = 1U << 10,
  kTypeRadio = 1U << 11,
  kTypeTelex = 1U << 12,
  kTypePref = 1U << 13,
  kTypePrimary = 1U << 14,
  kTypeOther = 1U << 15,
  kTypeVoice = 1U << 16,
};

std::uint32_t TypeBitOf(std::string_view token) {
  // Producers write the same type bare, as X-NAME and as X-EVOLUTION-NAME.
  if (token.size() > 2 && (token[0] == 'x' || token[0] == 'X') && token[1] == '-') {
    token.remove_prefix(StartsWithIgnoreCase(token, "x-evolution-") ? 12 : 2);
  }
  std::array<char, 16> lower{};
  if (token.size() > lower.size()) return 0;
  for (std::size_t i = 0; i < token.size(); ++i) lower[i] = AsciiLower(token[i]);
  const std::string_view key(lower.data(), token.size());
  // Grouped by length, so a token is compared only with names it could equal.
  struct Type {
    std::string_view name;
    std::uint32_t bit;
  };
  static constexpr Type kLength3[] = {{"fax", kTypeFax},
                                      {"car", kTypeCar},
                                      {"pcs", kTypeCell},
                                      {"tty", kTypeTty},
                                      {"tlx", kTypeTelex}};
  static constexpr Type kLength4[] = {{"home", kTypeHome}, {"work", kTypeWork},
                                      {"cell", kTypeCell}, {"isdn", kTypeIsdn},
                                      {"pref", kTypePref}, {"main", kTypePrimary}};
  static constexpr Type kLength5[] = {{"voice", kTypeVoice}, {"pager", kTypePager},
                                      {"radio", kTypeRadio}, {"telex", kTypeTelex},
                                      {"other", kTypeOther}, {"home2", kTypeHome}};
  static constexpr Type kLength6[] = {
      {"mobile", kTypeCell}, {"iphone", kTypeCell}, {"ttytdd", kTypeTty}};
  static constexpr Type kLength7[] = {
      {"company", kTypeCompany}, {"tty-tdd", kTypeTty}, {"primary", kTypePrimary}};
  static constexpr Type kLength8[] = {{"business", kTypeWork}, {"callback", kTypeCallback}};
  static constexpr Type kLength9[] = {
      {"textphone", kTypeTty}, {"assistant", kTypeAssistant}, {"business2", kTypeWork}};
  static constexpr Type kLength11[] = {{"companymain", kTypeCompany}};
  static constexpr Type kLength12[] = {{"company-main", kTypeCompany}};
  std::span<const Type> candidates;
  switch (key.size()) {
    case 3:
      candidates = kLength3;
      break;
    case 4:
      candidates = kLength4;
      break;
    case 5:
      candidates = kLength5;
      break;
    case 6:
      candidates = kLength6;
      break;
    case 7:
      candidates = kLength7;
      break;
    case 8:
      candidates = kLength8;
      break;
    case 9:
      candidates = kLength9;
      break;
    case 11:
      candidates = kLength11;
      break;
    case 12:
      candidates = kLength12;
      break;
    default:
      return 0;
  }
  for (const Type& type : candidates) {
    if (std::memcmp(type.name.data(), key.data(), key.size()) == 0) return type.bit;
  }
  return 0;
}

struct PropertyView {
  std::string_view group;
  std::string_view name;
  std::string_view params;  // from the first ";" up to the colon; empty without parameters
  std::string_view value;
  std::size_t colon = 0;  // offset of the colon in the line
};

// Finds the colon that ends name and parameters, scanning from `pos` and remembering where it
// stopped, so a line read piece by piece is scanned once. A double quote opens only at the start of
// a parameter value, so stray quotes elsewhere cannot hide the colon.
struct ColonScan {
  std::size_t pos = 0;
  bool in_quote = false;
  char previous = '\0';

  std::size_t Find(std::string_view line) {
    if (!in_quote && pos < line.size()) {
      // Without a double quote before it, the first colon is the one.
      const std::string_view rest = line.substr(pos);
      const std::size_t colon = rest.find(':');
      if (rest.substr(0, colon).find('"') == std::string_view::npos) {
        if (colon == std::string_view::npos) {
          pos = line.size();
          previous = line.back();
          return std::string_view::npos;
        }
        pos += colon;
        return pos;
      }
    }
    for (; pos < line.size(); ++pos) {
      const char c = line[pos];
      if (in_quote) {
        if (c == '"') in_quote = false;
      } else if (c == '"' && (previous == '=' || previous == ',')) {
        in_quote = true;
      } else if (c == ':') {
        return pos;
      }
      previous = c;
    }
    return std::string_view::npos;
  }
};

bool SplitProperty(std::string_view line, PropertyView& out) {
  std::size_t i = 0;
  std::size_t name_begin = 0;
  for (;;) {
    while (i < line.size() && IsNameChar(line[i])) ++i;
    if (i == name_begin) return false;
    if (i < line.size() && line[i] == '.') {
      out.group = line.substr(0, i);
      name_begin = ++i;
      continue;
    }
    break;
  }
  out.name = line.substr(name_begin, i - name_begin);
  if (i >= line.size() || (line[i] != ';' && line[i] != ':')) return false;
  ColonScan scan;
  scan.pos = i;
  const std::size_t colon = scan.Find(line);
  if (colon == std::string_view::npos) return false;
  if (name_begin == 0) out.group = {};
  out.params = line.substr(i, colon - i);
  out.value = line.substr(colon + 1);
  out.colon = colon;
  return true;
}

// Calls visit(name, values) for each parameter. A bare 2.1 parameter ("HOME", "QUOTED-PRINTABLE")
// comes with an empty name and itself as the values.
template <typename Visit>
void ForEachParam(std::string_view params, Visit&& visit) {
  const bool has_quotes = params.find('"') != std::string_view::npos;
  std::size_t i = 0;
  while (i < params.size()) {
    if (params[i] == ';') {
      ++i;
      continue;
    }
    std::size_t end = has_quotes ? i : std::min(params.find(';', i), params.size());
    bool in_quote = false;
    char previous = '\0';
    for (; has_quotes && end < params.size(); ++end) {
      const char c = params[end];
      if (in_quote) {
        if (c == '"') in_quote = false;
      } else if (c == '"' && (previous == '=' || previous == ',')) {
        in_quote = true;
      } else if (c == ';') {
        break;
      }
      previous = c;
    }
    const std::string_view param = params.substr(i, end - i);
    const std::size_t equals = param.find('=');
    if (equals == std::string_view::npos) {
      visit(std::string_view{}, TrimBlanks(param));
    } else {
      visit(TrimBlanks(param.substr(0, equals)), param.substr(equals + 1));
    }
    i = end;
  }
}

// Calls visit(value) for each comma-separated value; quotes are dropped, so TYPE="home,fax" gives
// two values as TYPE=home,fax does.
template <typename Visit>
void ForEachParamValue(std::string_view values, Visit&& visit) {
  std::size_t i = 0;
  while (i <= values.size()) {
    std::size_t comma = values.find(',', i);
    if (comma == std::string_view::npos) comma = values.size();
    std::string_view value = TrimBlanks(values.substr(i, comma - i));
    while (!value.empty() && value.front() == '"') value.remove_prefix(1);
    while (!value.empty() && value.back() == '"') value.remove_suffix(1);
    if (!value.empty()) visit(value);
    i = comma + 1;
  }
}

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
Encoding ReadParams(std::string_view params, std::uint32_t* types) {
  Encoding encoding;
  // True when `value` names an encoding decoded here.
  auto note_encoding = [&encoding](std::string_view value) {
    if (EqualsIgnoreCase(value, "QUOTED-PRINTABLE")) {
      encoding.quoted_printable = true;
    } else if (EqualsIgnoreCase(value, "BASE64") || EqualsIgnoreCase(value, "B")) {
      encoding.base64 = true;
    } else {
      // 7BIT and 8BIT name the plain text every value is anyway.
      return EqualsIgnoreCase(value, "7BIT") || EqualsIgnoreCase(value, "8BIT");
    }
    return true;
  };
  ForEachParam(params, [&](std::string_view name, std::string_view values) {
    if (name.empty()) {
      note_encoding(values);
      if (types != nullptr) *types |= TypeBitOf(values);
    } else if (EqualsIgnoreCase(name, "TYPE")) {
      if (types != nullptr) {
        ForEachParamValue(values, [types](std::string_view value) { *types |= TypeBitOf(value); });
      }
    } else if (EqualsIgnoreCase(name, "PREF")) {
      if (types != nullptr) *types |= kTypePref;
    } else if (EqualsIgnoreCase(name, "ENCODING")) {
      ForEachParamValue(values, [&](std::string_view value) {
        if (!note_encoding(value) && encoding.unhandled.empty()) encoding.unhandled = value;
      });
    } else if (EqualsIgnoreCase(name, "CHARSET")) {
      ForEachParamValue(values, [&](std::string_view value) {
        encoding.charset_named = true;
        encoding.charset_name = value;
        encoding.charset = CharsetByName(value);
      });
    }
  });
  return encoding;
}

Encoding EncodingOf(std::string_view params) {
  return ReadParams(params, nullptr);
}

std::string DecodeQuotedPrintable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '=' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      // A malformed escape is kept as written rather than lost.
      out += text[i];
    }
  }
  return out;
}

enum class DecodeError { None, NotUtf8, UnknownCharset };

// Undoes QUOTED-PRINTABLE and CHARSET, giving UTF-8 text: `raw` itself when nothing needs
// decoding, else text kept in `storage`.
DecodeError DecodeBytes(std::string_view raw, const Encoding& encoding, std::string& storage,
                        std::string_view& out) {
  std::string_view bytes = raw;
  if (encoding.quoted_printable) {
    storage = DecodeQuotedPrintable(raw);
    bytes = storage;
  }
  const VCardCharset charset = encoding.charset.value_or(VCardCharset::Utf8);
  if (encoding.charset_named && !encoding.charset) {
    if (!IsAscii(bytes)) return DecodeError::UnknownCharset;
  } else if (charset != VCardCharset::Utf8 && !IsAscii(bytes)) {
    std::string converted;
    converted.reserve(bytes.size() + bytes.size() / 2);
    for (const char c : bytes) {
      AppendUtf8(converted, CodeOfByte(static_cast<unsigned char>(c), charset));
    }
    storage = std::move(converted);
    out = storage;
    return DecodeError::None;
  }
  if (!IsUtf8(bytes)) return DecodeError::NotUtf8;
  out = bytes;
  return DecodeError::None;
}

constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<std::int8_t, 256> kBase64Values = [] {
  std::array<std::int8_t, 256> table{};
  table.fill(-1);
  for (std::size_t i = 0; i < kBase64Alphabet.size(); ++i) {
    table[static_cast<unsigned char>(kBase64Alphabet[i])] = static_cast<std::int8_t>(i);
  }
  return table;
}();

// Decodes base64 text, skipping the blanks that folding leaves. Only the one canonical spelling
// of some bytes is accepted (padding may be left off), so that writing the decoded bytes back
// gives the same text; anything else gives false.
bool DecodeBase64(std::string_view text, std::string& out) {
  out.clear();
  out.reserve(text.size() / 4 * 3 + 2);
  std::uint32_t bits = 0;
  std::size_t pending = 0;
  std::size_t padding = 0;
  for (const char c : text) {
    if (c == ' ' || c == '\t') continue;
    if (c == '=') {
      ++padding;
      continue;
    }
    const int value = kBase64Values[static_cast<unsigned char>(c)];
    if (value < 0 || padding > 0) return false;
    bits = (bits << 6) | static_cast<std::uint32_t>(value);
    if (++pending == 4) {
      out += static_cast<char>(bits >> 16);
      out += static_cast<char>((bits >> 8) & 0xFF);
      out += static_cast<char>(bits & 0xFF);
      bits = 0;
      pending = 0;
    }
  }
  switch (pending) {
    case 0:
      return padding == 0;
    case 2:
      if ((padding != 0 && padding != 2) || (bits & 0xF) != 0) return false;
      out += static_cast<char>(bits >> 4);
      return true;
    case 3:
      if (padding > 1 || (bits & 0x3) != 0) return false;
      out += static_cast<char>(bits >> 10);
      out += static_cast<char>((bits >> 2) & 0xFF);
      return true;
    default:
      return false;
  }
}

void AppendBase64(std::string& out, std::string_view bytes, bool padded) {
  std::size_t i = 0;
  const auto byte = [&bytes](std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at]));
  };
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t bits = (byte(i) << 16) | (byte(i + 1) << 8) | byte(i + 2);
    for (int shift = 18; shift >= 0; shift -= 6) out += kBase64Alphabet[(bits >> shift) & 0x3F];
  }
  const std::size_t rest = bytes.size() - i;
  if (rest == 0) return;
  const std::uint32_t bits = (byte(i) << 16) | (rest == 2 ? byte(i + 1) << 8 : 0);
  out += kBase64Alphabet[bits >> 18];
  out += kBase64Alphabet[(bits >> 12) & 0x3F];
  if (rest == 2) out += kBase64Alphabet[(bits >> 6) & 0x3F];
  if (padded) out.append(3 - rest, '=');
}

// The first control character (C0, DEL or C1) of UTF-8 text, or empty text when it has none.
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

// Decodes a TEL value in an encoding other than quoted-printable to UTF-8 text (`out`, kept in
// `storage`), or gives why the value is left as it is.
std::string DecodeEncodedTel(std::string_view value, const Encoding& encoding, std::string& storage,
                             std::string_view& out) {
  if (!encoding.unhandled.empty()) {
    return "its value is in the \"" + Printable(encoding.unhandled) +
           "\" encoding, which is not handled";
  }
  if (encoding.quoted_printable) {
    return "its value names two encodings, base64 and quoted-printable";
  }
  std::string binary;
  if (!DecodeBase64(value, binary)) return "its base64 value cannot be decoded";
  Encoding charset_only = encoding;
  charset_only.base64 = false;
  switch (DecodeBytes(binary, charset_only, storage, out)) {
    case DecodeError::None:
      break;
    case DecodeError::NotUtf8:
      return "its base64 value does not decode to UTF-8 text";
    case DecodeError::UnknownCharset:
      return "its base64 value is in the character set " + Printable(encoding.charset_name) +
             ", which cannot be read";
  }
  if (out.data() == binary.data()) {
    storage = std::move(binary);
    out = storage;
  }
  if (const std::string_view control = FirstControl(out); !control.empty()) {
    return "its base64 value holds " + DescribeCharacter(control) + ", which no number holds";
  }
  return {};
}

struct EscapeHabits {
  bool commas = false;
  bool semicolons = false;
};

// Undoes the text escapes \\ \, \; \n; any other backslash is kept as written.
void Unescape(std::string_view text, EscapeHabits& habits, std::string& out) {
  const std::size_t first = text.find('\\');
  if (first == std::string_view::npos) {
    out.assign(text);
    return;
  }
  out.assign(text.substr(0, first));
  for (std::size_t i = first; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\\' || i + 1 == text.size()) {
      out += c;
      continue;
    }
    const char next = text[i + 1];
    if (next == '\\') {
      out += '\\';
    } else if (next == ',') {
      out += ',';
      habits.commas = true;
    } else if (next == ';') {
      out += ';';
      habits.semicolons = true;
    } else if (next == 'n' || next == 'N') {
      out += '\n';
    } else {
      out += c;
      continue;
    }
    ++i;
  }
}

// How a property's types place it: in a field outright, or in the home or work pair, whose first
// property is Home (Business) and every later one Home 2 (Business 2).
enum class Placement { Field, HomePair, WorkPair };

struct Classified {
  Placement placement = Placement::Field;
  PhoneField field = PhoneField::Other;
  // The types said nothing specific, so an item label may name the field instead.
  bool label_may_decide = false;
};

Classified Classify(std::uint32_t types) {
  const auto field = [](PhoneField f) { return Classified{Placement::Field, f, false}; };
  // The named extra types come first: they are written only for their own field.
  if (types & kTypeAssistant) return field(PhoneField::Assistant);
  if (types & kTypeCallback) return field(PhoneField::Callback);
  if (types & kTypeCompany) return field(PhoneField::CompanyMain);
  if (types & kTypeRadio) return field(PhoneField::Radio);
  if (types & kTypeTelex) return field(PhoneField::Telex);
  if (types & kTypeTty) return field(PhoneField::TtyTdd);
  if (types & kTypeFax) {
    if (types & kTypeHome) return field(PhoneField::HomeFax);
    if (types & kTypeWork) return field(PhoneField::BusinessFax);
    return field(PhoneField::OtherFax);
  }
  if (types & kTypeCell) return field(PhoneField::Mobile);
  if (types & kTypePager) return field(PhoneField::Pager);
  if (types & kTypeCar) return field(PhoneField::Car);
  if (types & kTypeIsdn) return field(PhoneField::Isdn);
  if (types & kTypePrimary) return field(PhoneField::Primary);
  if (types & kTypeWork) return {Placement::WorkPair, PhoneField::Business, false};
  if (types & kTypeHome) return {Placement::HomePair, PhoneField::Home, false};
  // PREF alone marks the contact's main number (Evolution's Primary); next to a kind, as in
  // WORK,PREF, it only orders numbers of that kind, handled above.
  if ((types & kTypePref) && !(types & kTypeOther)) {
    return {Placement::Field, PhoneField::Primary, true};
  }
  return {Placement::Field, PhoneField::Other, true};
}

// Apple writes numbers without a standard type as itemN.TEL with the name in itemN.X-ABLabel,
// either as "_$!<Name>!$_" or as the user's own words.
std::optional<Classified> ClassifyLabel(std::string_view label) {
  if (label.size() > 8 && label.substr(0, 4) == "_$!<" &&
      label.substr(label.size() - 4) == ">!$_") {
    label = label.substr(4, label.size() - 8);
  }
  std::array<char, 24> squeezed{};
  std::size_t length = 0;
  for (const char c : label) {
    if (c == ' ' || c == '_' || c == '-') continue;
    if (length == squeezed.size()) return std::nullopt;
    squeezed[length++] = AsciiLower(c);
  }
  const std::string_view key(squeezed.data(), length);
  const auto field = [](PhoneField f) { return Classified{Placement::Field, f, false}; };
  static constexpr std::array<std::pair<std::string_view, PhoneField>, 22> kFields{{
      {"assistant", PhoneField::Assistant},
      {"businessfax", PhoneField::BusinessFax},
      {"workfax", PhoneField::BusinessFax},
      {"callback", PhoneField::Callback},
      {"car", PhoneField::Car},
      {"company", PhoneField::CompanyMain},
      {"companymain", PhoneField::CompanyMain},
      {"homefax", PhoneField::HomeFax},
      {"isdn", PhoneField::Isdn},
      {"mobile", PhoneField::Mobile},
      {"cell", PhoneField::Mobile},
      {"iphone", PhoneField::Mobile},
      {"other", PhoneField::Other},
      {"otherfax", PhoneField::OtherFax},
      {"fax", PhoneField::OtherFax},
      {"pager", PhoneField::Pager},
      {"primary", PhoneField::Primary},
      {"main", PhoneField::Primary},
      {"radio", PhoneField::Radio},
      {"telex", PhoneField::Telex},
      {"tty/ttdd", PhoneField::TtyTdd},
      {"tty/tdd", PhoneField::TtyTdd},
  }};
  for (const auto& [name, f] : kFields) {
    if (key == name) return field(f);
  }
  if (key == "tty" || key == "ttytdd" || key == "textphone") return field(PhoneField::TtyTdd);
  if (key == "home" || key == "home2") {
    return Classified{Placement::HomePair, PhoneField::Home, false};
  }
  if (key == "work" || key == "business" || key == "business2") {
    return Classified{Placement::WorkPair, PhoneField::Business, false};
  }
  return std::nullopt;
}

// Appends a value unit by unit, folding before a unit that would pass the line limit, so no UTF-8
// character, text escape or =XX triplet is ever split.
class FoldingWriter {
 public:
  FoldingWriter(std::string& out, std::size_t column, std::string_view line_end,
                bool quoted_printable)
      : m_out(out), m_column(column), m_line_end(line_end), m_quoted_printable(quoted_printable) {}

  void Put(std::string_view unit) {
    if (m_quoted_printable) {
      // Room stays for the "=" of a soft line break.
      if (m_column > 0 && m_column + unit.size() + 1 > kFoldLimit) {
        m_out += '=';
        m_out += m_line_end;
        m_column = 0;
      }
    } else if (m_column > 1 && m_column + unit.size() > kFoldLimit && !EndsInCarriageReturn()) {
      m_out += m_line_end;
      m_out += ' ';
      m_column = 1;
    }
    m_out += unit;
    m_column += unit.size();
  }

 private:
  // A carriage return kept from the old value would join a fold's line end and be lost, so its line
  // runs one unit long instead.
  bool EndsInCarriageReturn() const { return !m_out.empty() && m_out.back() == '\r'; }

  std::string& m_out;
  std::size_t m_column;
  std::string_view m_line_end;
  bool m_quoted_printable;
};

void AppendQuotedPrintable(std::string& unit, std::string_view bytes, bool is_last) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    // Readers drop white space at a line's end, so a final space or tab is always escaped.
    const bool plain = (b >= 33 && b <= 126 && b != '=') || ((b == ' ' || b == '\t') && !is_last);
    if (plain) {
      unit += c;
    } else {
      unit += '=';
      unit += kHex[b >> 4];
      unit += kHex[b & 0xF];
    }
  }
}

}  // namespace

class VCardParser {
 public:
  explicit VCardParser(std::string_view bytes) : m_in(bytes) { m_tels.reserve(kTypicalTelCount); }

  ParsedVCard Run();

 private:
  struct Physical {
    std::size_t begin = 0;
    std::size_t content_end = 0;  // where the line end starts
    std::size_t end = 0;          // just after the line end
    bool crlf = false;
  };

  // A logical line: a property with its folds and soft line breaks undone.
  struct Logical {
    std::size_t begin = 0;
    std::size_t content_end = 0;  // where the last physical line's line end starts
    std::size_t end = 0;
    std::size_t line_number = 0;  // of its first physical line
    bool first_crlf = false;
    bool folded = false;
    std::string_view text;
  };

  // Maps an offset in an unfolded line back to the file: the piece starting at `logical` in the
  // unfolded text starts at `raw` in the file.
  struct Segment {
    std::size_t logical = 0;
    std::size_t raw = 0;
  };

  struct PendingTel {
    Classified classified;
    std::string group;
    PhoneEntry entry;
    VCard::TelSlot slot;
    std::string left_as_is;  // why the value is never rewritten, or empty
  };

  struct Label {
    std::string group;
    Classified classified;
  };

  Physical ReadPhysical(std::size_t pos) const;
  void ReadLogical(std::size_t pos, Logical& line);
  std::size_t RawOffset(const Logical& line, std::size_t logical_offset) const;
  bool Fail(std::string error);
  bool HandleProperty(const Logical& line, const PropertyView& property);
  bool HandleTel(const Logical& line, const PropertyView& property);
  bool DecodeValue(const Logical& line, const PropertyView& property, const Encoding& encoding,
                   std::string& storage, std::string_view& out);
  bool DecodeText(const Logical& line, const PropertyView& property, std::string& out);
  void Finish();

  std::string_view m_in;
  std::size_t m_line_count = 0;
  Physical m_lookahead;
  bool m_lookahead_valid = false;
  std::string m_unfolded;
  std::vector<Segment> m_segments;
  std::string m_error;
  VCard m_card;
  bool m_version_seen = false;
  bool m_fn_seen = false;
  bool m_file_as_seen = false;
  std::string m_fn;
  std::vector<PendingTel> m_tels;
  std::vector<Label> m_labels;
};

VCardParser::Physical VCardParser::ReadPhysical(std::size_t pos) const {
  Physical line;
  line.begin = pos;
  const void* found = std::memchr(m_in.data() + pos, '\n', m_in.size() - pos);
  if (found == nullptr) {
    line.content_end = line.end = m_in.size();
    // A last line without a line end may still carry the carriage return of one.
    if (line.content_end > pos && m_in[line.content_end - 1] == '\r') {
      --line.content_end;
      line.crlf = true;
    }
    return line;
  }
  const auto newline = static_cast<std::size_t>(static_cast<const char*>(found) - m_in.data());
  line.end = newline + 1;
  line.content_end = newline;
  if (newline > pos && m_in[newline - 1] == '\r') {
    --line.content_end;
    line.crlf = true;
  }
  return line;
}

void VCardParser::ReadLogical(std::size_t pos, Logical& line) {
  // The line that ended the previous logical line is usually the first of this one.
  const Physical first =
      m_lookahead_valid && m_lookahead.begin == pos ? m_lookahead : ReadPhysical(pos);
  m_lookahead_valid = false;
  line.begin = pos;
  line.line_number = m_line_count + 1;
  line.first_crlf = first.crlf;
  line.folded = false;
  std::string_view text = m_in.substr(first.begin, first.content_end - first.begin);
  ++m_line_count;

  // The encoding decides how the next lines continue this one: a quoted-printable value goes on
  // after a line ending in "=" whatever the next line starts with. It is known once the colon is,
  // and looked for only when a line could continue that way; the scan resumes where it stopped,
  // so a line folded many times is still read once.
  ColonScan scan;
  Encoding encoding;
  bool colon_found = false;
  const auto encoding_so_far = [&]() -> const Encoding& {
    if (!colon_found) {
      const std::size_t colon = scan.Find(text);
      if (colon != std::string_view::npos) {
        colon_found = true;
        PropertyView property;
        if (SplitProperty(text.substr(0, colon + 1), property)) {
          encoding = EncodingOf(property.params);
        }
      }
    }
    return encoding;
  };

  Physical current = first;
  while (current.end < m_in.size()) {
    const Physical next = ReadPhysical(current.end);
    const bool next_empty = next.content_end == next.begin;
    const bool soft_break = current.content_end > current.begin &&
                            m_in[current.content_end - 1] == '=' &&
                            encoding_so_far().quoted_printable;
    std::size_t piece = next.begin;
    if (soft_break) {
      // The whole next line is value, leading blanks included.
    } else if (!next_empty && (m_in[next.begin] == ' ' || m_in[next.begin] == '\t')) {
      piece = next.begin + 1;
    } else if (!next_empty &&
               std::all_of(
                   m_in.begin() + static_cast<std::ptrdiff_t>(next.begin),
                   m_in.begin() + static_cast<std::ptrdiff_t>(next.content_end),
                   [](char c) { return IsNameChar(c) || c == '+' || c == '/' || c == '='; }) &&
               encoding_so_far().base64) {
      // Some 2.1 writers continue base64 data on lines without the leading space.
      piece = next.begin;
    } else {
      m_lookahead = next;
      m_lookahead_valid = true;
      break;
    }
    if (!line.folded) {
      line.folded = true;
      m_unfolded.assign(text);
      m_segments.clear();
      m_segments.push_back({0, first.begin});
    }
    if (soft_break) m_unfolded.pop_back();
    m_segments.push_back({m_unfolded.size(), piece});
    m_unfolded.append(m_in.substr(piece, next.content_end - piece));
    text = m_unfolded;
    ++m_line_count;
    current = next;
  }
  line.content_end = current.content_end;
  line.end = current.end;
  line.text = text;
}

std::size_t VCardParser::RawOffset(const Logical& line, std::size_t logical_offset) const {
  if (!line.folded) return line.begin + logical_offset;
  auto after = std::upper_bound(
      m_segments.begin(), m_segments.end(), logical_offset,
      [](std::size_t offset, const Segment& segment) { return offset < segment.logical; });
  const Segment& segment = *(after - 1);
  return segment.raw + (logical_offset - segment.logical);
}

bool VCardParser::Fail(std::string error) {
  m_error = std::move(error);
  return false;
}

bool VCardParser::DecodeValue(const Logical& line, const PropertyView& property,
                              const Encoding& encoding, std::string& storage,
                              std::string_view& out) {
  switch (DecodeBytes(property.value, encoding, storage, out)) {
    case DecodeError::None:
      return true;
    case DecodeError::NotUtf8:
      return Fail("line " + std::to_string(line.line_number) + " is not UTF-8 text");
    case DecodeError::UnknownCharset:
      break;
  }
  return Fail("line " + std::to_string(line.line_number) + " uses the character set " +
              Printable(encoding.charset_name) + ", which cannot be read");
}

bool VCardParser::DecodeText(const Logical& line, const PropertyView& property, std::string& out) {
  std::string storage;
  std::string_view decoded;
  if (!DecodeValue(line, property, EncodingOf(property.params), storage, decoded)) return false;
  EscapeHabits habits;
  Unescape(decoded, habits, out);
  return true;
}

bool VCardParser::HandleTel(const Logical& line, const PropertyView& property) {
  PendingTel& tel = m_tels.emplace_back();
  std::uint32_t types = 0;
  const Encoding encoding = ReadParams(property.params, &types);
  tel.classified = Classify(types);
  tel.group.assign(property.group);
  std::string storage;
  std::string_view decoded;
  if (encoding.base64 || !encoding.unhandled.empty()) {
    // An encoded value that cannot be read is no fault of the file: it stays as it is, and only
    // this property is passed over.
    tel.left_as_is = DecodeEncodedTel(property.value, encoding, storage, decoded);
    if (!tel.left_as_is.empty()) return true;
  } else if (!DecodeValue(line, property, encoding, storage, decoded)) {
    return false;
  }

  VCard::TelSlot& slot = tel.slot;
  slot.property_begin = line.begin;
  slot.value_begin = RawOffset(line, property.colon) + 1;
  slot.value_end = line.content_end;
  slot.charset = encoding.charset_named && !encoding.charset
                     ? VCardCharset::Other
                     : encoding.charset.value_or(VCardCharset::Utf8);
  slot.quoted_printable = encoding.quoted_printable;
  slot.base64 = encoding.base64;

  if (StartsWithIgnoreCase(decoded, "tel:")) {
    // URI values carry no text escapes; a writer that escaped the parameters' ";" anyway keeps its
    // backslash in the suffix.
    const std::string_view uri = decoded;
    std::size_t cut = uri.find(';', 4);
    if (cut == std::string_view::npos) cut = uri.size();
    if (cut > 4 && cut < uri.size() && uri[cut - 1] == '\\') --cut;
    slot.uri_scheme.assign(uri.substr(0, 4));
    slot.uri_suffix.assign(uri.substr(cut));
    tel.entry.number.assign(uri.substr(4, cut - 4));
    tel.entry.is_tel_uri = true;
  } else if (slot.base64) {
    // Encoded bytes are the value itself; text escapes belong to the unencoded form only.
    tel.entry.number.assign(decoded);
  } else {
    EscapeHabits habits;
    Unescape(decoded, habits, tel.entry.number);
    slot.escaped_commas = habits.commas;
    slot.escaped_semicolons = habits.semicolons;
  }
  return true;
}

bool VCardParser::HandleProperty(const Logical& line, const PropertyView& property) {
  const std::string_view name = property.name;
  // Most properties are none of those below; their first letter tells so at once.
  switch (AsciiLower(name[0])) {
    case 't':
    case 'x':
    case 'b':
    case 'v':
    case 'f':
    case 'k':
      break;
    default:
      return true;
  }
  const std::string_view value = TrimBlanks(property.value);
  if (EqualsIgnoreCase(name, "TEL") || EqualsIgnoreCase(name, "X-MS-TEL")) {
    return HandleTel(line, property);
  }
  if (EqualsIgnoreCase(name, "BEGIN") && EqualsIgnoreCase(value, "VCARD")) {
    return Fail("line " + std::to_string(line.line_number) + " begins a card inside the card");
  }
  if (EqualsIgnoreCase(name, "VERSION") && !m_version_seen) {
    m_version_seen = true;
    if (value == "2.1") {
      m_card.m_version = VCardVersion::V21;
    } else if (value == "3.0") {
      m_card.m_version = VCardVersion::V30;
    } else if (value == "4.0") {
      m_card.m_version = VCardVersion::V40;
    } else {
      return Fail("line " + std::to_string(line.line_number) + " names vCard version " +
                  Printable(value) + ", which is not supported");
    }
  } else if (EqualsIgnoreCase(name, "FN") && !m_fn_seen) {
    m_fn_seen = true;
    return DecodeText(line, property, m_fn);
  } else if (EqualsIgnoreCase(name, "X-EVOLUTION-FILE-AS") && !m_file_as_seen) {
    m_file_as_seen = true;
    return DecodeText(line, property, m_card.m_file_as);
  } else if (EqualsIgnoreCase(name, "KIND") || EqualsIgnoreCase(name, "X-ADDRESSBOOKSERVER-KIND")) {
    if (EqualsIgnoreCase(value, "group")) m_card.m_kind = CardKind::Group;
  } else if (EqualsIgnoreCase(name, "X-EVOLUTION-LIST")) {
    if (EqualsIgnoreCase(value, "TRUE")) m_card.m_kind = CardKind::Group;
  } else if (EqualsIgnoreCase(name, "X-ABLABEL") && !property.group.empty()) {
    std::string label;
    if (!DecodeText(line, property, label)) return false;
    if (const auto classified = ClassifyLabel(label)) {
      m_labels.push_back({std::string(property.group), *classified});
    }
  }
  return true;
}

void VCardParser::Finish() {
  if (!m_file_as_seen) m_card.m_file_as = std::move(m_fn);
  // Sorted by group, so finding a TEL's label stays cheap however many items a hostile file has;
  // the stable sort keeps a group's first label first.
  const auto group_less = [](const Label& a, const Label& b) {
    return LessIgnoreCase(a.group, b.group);
  };
  std::stable_sort(m_labels.begin(), m_labels.end(), group_less);
  bool home_seen = false;
  bool work_seen = false;
  std::array<std::size_t, kPhoneFieldCount> per_field{};
  for (PendingTel& tel : m_tels) {
    Classified classified = tel.classified;
    if (classified.label_may_decide && !tel.group.empty()) {
      const Label key{tel.group, {}};
      const auto found = std::lower_bound(m_labels.begin(), m_labels.end(), key, group_less);
      if (found != m_labels.end() && EqualsIgnoreCase(found->group, tel.group)) {
        classified = found->classified;
      }
    }
    PhoneField field = classified.field;
    if (classified.placement == Placement::HomePair) {
      field = home_seen ? PhoneField::Home2 : PhoneField::Home;
      home_seen = true;
    } else if (classified.placement == Placement::WorkPair) {
      field = work_seen ? PhoneField::Business2 : PhoneField::Business;
      work_seen = true;
    }
    tel.entry.field = field;
    if (tel.left_as_is.empty()) {
      ++per_field[static_cast<std::size_t>(field)];
    } else {
      m_card.m_left_as_is.push_back({field, tel.left_as_is});
    }
  }
  // A counting sort keeps file order within each field.
  std::array<std::size_t, kPhoneFieldCount> next{};
  std::size_t total = 0;
  for (std::size_t f = 0; f < per_field.size(); ++f) {
    next[f] = total;
    total += per_field[f];
  }
  m_card.m_phones.resize(total);
  m_card.m_slots.resize(total);
  for (PendingTel& tel : m_tels) {
    if (!tel.left_as_is.empty()) continue;
    const std::size_t at = next[static_cast<std::size_t>(tel.entry.field)]++;
    m_card.m_phones[at] = std::move(tel.entry);
    m_card.m_slots[at] = std::move(tel.slot);
  }
}

ParsedVCard VCardParser::Run() {
  ParsedVCard result;
  const auto fail = [&result](std::string error) {
    result.error = std::move(error);
    return std::move(result);
  };
  if (m_in.size() > kMaxVCardBytes) return fail("the file is larger than 4 MiB");
  if (m_in.size() >= 2 &&
      ((m_in[0] == '\xFF' && m_in[1] == '\xFE') || (m_in[0] == '\xFE' && m_in[1] == '\xFF'))) {
    return fail("the file is UTF-16 text, not UTF-8");
  }
  if (const void* nul = std::memchr(m_in.data(), '\0', m_in.size())) {
    const auto offset = static_cast<std::size_t>(static_cast<const char*>(nul) - m_in.data());
    const auto lines =
        std::count(m_in.begin(), m_in.begin() + static_cast<std::ptrdiff_t>(offset), '\n');
    return fail("line " + std::to_string(lines + 1) + " holds a NUL byte");
  }

  enum class Where { Before, Inside, After };
  Where where = Where::Before;
  std::size_t pos = m_in.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
  Logical line;
  PropertyView property;
  while (pos < m_in.size()) {
    ReadLogical(pos, line);
    pos = line.end;
    if (line.text.empty()) continue;
    const auto at_line = [&line](std::string_view what) {
      return "line " + std::to_string(line.line_number) + std::string(what);
    };
    property = PropertyView{};
    const bool is_property = SplitProperty(line.text, property);
    const bool is_begin = is_property && property.group.empty() && property.params.empty() &&
                          EqualsIgnoreCase(property.name, "BEGIN") &&
                          EqualsIgnoreCase(TrimBlanks(property.value), "VCARD");
    switch (where) {
      case Where::Before:
        if (!is_begin) return fail("no BEGIN:VCARD line");
        m_card.m_crlf = line.first_crlf;
        where = Where::Inside;
        break;
      case Where::Inside:
        if (!is_property) return fail(at_line(" is not a property"));
        if (!IsUtf8(line.text)) {
          const Encoding encoding = EncodingOf(property.params);
          if (!encoding.charset_named || encoding.charset == VCardCharset::Utf8) {
            return fail(at_line(" is not UTF-8 text"));
          }
        }
        if (EqualsIgnoreCase(property.name, "END") &&
            EqualsIgnoreCase(TrimBlanks(property.value), "VCARD")) {
          where = Where::After;
          break;
        }
        if (!HandleProperty(line, property)) return fail(std::move(m_error));
        break;
      case Where::After:
        if (is_begin) return fail("the file holds more than one card");
        return fail(at_line(" follows END:VCARD"));
    }
  }
  if (where == Where::Before) return fail("the file holds no card");
  if (where == Where::Inside) return fail("no END:VCARD line");
  Finish();
  m_card.m_bytes.assign(m_in);
  result.card = std::move(m_card);
  return result;
}

ParsedVCard ParseVCard(std::string_view bytes) {
  return VCardParser(bytes).Run();
}

namespace {

struct Edit {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::string text;
};

// How a property's value was written, so a new value reads back the same way.
struct ValueForm {
  VCardCharset charset = VCardCharset::Utf8;
  bool quoted_printable = false;
  bool base64 = false;
  bool uri = false;
  bool escape_commas = false;
  bool escape_semicolons = false;
};

// Why a new text number cannot go into the value, or empty text when it can.
std::string ProblemWithTextNumber(std::string_view number, const ValueForm& form) {
  if (!IsUtf8(number)) return "the new number is not UTF-8 text";
  if (StartsWithIgnoreCase(number, "tel:")) return "the new number would read as a tel: URI";
  if (form.base64) {
    // The reader leaves an encoded value holding one as it is, so it would never convert again.
    if (const std::string_view control = FirstControl(number); !control.empty()) {
      return "the new number holds " + DescribeCharacter(control) + ", a control character";
    }
  }
  if (number.find('\0') != std::string_view::npos) return "the new number holds a NUL character";
  if (!form.quoted_printable && number.find('\r') != std::string_view::npos) {
    return "the new number holds a carriage return, which the card cannot carry";
  }
  return {};
}

// How a base64 value was laid out over its lines, so a new value is laid out the same way.
struct Base64Layout {
  bool padded = true;
  bool on_next_line = false;  // the property's first line holds no data
  std::string_view indent = " ";
  std::string_view line_end;
  std::size_t width = kFoldLimit;  // longest line, line end not counted
};

// Reads the layout of the value `raw` (from just after the colon, at `column`, to its last line
// end). The width is that of the longest line holding data before the last; a value on one data
// line keeps to it, or to 75 octets if that is longer. Padding counts as left off only where the
// value's length shows it.
Base64Layout LayoutOf(std::string_view raw, std::size_t column, std::string_view line_end) {
  Base64Layout layout;
  layout.line_end = line_end;
  std::size_t data = 0;
  std::size_t widest = 0;
  for (std::size_t begin = 0, index = 0;; ++index) {
    const std::size_t newline = raw.find('\n', begin);
    std::string_view line = raw.substr(
        begin, newline == std::string_view::npos ? std::string_view::npos : newline - begin);
    const bool crlf = newline != std::string_view::npos && line.ends_with('\r');
    if (crlf) line.remove_suffix(1);
    const std::size_t length = (index == 0 ? column : 0) + line.size();
    const std::size_t line_data = static_cast<std::size_t>(
        std::count_if(line.begin(), line.end(), [](char c) { return c != ' ' && c != '\t'; }));
    data += line_data;
    if (index == 1) layout.indent = line.substr(0, line.find_first_not_of(" \t"));
    if (newline == std::string_view::npos) {
      if (widest == 0) layout.width = std::max(kFoldLimit, length);
      break;
    }
    if (index == 0) {
      layout.line_end = crlf ? "\r\n" : "\n";
      layout.on_next_line = line_data == 0;
    }
    if (line_data > 0) layout.width = widest = std::max(widest, length);
    begin = newline + 1;
  }
  layout.padded = data % 4 == 0;
  return layout;
}

// Appends `bytes` in base64 laid out as `layout` says, from `column` on.
void AppendBase64Value(std::string_view bytes, const Base64Layout& layout, std::size_t column,
                       std::string& out) {
  std::string encoded;
  encoded.reserve(bytes.size() / 3 * 4 + 4);
  AppendBase64(encoded, bytes, layout.padded);
  if (encoded.empty()) return;
  bool line_start = false;
  const auto new_line = [&] {
    out += layout.line_end;
    out += layout.indent;
    column = layout.indent.size();
    line_start = true;
  };
  if (layout.on_next_line) new_line();
  for (std::size_t at = 0; at < encoded.size();) {
    std::size_t room = layout.width > column ? layout.width - column : 0;
    if (room == 0 && !line_start) {
      new_line();
      continue;
    }
    // Each line carries some data, however deep its indent.
    room = std::min(std::max<std::size_t>(room, 1), encoded.size() - at);
    out.append(encoded, at, room);
    at += room;
    column += room;
    line_start = false;
  }
}

// The value's bytes in `charset`, or why a character cannot be written in it.
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

// Appends `value` written in `form` and folded from `column` on; returns why it cannot be written,
// or empty text when it was.
std::string EncodeValue(std::string_view value, const ValueForm& form, std::size_t column,
                        std::string_view line_end, std::string& out) {
  FoldingWriter writer(out, column, line_end, form.quoted_printable);
  std::string unit;
  for (std::size_t at = 0; at < value.size();) {
    const std::size_t length = std::max<std::size_t>(Utf8Length(value, at), 1);
    const std::string_view character = value.substr(at, length);
    at += length;
    std::string_view bytes = character;
    const char c = character[0];
    if (!form.uri && c == '\\') {
      bytes = "\\\\";
    } else if (!form.uri && c == ',' && form.escape_commas) {
      bytes = "\\,";
    } else if (!form.uri && c == ';' && form.escape_semicolons) {
      bytes = "\\;";
    } else if (!form.uri && c == '\n' && !form.quoted_printable) {
      bytes = "\\n";
    }
    char single = '\0';
    if (length > 1 && form.charset != VCardCharset::Utf8) {
      const auto byte = ByteOfCode(CodePointOf(character), form.charset);
      if (!byte) return "the card's character set cannot carry " + DescribeCharacter(character);
      single = static_cast<char>(*byte);
      bytes = std::string_view(&single, 1);
    }
    unit.clear();
    if (form.quoted_printable) {
      AppendQuotedPrintable(unit, bytes, at >= value.size());
    } else {
      unit.assign(bytes);
    }
    writer.Put(unit);
  }
  return {};
}

}  // namespace

VCardRewrite RewriteVCard(const VCard& card, std::span<const PhoneChange> changes) {
  VCardRewrite result;
  const std::vector<PhoneEntry>& phones = card.m_phones;
  std::vector<const std::string*> wanted(phones.size(), nullptr);
  for (const PhoneChange& change : changes) {
    if (change.index >= phones.size()) {
      result.rejected.push_back(
          {change.index, "the card has no phone entry " + std::to_string(change.index)});
      continue;
    }
    wanted[change.index] = &change.number;
  }

  std::vector<Edit> edits;
  for (std::size_t i = 0; i < phones.size(); ++i) {
    if (wanted[i] == nullptr || *wanted[i] == phones[i].number) continue;
    const VCard::TelSlot& slot = card.m_slots[i];
    ValueForm form;
    form.charset = slot.charset;
    form.quoted_printable = slot.quoted_printable;
    form.base64 = slot.base64;
    form.uri = !slot.uri_scheme.empty();
    // Version 4.0 asks for every comma in a text value to be escaped; older cards escape them only
    // where their writer already did.
    form.escape_commas = slot.escaped_commas || card.m_version == VCardVersion::V40;
    form.escape_semicolons = slot.escaped_semicolons;

    std::string value;
    if (form.uri) {
      TelUriNumber converted = TelUriFromNumber(*wanted[i]);
      if (!converted.number) {
        result.rejected.push_back({i, std::move(converted.error)});
        continue;
      }
      value = slot.uri_scheme + *converted.number + slot.uri_suffix;
    } else {
      std::string problem = ProblemWithTextNumber(*wanted[i], form);
      if (!problem.empty()) {
        result.rejected.push_back({i, std::move(problem)});
        continue;
      }
      value = *wanted[i];
    }

    const std::string_view prefix(card.m_bytes.data() + slot.property_begin,
                                  slot.value_begin - slot.property_begin);
    const std::size_t last_newline = prefix.rfind('\n');
    const std::size_t column =
        last_newline == std::string_view::npos ? prefix.size() : prefix.size() - last_newline - 1;
    Edit edit{slot.value_begin, slot.value_end, {}};
    std::string problem;
    if (form.base64) {
      std::string bytes_in_charset;
      problem = InCharset(value, form.charset, bytes_in_charset);
      const std::string_view raw(card.m_bytes.data() + slot.value_begin,
                                 slot.value_end - slot.value_begin);
      if (problem.empty()) {
        AppendBase64Value(bytes_in_charset, LayoutOf(raw, column, card.LineEnd()), column,
                          edit.text);
      }
    } else {
      problem = EncodeValue(value, form, column, card.LineEnd(), edit.text);
    }
    if (!problem.empty()) {
      result.rejected.push_back({i, std::move(problem)});
      continue;
    }
    edits.push_back(std::move(edit));
  }

  std::sort(edits.begin(), edits.end(),
            [](const Edit& a, const Edit& b) { return a.begin < b.begin; });
  const std::string& bytes = card.m_bytes;
  std::size_t extra = 0;
  for (const Edit& edit : edits) extra += edit.text.size();
  result.bytes.reserve(bytes.size() + extra);
  std::size_t copied = 0;
  for (const Edit& edit : edits) {
    result.bytes.append(bytes, copied, edit.begin - copied);
    result.bytes += edit.text;
    copied = edit.end;
  }
  result.bytes.append(bytes, copied, std::string::npos);
  std::sort(result.rejected.begin(), result.rejected.end(),
            [](const RejectedChange& a, const RejectedChange& b) { return a.index < b.index; });
  return result;
}

TelUriNumber TelUriFromNumber(std::string_view number) {
  TelUriNumber result;
  std::string out;
  out.reserve(number.size());
  bool in_spaces = false;
  for (const char c : number) {
    if (c == '(' || c == ')') continue;
    if (c == ' ') {
      if (!in_spaces) out += '-';
      in_spaces = true;
      continue;
    }
    in_spaces = false;
    out += c;
  }
  if (out.empty()) {
    result.error = "a tel: URI cannot carry an empty number";
    return result;
  }
  // A global number is "+" and digits; a local one may also hold the hex digits A to F, "*" and
  // "#". Either may hold "-" and "." as visual separators.
  const bool global = out[0] == '+';
  bool has_digit = false;
  for (std::size_t i = global ? 1 : 0; i < out.size();) {
    const char c = out[i];
    const bool digit = c >= '0' && c <= '9';
    const bool local_digit =
        !global && ((c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f') || c == '*' || c == '#');
    if (digit || local_digit) {
      has_digit = true;
    } else if (c != '-' && c != '.') {
      const std::size_t length = std::max<std::size_t>(Utf8Length(out, i), 1);
      result.error =
          "a tel: URI cannot carry " + DescribeCharacter(std::string_view(out).substr(i, length));
      return result;
    }
    ++i;
  }
  if (!has_digit) {
    result.error = "a tel: URI cannot carry a number without digits";
    return result;
  }
  result.number = std::move(out);
  return result;
}

}  // namespace dialmend
