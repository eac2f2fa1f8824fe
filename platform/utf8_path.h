#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace dialmend {

// Our text is UTF-8. A plain std::string turns into a path through the C library's code page on
// Windows (and comes back out as UTF-8), so every path made from our text goes through these.

// The path named by UTF-8 text, exactly, on every platform.
[[nodiscard]] inline std::filesystem::path PathFromUtf8(std::string_view text) {
  return std::filesystem::path(
      std::u8string_view(reinterpret_cast<const char8_t*>(text.data()), text.size()));
}

// The path as UTF-8 text.
[[nodiscard]] inline std::string Utf8FromPath(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace dialmend
