#pragma once

#include <csignal>
#include <cstdio>
#include <optional>
#include <string>

// Asking for a password on the terminal, POSIX only.

namespace dialmend {

// Whether standard input is a terminal, so a password can be asked for on it.
[[nodiscard]] bool CanAskOnTerminal();

// Shows `prompt` on `err` and reads one line from the terminal on standard input with echo
// off, echo restored however it ends. std::nullopt at the end of input, on a read error, or
// as soon as `interrupts` counts a Ctrl-C or termination signal.
[[nodiscard]] std::optional<std::string> AskPasswordOnTerminal(
    const std::string& prompt, std::FILE* err, const volatile std::sig_atomic_t* interrupts);

}  // namespace dialmend
