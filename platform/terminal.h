#pragma once

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>

// The standard streams of a console program: what they are attached to, and how they carry
// bytes.

namespace dialmend {

// Whether `stream` is a terminal (a console on Windows).
[[nodiscard]] bool IsTerminal(std::FILE* stream);

// How many columns the terminal `stream` writes to has; std::nullopt when that cannot be told.
[[nodiscard]] std::optional<std::size_t> TerminalWidth(std::FILE* stream);

// Whether `path` names the file `stream` writes to (a user's /dev/stdout). Always false on
// Windows, where a path cannot name a standard stream.
[[nodiscard]] bool NamesStreamFile(const std::string& path, std::FILE* stream);

// `stream` carries bytes as they are, with no CR LF translation on Windows.
void UseBinaryMode(std::FILE* stream);

}  // namespace dialmend
