#pragma once

#include <string>

namespace dialmend {

// The user's desktop folder (XDG_DESKTOP_DIR from user-dirs.dirs), else the home folder.
[[nodiscard]] std::string DesktopDirectory();

}  // namespace dialmend
