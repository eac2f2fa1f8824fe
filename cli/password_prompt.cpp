#include "cli/password_prompt.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace dialmend {

bool CanAskOnTerminal() {
  return ::isatty(STDIN_FILENO) != 0;
}

std::optional<std::string> AskPasswordOnTerminal(const std::string& prompt, std::FILE* err,
                                                 const volatile std::sig_atomic_t* interrupts) {
  termios saved{};
  if (::tcgetattr(STDIN_FILENO, &saved) != 0) return std::nullopt;
  termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  std::fputs(prompt.c_str(), err);
  std::fflush(err);
  if (::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) != 0) return std::nullopt;
  std::string password;
  bool ended = false;
  // poll, unlike a read restarted after the signal handler, returns on Ctrl-C, so an
  // interrupted prompt gives the terminal its echo back before anything else happens.
  while (!ended) {
    if (*interrupts > 0) break;
    pollfd input{STDIN_FILENO, POLLIN, 0};
    const int ready = ::poll(&input, 1, -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    char c = 0;
    const ssize_t got = ::read(STDIN_FILENO, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    if (c == '\n') {
      ended = true;
    } else {
      password.push_back(c);
    }
  }
  ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
  std::fputc('\n', err);
  std::fflush(err);
  if (!ended) return std::nullopt;
  if (!password.empty() && password.back() == '\r') password.pop_back();
  return password;
}

}  // namespace dialmend
