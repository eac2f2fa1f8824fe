#pragma once

#include <csignal>
#include <cstddef>
#include <cstdio>
#include <memory>
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

#ifndef _WIN32
// The terminal on standard input, its mode remembered on construction so that its echo can be
// turned off and put back; put back at the latest when this goes. Each change drops what was
// typed and not yet read, as a password prompt wants.
class TerminalInput {
 public:
  TerminalInput();
  TerminalInput(const TerminalInput&) = delete;
  TerminalInput& operator=(const TerminalInput&) = delete;
  ~TerminalInput();

  // Whether the mode was read: standard input is a terminal.
  [[nodiscard]] bool Ok() const { return m_saved != nullptr; }
  // Turns the echo off; false when the terminal refuses.
  [[nodiscard]] bool EchoOff();
  // Puts the remembered mode back, when the echo was turned off.
  void Restore();

 private:
  struct Mode;
  std::unique_ptr<Mode> m_saved;
  bool m_changed = false;
};

// The next byte on standard input, waited for; std::nullopt at the end of input, on a read
// error, or once `interrupts` counts above zero, which a Ctrl-C shows at once even mid-wait.
[[nodiscard]] std::optional<char> NextInputByte(const volatile std::sig_atomic_t* interrupts);
#endif

}  // namespace dialmend
