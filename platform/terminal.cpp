#include "platform/terminal.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace dialmend {

bool IsTerminal(std::FILE* stream) {
#ifdef _WIN32
  return ::_isatty(::_fileno(stream)) != 0;
#else
  return ::isatty(::fileno(stream)) != 0;
#endif
}

std::optional<std::size_t> TerminalWidth(std::FILE* stream) {
#ifndef _WIN32
  winsize size{};
  if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
#else
  (void)stream;
#endif
  return std::nullopt;
}

bool NamesStreamFile(const std::string& path, std::FILE* stream) {
#ifdef _WIN32
  (void)path;
  (void)stream;
  return false;
#else
  struct stat named {};
  struct stat open {};
  return ::stat(path.c_str(), &named) == 0 && ::fstat(::fileno(stream), &open) == 0 &&
         named.st_dev == open.st_dev && named.st_ino == open.st_ino;
#endif
}

void UseBinaryMode(std::FILE* stream) {
#ifdef _WIN32
  ::_setmode(::_fileno(stream), _O_BINARY);
#else
  (void)stream;
#endif
}

#ifndef _WIN32

struct TerminalInput::Mode {
  termios mode{};
};

TerminalInput::TerminalInput() : m_saved(std::make_unique<Mode>()) {
  if (::tcgetattr(STDIN_FILENO, &m_saved->mode) != 0) m_saved.reset();
}

TerminalInput::~TerminalInput() {
  Restore();
}

bool TerminalInput::EchoOff() {
  if (!m_saved) return false;
  termios quiet = m_saved->mode;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  m_changed = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
  return m_changed;
}

void TerminalInput::Restore() {
  if (!m_changed) return;
  ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &m_saved->mode);
  m_changed = false;
}

std::optional<char> NextInputByte(const volatile std::sig_atomic_t* interrupts) {
  // poll, unlike a read restarted after the signal handler, returns on Ctrl-C, so an
  // interrupted prompt gives the terminal its echo back before anything else happens.
  while (*interrupts <= 0) {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    const int ready = ::poll(&input, 1, -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return std::nullopt;
    char c = 0;
    const ssize_t got = ::read(STDIN_FILENO, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return std::nullopt;
    return c;
  }
  return std::nullopt;
}

#endif

}  // namespace dialmend
