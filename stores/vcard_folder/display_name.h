#pragma once

#include <string>

#include "platform/result.h"

namespace dialmend {

// The first line of the folder's displayname file. Opened without waiting and read only when
// it is a regular file: a FIFO or a device there would block the walk or never end.
// An empty text when there is none; a failure says why a displayname that is there was not
// used. Never throws.
[[nodiscard]] Result<std::string> ReadDisplayName(const std::string& folder);

}  // namespace dialmend
