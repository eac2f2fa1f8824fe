#pragma once

#include <string>
#include <string_view>

#include "engine/number_options.h"

namespace dialmend {

// Converts one telephone number text under `options`: UK code change, then the number style
// and international options. Always returns a text; there is no failure result. Text that is
// not valid UTF-8, and any text under NumberStyle::Unchanged, comes back unchanged.
[[nodiscard]] std::string FixNumber(std::string_view number, const NumberOptions& options);

// `text` with every space character removed; other characters stay.
[[nodiscard]] std::string StripSpace(std::string_view text);

}  // namespace dialmend
