#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/fix_number.h"

namespace dialmend {

// One input and what the converter gave for it when the results were recorded.
struct RecordedResult {
  std::string_view input;
  std::string_view with_defaults;  // under the start-up options
  std::uint64_t digest;            // of the results under every option set of RecordedOptions
};

// Every style, prefix and zero option, including the out-of-range zero option, and a few
// search-and-replace texts, one of which brings in non-ASCII text.
inline std::vector<NumberOptions> RecordedOptions() {
  std::vector<NumberOptions> all;
  for (int style = 0; style <= 3; ++style) {
    for (int prefix = 0; prefix <= 2; ++prefix) {
      for (int zero = 0; zero <= 3; ++zero) {
        NumberOptions o;
        o.style = StyleFromNumber(style);
        o.prefix = PrefixFromNumber(prefix);
        o.leading_zero = ZeroFromNumber(zero);
        all.push_back(o);
      }
    }
  }
  const std::pair<std::string_view, std::string_view> replacements[] = {
      {"0171", "0207"}, {"+44", "0044"}, {"0", ""}, {"Tel", "T\xc3\xa9l\xc3\xa9phone"}};
  for (const auto& [find, replacement] : replacements) {
    NumberOptions o;
    o.replace = true;
    o.find = find;
    o.replacement = replacement;
    all.push_back(o);
  }
  return all;
}

// FNV-1a over each result's length and bytes, so results that only split differently differ.
inline std::uint64_t DigestOfResults(std::string_view input,
                                     const std::vector<NumberOptions>& options) {
  std::uint64_t hash = 14695981039346656037ULL;
  const auto add = [&hash](unsigned char byte) {
    hash ^= byte;
    hash *= 1099511628211ULL;
  };
  for (const NumberOptions& o : options) {
    const std::string result = FixNumber(input, o);
    for (std::size_t n = result.size(), k = 0; k < 8; ++k, n >>= 8) {
      add(static_cast<unsigned char>(n & 0xff));
    }
    for (char c : result) add(static_cast<unsigned char>(c));
  }
  return hash;
}

}  // namespace dialmend
