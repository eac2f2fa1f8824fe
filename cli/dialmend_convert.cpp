#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "cli/convert_command.h"
#include "cli/utf8_arguments.h"

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
  const std::vector<std::string> words = dialmend::Utf8Arguments(argc, argv);
  const std::vector<std::string_view> args(words.begin(), words.end());
  return dialmend::RunConvert(args, stdin, stdout, stderr);
}
