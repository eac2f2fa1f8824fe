#include <cstdio>
#include <string_view>
#include <vector>

#include "cli/convert_command.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
  // Line ends are ours to handle: no CRLF translation behind our back.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  return dialmend::RunConvert(args, stdin, stdout, stderr);
}
