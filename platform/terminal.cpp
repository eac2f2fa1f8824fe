#include "platform/terminal.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
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

}  // namespace dialmend
