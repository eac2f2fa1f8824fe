#include "stores/vcard/charset.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/utf8.h"
#include "stores/vcard/text.h"

// mingw has no iconv; there, a set not known here stays unread, as Other.
#if !defined(_WIN32) && __has_include(<iconv.h>)
#include <iconv.h>

#include <cerrno>
#include <cstdint>
#define DIALMEND_HAS_ICONV 1
#else
#define DIALMEND_HAS_ICONV 0
#endif

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

#if DIALMEND_HAS_ICONV

// The name handed to iconv for a CHARSET value, or empty text for a value that is no plain name
// (iconv reads "//" suffixes as options). The phones that write SHIFT_JIS mean a backslash by the
// byte 0x5C, as Windows' CP932 does; the C library's SHIFT_JIS reads a yen sign there.
std::string IconvName(std::string_view name) {
  constexpr std::size_t kLongestName = 40;
  if (name.empty() || name.size() > kLongestName) return {};
  for (const char c : name) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '_' || c == '.' || c == ':';
    if (!plain) return {};
  }
  for (const std::string_view shift_jis :
       {"SHIFT_JIS", "SHIFT-JIS", "SJIS", "X-SJIS", "MS_KANJI"}) {
    if (EqualsIgnoreCase(name, shift_jis)) return "CP932";
  }
  return std::string(name);
}

// One iconv conversion, closed when it goes.
class Iconv {
 public:
  Iconv(const std::string& to, const std::string& from)
      : m_cd(to.empty() || from.empty() ? kNone : iconv_open(to.c_str(), from.c_str())) {}
  ~Iconv() {
    if (m_cd != kNone) iconv_close(m_cd);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;

  // Converts all of `in` and returns to the initial shift state; false when a byte sequence is not
  // text in the source set, or a character has no exact form in the target one.
  bool Convert(std::string_view in, std::string& out) {
    out.clear();
    if (m_cd == kNone) return false;
    iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
    // iconv takes a non-const pointer but does not write through it.
    char* in_at = const_cast<char*>(in.data());
    std::size_t in_left = in.size();
    std::array<char, 256> buffer{};
    bool flushing = false;
    for (;;) {
      char* out_at = buffer.data();
      std::size_t out_left = buffer.size();
      const std::size_t result = flushing ? iconv(m_cd, nullptr, nullptr, &out_at, &out_left)
                                          : iconv(m_cd, &in_at, &in_left, &out_at, &out_left);
      out.append(buffer.data(), static_cast<std::size_t>(out_at - buffer.data()));
      if (result == static_cast<std::size_t>(-1)) {
        if (errno == E2BIG) continue;
        return false;
      }
      // A conversion the C library calls irreversible would not read back the same.
      if (result != 0) return false;
      if (flushing) return true;
      flushing = true;
    }
  }

 private:
  static inline const iconv_t kNone = reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1));
  iconv_t m_cd;
};

#endif

}  // namespace

bool CanConvertCharset(std::string_view name) {
#if DIALMEND_HAS_ICONV
  // A card names its set on many lines; each asks once.
  thread_local std::string last_name;
  thread_local bool last_answer = false;
  if (!last_name.empty() && name == last_name) return last_answer;
  const std::string iconv_name = IconvName(name);
  Iconv decoder("UTF-8", iconv_name);
  Iconv encoder(iconv_name, "UTF-8");
  std::string probe;
  for (char c = 0x20; c < 0x7F; ++c) probe += c;
  probe += '\t';
  std::string decoded;
  std::string encoded;
  last_answer = decoder.Convert(probe, decoded) && decoded == probe &&
                encoder.Convert(probe, encoded) && encoded == probe;
  last_name.assign(name);
  return last_answer;
#else
  (void)name;
  return false;
#endif
}

bool ConvertToUtf8(std::string_view name, std::string_view bytes, std::string& out) {
#if DIALMEND_HAS_ICONV
  Iconv decoder("UTF-8", IconvName(name));
  return decoder.Convert(bytes, out);
#else
  (void)name;
  (void)bytes;
  out.clear();
  return false;
#endif
}

namespace {

// Writes UTF-8 text in the set `name` through the C library; false when a character has no form in
// it.
bool ConvertFromUtf8(std::string_view name, std::string_view text, std::string& out) {
#if DIALMEND_HAS_ICONV
  Iconv encoder(IconvName(name), "UTF-8");
  return encoder.Convert(text, out);
#else
  (void)name;
  (void)text;
  out.clear();
  return false;
#endif
}

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
    case VCardCharset::Converted:
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
  if (CanConvertCharset(name)) return VCardCharset::Converted;
  return std::nullopt;
}

std::string InCharset(std::string_view value, VCardCharset charset, std::string_view name,
                      std::string& out) {
  if (charset == VCardCharset::Utf8 || IsAscii(value)) {
    out.assign(value);
    return {};
  }
  out.clear();
  std::string converted;
  for (std::size_t at = 0; at < value.size();) {
    std::size_t end = at;
    char32_t code = 0;
    const std::size_t length = DecodeUtf8At(value, end, code) ? end - at : 1;
    const std::string_view character = value.substr(at, length);
    at += length;
    if (length == 1) {
      out += character[0];
      continue;
    }
    // Character by character, so the one that fails can be named; each comes back to the initial
    // shift state, which a stateful set such as ISO-2022-JP needs between folds.
    if (charset == VCardCharset::Converted) {
      if (!ConvertFromUtf8(name, character, converted)) {
        return "the card's character set cannot carry " + DescribeCharacter(character);
      }
      out += converted;
      continue;
    }
    const auto byte = ByteOfCode(code, charset);
    if (!byte) return "the card's character set cannot carry " + DescribeCharacter(character);
    out += static_cast<char>(*byte);
  }
  return {};
}

}  // namespace dialmend
