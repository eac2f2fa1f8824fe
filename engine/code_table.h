#pragma once

#include <span>
#include <string_view>

namespace dialmend {

// One row of the UK area-code changes of 22 April 2000.
struct CodeChange {
  std::string_view old_code;  // matched exactly against the area code as found
  std::string_view new_code;
  std::string_view pattern;  // "X" takes the next digit of the old local part
  char lead_digit;           // put before a five-character local part; '\0' for none
};

// All 80 rows, in the order the converter tests them.
[[nodiscard]] std::span<const CodeChange> CodeChanges() noexcept;

// The row whose old code equals `area_code`, or nullptr.
[[nodiscard]] const CodeChange* FindCodeChange(std::string_view area_code) noexcept;

}  // namespace dialmend
