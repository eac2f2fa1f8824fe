#pragma once

#include <string_view>

// Windows only: a window program has no console of its own.

namespace dialmend {

// Writes `text` (UTF-8, "\n" line ends) where the user who started this window program reads
// it: its standard output, or standard error with `error`, when it was given one (a pipe, a
// file), else the console of the program that started it (cmd.exe, PowerShell). False when
// there is neither, as when started from Explorer or a shortcut.
[[nodiscard]] bool WriteToStartingConsole(std::string_view text, bool error);

}  // namespace dialmend
