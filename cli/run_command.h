#pragma once

#include <csignal>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "engine/number_options.h"
#include "platform/result.h"

namespace dialmend {

// What the command line of dialmend-run asks for.
struct RunArgs {
  std::string profile;  // empty: ~/.contacts
  std::string ca_file;  // empty: the system's certificates alone
  bool update = false;
  NumberOptions options;
  std::optional<std::string> log_file;  // empty: the default path on the desktop
  bool no_log = false;
  // The status line on standard error: --progress, --no-progress, else shown when standard
  // error is a terminal.
  std::optional<bool> progress;
  bool help = false;
  bool version = false;
  // --undo [RUN]: undo the update run named (empty: the profile's last).
  bool undo = false;
  std::string undo_run;
  bool runs = false;  // --runs: list the profile's recorded update runs
  // The record of the run to undo, as RunCommand found it.
  std::string undo_record;
};

// Parses dialmend-run's arguments (without the program name); fails with the usage error.
[[nodiscard]] Status ParseRunArgs(std::span<const std::string_view> args, RunArgs& out);

// The --help text.
[[nodiscard]] std::string RunUsage();

// The whole program behind main(). The log goes to `out` as it is written, with LF line ends
// (but for `--log` naming `out` itself: that is the log file, with its CR LF), messages and the
// status line to `err`. `interrupts` counts Ctrl-C presses and
// termination signals; the first aborts the run between contacts, and so does a failed write
// to `out`. Returns 0 done, 1 the profile could not be opened, `out` could not be written or
// something failed, 2 bad usage or a log file that cannot be created, 130 aborted.
[[nodiscard]] int RunCommand(std::span<const std::string_view> args, std::FILE* out, std::FILE* err,
                             const volatile std::sig_atomic_t* interrupts);

}  // namespace dialmend
