#pragma once

#include <string>

namespace dialmend {

// The user's desktop folder (XDG_DESKTOP_DIR from user-dirs.dirs), else the home folder.
[[nodiscard]] std::string DesktopDirectory();

#ifdef _WIN32
// DesktopDirectory()'s choice on Windows, as UTF-8: the shell's Desktop folder when it is a
// folder, else the profile folder, else "."; either may be empty text. A seam for the tests.
[[nodiscard]] std::string ChooseDesktopDirectory(const std::wstring& shell_desktop,
                                                 const std::wstring& profile);
#endif

}  // namespace dialmend
