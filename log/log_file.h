#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace dialmend {

// The user's desktop folder (XDG_DESKTOP_DIR from user-dirs.dirs), else the home folder.
[[nodiscard]] std::string DesktopDirectory();

// The first "<folder>/Dialmend Log N.txt", N counting from 1, for which `exists` is false.
// The search has no upper limit.
[[nodiscard]] std::string DefaultLogPath(const std::string& folder,
                                         const std::function<bool(const std::string&)>& exists);

// DefaultLogPath on the desktop, testing the file system.
[[nodiscard]] std::string SetLogFile();

// Writes the whole log to `path` as UTF-8, replacing any file there. Returns the message for
// the user ('Cannot save the log to "…": reason.') when it could not be written.
[[nodiscard]] std::optional<std::string> SaveLogFile(const std::string& path, std::string_view text);

}  // namespace dialmend
