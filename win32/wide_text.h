#pragma once

#include <string>
#include <string_view>

// Our UTF-8 as the Win32 controls show it, and back.

namespace dialmend {

// `text` as UTF-16; a byte that is not UTF-8 shows as U+FFFD.
[[nodiscard]] std::wstring Wide(std::string_view text);

// `text` as UTF-8; a lone surrogate becomes U+FFFD.
[[nodiscard]] std::string Narrow(std::wstring_view text);

// `text` with its lines ended as a static or edit control shows them (CR LF).
[[nodiscard]] std::wstring WindowsLines(std::string_view text);

}  // namespace dialmend
