#include "platform/utf16.h"

#include "engine/utf8.h"

namespace dialmend {
namespace {

// Converts, replacing each lone surrogate with U+FFFD; returns false when it had to.
bool ConvertUtf16(std::wstring_view text, std::string& out) {
  bool exact = true;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char32_t unit = static_cast<char16_t>(text[i]);
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size()) {
      const char32_t low = static_cast<char16_t>(text[i + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    if (unit >= 0xD800 && unit <= 0xDFFF) {
      exact = false;
      AppendUtf8(out, 0xFFFD);
      continue;
    }
    AppendUtf8(out, unit);
  }
  return exact;
}

}  // namespace

std::optional<std::string> Utf16ToUtf8(std::wstring_view text) {
  std::string out;
  if (!ConvertUtf16(text, out)) return std::nullopt;
  return out;
}

std::string Utf16ToUtf8Lossy(std::wstring_view text) {
  std::string out;
  (void)ConvertUtf16(text, out);
  return out;
}

std::optional<std::wstring> Utf8ToUtf16(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    char32_t c;
    std::size_t length;
    char32_t minimum;
    if (byte < 0x80) {
      c = byte, length = 1, minimum = 0;
    } else if ((byte & 0xE0) == 0xC0) {
      c = byte & 0x1F, length = 2, minimum = 0x80;
    } else if ((byte & 0xF0) == 0xE0) {
      c = byte & 0x0F, length = 3, minimum = 0x800;
    } else if ((byte & 0xF8) == 0xF0) {
      c = byte & 0x07, length = 4, minimum = 0x10000;
    } else {
      return std::nullopt;
    }
    if (i + length > text.size()) return std::nullopt;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      c = (c << 6) | (next & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
    if (c >= 0x10000) {
      out.push_back(static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<wchar_t>(c));
    }
    i += length;
  }
  return out;
}

}  // namespace dialmend
