#include "stores/vcard/encoding.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/utf8.h"
#include "stores/vcard/charset.h"
#include "stores/vcard/lines.h"
#include "stores/vcard/tel_type.h"
#include "stores/vcard/text.h"

namespace dialmend {
namespace {

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

std::string DecodeQuotedPrintable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '=' && i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 &&
        HexDigitValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2]));
      i += 2;
    } else {
      // A malformed escape is kept as written rather than lost.
      out += text[i];
    }
  }
  return out;
}

}  // namespace

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
  } else if (charset == VCardCharset::Converted) {
    // Even ASCII bytes go through: a 7-bit set such as ISO-2022-JP shifts with escape sequences.
    std::string converted;
    if (!ConvertToUtf8(encoding.charset_name, bytes, converted)) return DecodeError::NotInCharset;
    storage = std::move(converted);
    out = storage;
    return DecodeError::None;
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

std::string DecodeAsWindows1252(std::string_view raw, const Encoding& encoding) {
  const std::string qp_decoded = encoding.quoted_printable ? DecodeQuotedPrintable(raw) : "";
  const std::string_view bytes = encoding.quoted_printable ? std::string_view(qp_decoded) : raw;
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  for (const char c : bytes) {
    AppendUtf8(out, CodeOfByte(static_cast<unsigned char>(c), VCardCharset::Windows1252));
  }
  return out;
}

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
    case DecodeError::NotInCharset:
      return "its base64 value is not text in the character set " +
             Printable(encoding.charset_name);
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

}  // namespace dialmend
