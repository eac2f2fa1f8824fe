#include "cli/password_prompt.h"

#include "platform/terminal.h"

namespace dialmend {

bool CanAskOnTerminal() {
  return IsTerminal(stdin);
}

std::optional<std::string> AskPasswordOnTerminal(const std::string& prompt, std::FILE* err,
                                                 const volatile std::sig_atomic_t* interrupts) {
  TerminalInput terminal;
  if (!terminal.Ok()) return std::nullopt;
  std::fputs(prompt.c_str(), err);
  std::fflush(err);
  if (!terminal.EchoOff()) return std::nullopt;
  std::string password;
  bool ended = false;
  while (!ended) {
    const std::optional<char> c = NextInputByte(interrupts);
    if (!c) break;
    if (*c == '\n') {
      ended = true;
    } else {
      password.push_back(*c);
    }
  }
  terminal.Restore();
  std::fputc('\n', err);
  std::fflush(err);
  if (!ended) return std::nullopt;
  if (!password.empty() && password.back() == '\r') password.pop_back();
  return password;
}

}  // namespace dialmend
