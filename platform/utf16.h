#pragma once

#include <optional>
#include <string>
#include <string_view>

// Windows text is UTF-16 in wchar_t; ours is UTF-8. Windows only: elsewhere wchar_t is not UTF-16.

namespace dialmend {

// UTF-16 to UTF-8, exactly; std::nullopt when the text holds a lone surrogate.
[[nodiscard]] std::optional<std::string> Utf16ToUtf8(std::wstring_view text);

// UTF-16 to UTF-8 for display: each lone surrogate becomes U+FFFD.
[[nodiscard]] std::string Utf16ToUtf8Lossy(std::wstring_view text);

// UTF-8 to UTF-16, exactly; std::nullopt for text that is not well-formed UTF-8.
[[nodiscard]] std::optional<std::wstring> Utf8ToUtf16(std::string_view text);

}  // namespace dialmend
