#pragma once

#include <string>
#include <string_view>

namespace dialmend {

// True when every byte is below 0x80.
[[nodiscard]] bool IsAscii(std::string_view text) noexcept;

// True for well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
[[nodiscard]] bool IsValidUtf8(std::string_view text) noexcept;

// Decodes well-formed UTF-8 into code points; returns false, leaving `out` unspecified,
// when the text is not well-formed.
[[nodiscard]] bool DecodeUtf8(std::string_view text, std::u32string& out);

// Appends the UTF-8 form of one code point taken from well-formed text.
void AppendUtf8(std::string& out, char32_t code_point);

}  // namespace dialmend
