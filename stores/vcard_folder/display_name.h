#pragma once

#include <string>

namespace dialmend {

// The first line of the folder's displayname file. Opened without waiting and read only when
// it is a regular file: a FIFO or a device there would block the walk or never end.
// `why_not` says why a displayname that is there was not used; an empty text then, as when
// there is none. Never throws.
[[nodiscard]] std::string ReadDisplayName(const std::string& folder, std::string& why_not);

}  // namespace dialmend
