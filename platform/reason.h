#pragma once

#include <string>
#include <system_error>

// The system's words for an error, as the reason in a message: Cannot save "Ann.vcf": permission
// denied.

namespace dialmend {

// `text` made to sit after a colon: a capital first letter is lowered unless the word is an
// initialism.
[[nodiscard]] std::string AsReason(std::string text);

// The system's words for `error`, as AsReason gives them.
[[nodiscard]] std::string ErrorText(const std::error_code& error);

}  // namespace dialmend
