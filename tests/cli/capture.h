#pragma once

#include <cstdio>
#include <string>

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

}  // namespace dialmend
