#pragma once

#include <cstdio>
#include <span>
#include <string>
#include <string_view>

#include "engine/number_options.h"
#include "platform/result.h"

namespace dialmend {

// What the command line of dialmend-convert asks for.
struct ConvertArgs {
  NumberOptions options;
  bool changes_only = false;
  bool help = false;
  bool version = false;
  bool self_check = false;  // print the format check's two texts instead of converting
};

// Parses dialmend-convert's arguments (without the program name). Returns the one-line
// usage error naming the option as a failure. --self-check with a number option or
// --changes is an error, since the check sets its own options.
[[nodiscard]] Status ParseConvertArgs(std::span<const std::string_view> args, ConvertArgs& out);

// The --help text.
[[nodiscard]] std::string ConvertUsage();

// Converts one number per input line to one output line, in order; a line longer than
// LineReader::kLongestWhole bytes is copied unchanged, never held whole. Fails, saying which,
// when reading or writing failed.
[[nodiscard]] Status ConvertStream(std::FILE* in, std::FILE* out, const NumberOptions& options,
                                   bool changes_only);

// The whole program behind main(): returns the exit status (0 done, 1 I/O failure, 2 usage).
// With --self-check it reads nothing and prints the format check's two texts from the
// start-up options, separated by an empty line.
[[nodiscard]] int RunConvert(std::span<const std::string_view> args, std::FILE* in, std::FILE* out,
                             std::FILE* err);

}  // namespace dialmend
