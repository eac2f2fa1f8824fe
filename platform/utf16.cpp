#include "platform/utf16.h"

#include "platform/utf8.h"

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
        AppendUtf8(out, FromSurrogates(unit, low));
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
    char32_t c;
    if (!DecodeUtf8At(text, i, c)) return std::nullopt;
    if (c >= 0x10000) {
      out.push_back(static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<wchar_t>(c));
    }
  }
  return out;
}

}  // namespace dialmend
