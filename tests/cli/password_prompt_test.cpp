#include "cli/password_prompt.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "tests/cli/capture.h"

namespace dialmend {
namespace {

// What a prompt on a terminal showed and gave: the child answers on a pseudo-terminal whose
// other side the test types into and reads back.
struct Prompted {
  std::string answer;
  std::string prompt;
  std::string terminal;
};

// Everything the terminal shows until the child side is closed.
std::string Drain(int master) {
  std::string shown;
  char block[256];
  for (;;) {
    pollfd ready{master, POLLIN, 0};
    if (::poll(&ready, 1, 5000) <= 0) break;
    const ssize_t got = ::read(master, block, sizeof block);
    if (got <= 0) break;
    shown.append(block, static_cast<std::size_t>(got));
  }
  return shown;
}

Prompted AskThroughTerminal(const std::string& typed) {
  Prompted prompted;
  int master = -1;
  int slave = -1;
  if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
    ADD_FAILURE() << "no pseudo-terminal";
    return prompted;
  }
  int answer_pipe[2];
  EXPECT_EQ(::pipe(answer_pipe), 0);
  std::FILE* err = std::tmpfile();
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(master);
    ::close(answer_pipe[0]);
    ::dup2(slave, STDIN_FILENO);
    const std::sig_atomic_t interrupts = 0;
    const std::optional<std::string> answer =
        CanAskOnTerminal() ? AskPasswordOnTerminal("Password: ", err, &interrupts) : std::nullopt;
    const std::string sent = answer ? "=" + *answer : "none";
    (void)!::write(answer_pipe[1], sent.data(), sent.size());
    ::_exit(0);
  }
  ::close(slave);
  ::close(answer_pipe[1]);
  // Typed once the echo is off: a line typed before would be echoed by the terminal.
  for (int tries = 0; tries < 500; ++tries) {
    termios mode{};
    if (::tcgetattr(master, &mode) == 0 && (mode.c_lflag & ECHO) == 0) break;
    ::usleep(10000);
  }
  EXPECT_EQ(::write(master, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
  char block[256];
  for (ssize_t got; (got = ::read(answer_pipe[0], block, sizeof block)) > 0;) {
    prompted.answer.append(block, static_cast<std::size_t>(got));
  }
  ::waitpid(child, nullptr, 0);
  prompted.terminal = Drain(master);
  ::close(master);
  ::close(answer_pipe[0]);
  prompted.prompt = Slurp(err);
  return prompted;
}

TEST(AskPasswordOnTerminal, ReadsALineWithoutShowingIt) {
  const Prompted prompted = AskThroughTerminal("hunter2\n");
  EXPECT_EQ(prompted.answer, "=hunter2");
  EXPECT_EQ(prompted.prompt, "Password: \n");
  EXPECT_EQ(prompted.terminal.find("hunter2"), std::string::npos) << prompted.terminal;
}

TEST(AskPasswordOnTerminal, GivesNothingAtTheEndOfInput) {
  // Ctrl-D on an empty line ends the input.
  EXPECT_EQ(AskThroughTerminal("\x04").answer, "none");
}

}  // namespace
}  // namespace dialmend
