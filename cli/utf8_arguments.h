#pragma once

#include <string>
#include <vector>

namespace dialmend {

// The program's arguments, without its name, as UTF-8. On Windows they are read from the wide
// command line, since argv holds them in the ANSI code page, and the console is switched to
// UTF-8 output.
[[nodiscard]] std::vector<std::string> Utf8Arguments(int argc, char** argv);

}  // namespace dialmend
