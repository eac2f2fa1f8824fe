#pragma once

#include <string>
#include <vector>

// What a program sets up as it starts, where the systems differ.

namespace dialmend {

// The program's arguments, without its name, as UTF-8. On Windows they are read from the wide
// command line, since argv holds them in the ANSI code page; a lone surrogate becomes U+FFFD.
[[nodiscard]] std::vector<std::string> Utf8Arguments(int argc, char** argv);

// For a console program: the console shows what it writes as UTF-8. On Windows this switches
// the console's output code page; elsewhere the terminal already reads UTF-8.
void UseUtf8ConsoleOutput();

}  // namespace dialmend
