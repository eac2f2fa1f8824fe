#pragma once

#include <csignal>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "cli/run_command.h"

namespace dialmend {

// What a command printed and returned.
struct Outcome {
  int status;
  std::string out;
  std::string err;
};

// Reads a temporary file written by a command from its start, and closes it.
inline std::string Slurp(std::FILE* f) {
  std::rewind(f);
  std::string text;
  char block[4096];
  for (std::size_t n; (n = std::fread(block, 1, sizeof block, f)) > 0;) text.append(block, n);
  std::fclose(f);
  return text;
}

// dialmend-run given `words`, what it printed captured; `out` replaces its standard output when
// given. `interrupts` counts Ctrl-C presses as the program's signal handler would.
inline Outcome RunCaptured(const std::vector<std::string>& words, std::sig_atomic_t interrupts = 0,
                           std::FILE* out = std::tmpfile()) {
  const std::vector<std::string_view> args(words.begin(), words.end());
  std::FILE* err = std::tmpfile();
  const int status = RunCommand(args, out, err, &interrupts);
  return {status, Slurp(out), Slurp(err)};
}

}  // namespace dialmend
