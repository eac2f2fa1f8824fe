#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "cli/convert_command.h"
#include "platform/program_start.h"
#include "platform/terminal.h"

int main(int argc, char** argv) {
  // Line ends are ours to handle: no CRLF translation behind our back.
  dialmend::UseBinaryMode(stdin);
  dialmend::UseBinaryMode(stdout);
  const std::vector<std::string> words = dialmend::Utf8Arguments(argc, argv);
  dialmend::UseUtf8ConsoleOutput();
  const std::vector<std::string_view> args(words.begin(), words.end());
  return dialmend::RunConvert(args, stdin, stdout, stderr);
}
